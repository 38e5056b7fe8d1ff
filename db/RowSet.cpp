#include "db/RowSet.h"

#include "db/Database.h"
#include "db/DatabaseException.h"

#include <sqlite3.h>

#include <cstring>

namespace velmora {

RowSet::RowSet(Database& database, const char* sql) : m_database(database)
{
    if (sql != nullptr)
        query(sql);
}

RowSet::~RowSet()
{
    close();
}

void RowSet::query(const char* sql)
{
    close();
    // prepare_v2 recompiles by itself when the schema changed under the
    // statement and makes sqlite3_step report the specific error.
    if (sqlite3_prepare_v2(m_database.getHandle(), sql, static_cast<int>(std::strlen(sql)),
                           &m_statement, nullptr) != SQLITE_OK) {
        close();
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_database.getHandle());
    }
}

bool RowSet::next()
{
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE)
        return false;
    // Release first: the release leaves the specific error on the connection.
    close();
    throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_database.getHandle());
}

int32_t RowSet::getInt(int column) const
{
    return sqlite3_column_int(m_statement, column);
}

int64_t RowSet::getInt64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

const char* RowSet::getText(int column) const
{
    return reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
}

const void* RowSet::getBlob(int column) const
{
    return sqlite3_column_blob(m_statement, column);
}

int RowSet::getBytes(int column) const
{
    return sqlite3_column_bytes(m_statement, column);
}

int RowSet::getColumnCount() const
{
    return sqlite3_column_count(m_statement);
}

const char* RowSet::getColumnName(int column) const
{
    return sqlite3_column_name(m_statement, column);
}

void RowSet::close()
{
    if (m_statement != nullptr) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

} // namespace velmora
