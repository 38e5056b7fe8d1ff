#include "app/shell/StopDrain.h"

#include "app/system/IntakeDrain.h"
#include "foundation/Trace.h"

#include <QEventLoop>
#include <QTimer>

namespace velmora {

bool StopDrain::run(int port) {
    m_arrived = false;
    if (!m_drain.send(port)) {
        trace("StopDrain: the intake marker could not be sent");
        return false;
    }
    QEventLoop loop;
    m_loop = &loop;
    QTimer resend;
    QObject::connect(&resend, &QTimer::timeout, [this, port] { m_drain.send(port); });
    resend.start(RESEND_MS);
    QTimer::singleShot(TIMEOUT_MS, &loop, &QEventLoop::quit);
    if (!m_arrived) {
        loop.exec();
    }
    m_loop = nullptr;
    if (!m_arrived) {
        trace("StopDrain: the intake did not drain within %d ms", TIMEOUT_MS);
    }
    return m_arrived;
}

void StopDrain::markerArrived() {
    m_arrived = true;
    if (m_loop != nullptr) {
        m_loop->quit();
    }
}

} // namespace velmora
