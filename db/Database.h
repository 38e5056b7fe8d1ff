#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace velmora {

/// One SQLite connection. Takes no lock: the owner serialises every use of
/// one connection, and of the cursors and statements made on it, under its
/// own lock. Failures throw DatabaseException with the connection's code and
/// text.
class Database {
public:
    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    virtual ~Database();

    /// Closes an open connection, then opens (creating when missing) the file
    /// at path, which is UTF-8 and used whole, never cut. A busy time-out
    /// above 0 makes a locked database be retried for that many ms. Throws
    /// DatabaseException; the handle SQLite returned for the failure is kept
    /// until the next open, close or the destructor.
    void open(const char* path, int busyTimeoutMs);
    /// The same for an existing file, read only: nothing of it is ever
    /// written (another program may be using it).
    void openReadOnly(const char* path, int busyTimeoutMs);
    /// Closes the connection if one is open; SQLite's answer is ignored.
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    /// Runs every statement of sql in turn; throws DatabaseException on the
    /// first failure.
    void execute(const char* sql);
    /// Rows changed by the most recent INSERT, UPDATE or DELETE.
    int changes() const;
    /// Appends the name of every table and view (temporary ones included,
    /// SQLite's internal ones never) in name order. Throws as RowSet does.
    void getTableNames(std::vector<std::string>& names);
    sqlite3* getHandle() const { return m_handle; }

private:
    sqlite3* m_handle = nullptr;
};

} // namespace velmora
