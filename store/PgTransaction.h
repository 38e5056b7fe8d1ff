#pragma once

namespace velmora {

class PgConnection;

/// One transaction on a connection: begun by the constructor, rolled back
/// by the destructor unless commit() ran. Used by the connection's thread.
class PgTransaction {
public:
    /// Runs begin ("BEGIN" or a variant such as "BEGIN ISOLATION LEVEL
    /// REPEATABLE READ READ ONLY"); throws StoreException.
    explicit PgTransaction(PgConnection& connection, const char* begin = "BEGIN");
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    /// Rolls back an uncommitted transaction; never throws (a lost link
    /// has rolled it back already).
    ~PgTransaction();

    /// COMMIT; throws StoreException. When the answer is lost with the
    /// link, whether the commit took is unknown: callers that must know
    /// make their writes recognisable (a batch number).
    void commit();

private:
    PgConnection& m_connection;
    bool m_open = false;
};

} // namespace velmora
