#pragma once

#include "foundation/Exception.h"

#include <string>

struct sqlite3;

namespace velmora {

/// A failed call of the database layer. The error code and text are read from
/// the connection when the exception is made; the text is copied, because the
/// connection overwrites its own at the next call.
class DatabaseException : public Exception {
public:
    /// connection may be null (SQLite's out-of-memory case): code and text then
    /// come from SQLite's answer for a null connection.
    DatabaseException(const char* name, const char* file, int32_t line, const char* function,
                      sqlite3* connection);
    /// A failure found before any SQLite call, such as a read with no
    /// database open; errorCode is an SQLite result code.
    DatabaseException(const char* name, const char* file, int32_t line, const char* function,
                      int32_t errorCode, const char* text);
    /// The copy keeps a text of its own.
    DatabaseException(const DatabaseException& other);
    DatabaseException& operator=(const DatabaseException&) = delete;
    ~DatabaseException() override = default;

private:
    std::string m_text;
};

} // namespace velmora
