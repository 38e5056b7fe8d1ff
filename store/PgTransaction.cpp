#include "store/PgTransaction.h"

#include "foundation/Trace.h"
#include "store/PgConnection.h"
#include "store/StoreException.h"

namespace velmora {

PgTransaction::PgTransaction(PgConnection& connection, const char* begin) : m_connection(connection)
{
    m_connection.execute(begin);
    m_open = true;
}

PgTransaction::~PgTransaction()
{
    if (!m_open || !m_connection.isOpen()) {
        return;
    }
    try {
        m_connection.execute("ROLLBACK");
    } catch (const StoreException& e) {
        traceException(e);
    }
}

void PgTransaction::commit()
{
    // Whatever COMMIT answers, the transaction is over: the server rolls
    // back one whose COMMIT fails.
    m_open = false;
    m_connection.execute("COMMIT");
}

} // namespace velmora
