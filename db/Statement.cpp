#include "db/Statement.h"

#include "db/Database.h"
#include "db/DatabaseException.h"

#include <sqlite3.h>

#include <cstring>

namespace velmora {

Statement::Statement(Database& database, const char* sql) : m_database(database)
{
    if (sql != nullptr)
        prepare(sql);
}

Statement::~Statement()
{
    finalize();
}

void Statement::prepare(const char* sql)
{
    finalize();
    if (sqlite3_prepare_v2(m_database.getHandle(), sql, static_cast<int>(std::strlen(sql)),
                           &m_statement, nullptr) != SQLITE_OK) {
        finalize();
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_database.getHandle());
    }
}

int Statement::bindInt(int index, int32_t value)
{
    return sqlite3_bind_int(m_statement, index, value);
}

int Statement::bindInt64(int index, int64_t value)
{
    return sqlite3_bind_int64(m_statement, index, value);
}

int Statement::bindText(int index, const char* text)
{
    return sqlite3_bind_text(m_statement, index, text, static_cast<int>(std::strlen(text)),
                             SQLITE_STATIC);
}

int Statement::bindBlob(int index, const void* data, int length)
{
    return sqlite3_bind_blob(m_statement, index, data, length, SQLITE_STATIC);
}

int Statement::indexOf(const char* name) const
{
    return sqlite3_bind_parameter_index(m_statement, name);
}

int Statement::bindInt(const char* name, int32_t value)
{
    return bindInt(indexOf(name), value);
}

int Statement::bindText(const char* name, const char* text)
{
    return bindText(indexOf(name), text);
}

int Statement::bindBlob(const char* name, const void* data, int length)
{
    return bindBlob(indexOf(name), data, length);
}

void Statement::execute()
{
    if (sqlite3_step(m_statement) == SQLITE_DONE)
        return;
    finalize();
    throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), m_database.getHandle());
}

void Statement::reset()
{
    if (m_statement != nullptr) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

void Statement::finalize()
{
    if (m_statement != nullptr) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

} // namespace velmora
