#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class CopyBinary;
class CopyText;
class PgConnection;

/// One COPY ... FROM STDIN on a connection, in text or binary format: started by the
/// constructor, given up by the destructor unless end() ran (the statement
/// then fails and stores nothing). Used by the connection's thread.
class PgCopyIn {
public:
    /// Starts sql ("COPY table (columns) FROM STDIN"); throws StoreException.
    PgCopyIn(PgConnection& connection, const std::string& sql);
    PgCopyIn(const PgCopyIn&) = delete;
    PgCopyIn& operator=(const PgCopyIn&) = delete;
    ~PgCopyIn();

    /// Sends rows made by CopyText or (for a COPY in binary format, after
    /// its finish()) CopyBinary; throws StoreException.
    void write(const CopyText& rows);
    void write(const CopyBinary& rows);
    /// Ends the data; answers the rows stored. Throws StoreException when
    /// the server refuses any row (then none is stored).
    int64_t end();

private:
    PgConnection& m_connection;
    bool m_open = false;
};

} // namespace velmora
