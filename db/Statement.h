#pragma once

#include <cstdint>

struct sqlite3_stmt;

namespace velmora {

class Database;

/// One compiled write statement with bound parameters, on a Database that
/// must outlive it. Binds do not copy: the caller keeps bound texts and bytes
/// alive until execute() has returned. Used by one thread at a time, under
/// the lock that guards the Database.
class Statement {
public:
    /// Keeps database; runs prepare(sql) when sql is not null.
    explicit Statement(Database& database, const char* sql = nullptr);
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    /// Releases the previous statement, then compiles the first statement of
    /// sql; throws DatabaseException when it does not compile.
    void prepare(const char* sql);
    /// Binds by 1-based index; returns SQLite's result code.
    int bindInt(int index, int32_t value);
    int bindInt64(int index, int64_t value);
    int bindText(int index, const char* text);
    int bindBlob(int index, const void* data, int length);
    /// Binds by name (":value"); an unknown name gives SQLite's range error.
    int bindInt(const char* name, int32_t value);
    int bindText(const char* name, const char* text);
    int bindBlob(const char* name, const void* data, int length);
    /// Steps once; anything but completion (a returned row included)
    /// releases the statement and throws DatabaseException.
    void execute();
    /// Makes a statement that ran ready to run again, its bindings cleared.
    void reset();
    /// Releases the compiled statement; prepare may be called again.
    void finalize();
    bool isPrepared() const { return m_statement != nullptr; }

private:
    int indexOf(const char* name) const;

    Database& m_database;
    sqlite3_stmt* m_statement = nullptr;
};

} // namespace velmora
