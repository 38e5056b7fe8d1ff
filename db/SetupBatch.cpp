#include "db/SetupBatch.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "foundation/Trace.h"

namespace velmora {

SetupBatch::SetupBatch(AbstractSetup& setup) : m_setup(setup), m_lock(setup.getLock()) {
    if (!m_setup.getDatabase().isOpen()) {
        return;
    }
    try {
        m_setup.getDatabase().begin();
        m_begun = true;
    } catch (const DatabaseException& e) {
        traceException(e);
    }
}

SetupBatch::~SetupBatch() {
    if (!m_begun) {
        return;
    }
    try {
        m_setup.getDatabase().commit();
    } catch (const DatabaseException& e) {
        traceException(e);
        // An open transaction would make every later write of the
        // connection fail.
        try {
            m_setup.getDatabase().execute("ROLLBACK;");
        } catch (const DatabaseException& rollback) {
            traceException(rollback);
        }
    }
}

} // namespace velmora
