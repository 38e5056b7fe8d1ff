#include "db/DatabaseException.h"

#include <sqlite3.h>

namespace velmora {

DatabaseException::DatabaseException(const char* name, const char* file, int32_t line,
                                     const char* function, sqlite3* connection)
    : Exception(name, file, line, function, sqlite3_errcode(connection), ""),
      m_text(sqlite3_errmsg(connection))
{
    setMessage(m_text.c_str());
}

DatabaseException::DatabaseException(const char* name, const char* file, int32_t line,
                                     const char* function, int32_t errorCode, const char* text)
    : Exception(name, file, line, function, errorCode, ""), m_text(text != nullptr ? text : "")
{
    setMessage(m_text.c_str());
}

DatabaseException::DatabaseException(const DatabaseException& other)
    : Exception(other), m_text(other.m_text)
{
    setMessage(m_text.c_str());
}

} // namespace velmora
