#include "db/Database.h"

#include "db/DatabaseException.h"
#include "db/RowSet.h"

#include <sqlite3.h>

namespace velmora {

Database::~Database()
{
    close();
}

void Database::open(const char* path, int busyTimeoutMs)
{
    close();
    if (sqlite3_open(path, &m_handle) != SQLITE_OK)
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_handle);
    if (busyTimeoutMs > 0)
        sqlite3_busy_timeout(m_handle, busyTimeoutMs);
}

void Database::openReadOnly(const char* path, int busyTimeoutMs)
{
    close();
    if (sqlite3_open_v2(path, &m_handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_handle);
    if (busyTimeoutMs > 0)
        sqlite3_busy_timeout(m_handle, busyTimeoutMs);
}

void Database::close()
{
    if (m_handle != nullptr) {
        sqlite3_close(m_handle);
        m_handle = nullptr;
    }
}

void Database::execute(const char* sql)
{
    if (sqlite3_exec(m_handle, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_handle);
}

int Database::changes() const
{
    return sqlite3_changes(m_handle);
}

void Database::getTableNames(std::vector<std::string>& names)
{
    RowSet rows(*this, "SELECT name FROM sqlite_master WHERE type IN ('table','view') AND name NOT "
                       "LIKE 'sqlite_%' UNION ALL SELECT name FROM sqlite_temp_master WHERE type "
                       "IN ('table','view') ORDER BY 1;");
    while (rows.next()) {
        const char* name = rows.getText(0);
        names.emplace_back(name != nullptr ? name : "");
    }
}

} // namespace velmora
