#pragma once

#include <cstdint>

struct sqlite3_stmt;

namespace velmora {

class Database;

/// A cursor over the rows of one query on a Database, which must outlive it.
/// Columns count from 0. Used by one thread at a time, under the lock that
/// guards the Database.
class RowSet {
public:
    /// Keeps database; runs query(sql) when sql is not null.
    explicit RowSet(Database& database, const char* sql = nullptr);
    RowSet(const RowSet&) = delete;
    RowSet& operator=(const RowSet&) = delete;
    ~RowSet();

    /// Releases the previous statement, then compiles the first statement of
    /// sql; throws DatabaseException when it does not compile.
    void query(const char* sql);
    /// Steps once: true at a row, false when done. Any failure releases the
    /// statement and throws DatabaseException with the specific error.
    bool next();
    int32_t getInt(int column) const;
    int64_t getInt64(int column) const;
    /// UTF-8 text owned by the statement, valid until the next step; null
    /// for a NULL column.
    const char* getText(int column) const;
    const void* getBlob(int column) const;
    int getBytes(int column) const;
    int getColumnCount() const;
    const char* getColumnName(int column) const;
    /// Releases the compiled statement if any.
    void close();

private:
    Database& m_database;
    sqlite3_stmt* m_statement = nullptr;
};

} // namespace velmora
