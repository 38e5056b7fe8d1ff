#include "foundation/thread/LoopingThread.h"

#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

namespace velmora {

void LoopingThread::run()
{
    m_state.store(RUNNING);
    onStart();
    while (!m_stopRequested.load()) {
        {
            ScopedLock lock(m_lock);
            // A loop over wait(): a resume() and a stop() may both signal.
            if (m_state.load() == SUSPENDED) {
                trace("%s: Thread suspended.", getName());
                while (m_state.load() == SUSPENDED && !m_stopRequested.load())
                    m_resume.wait();
                trace("%s: Thread resumed.", getName());
                if (m_stopRequested.load())
                    break;
            }
        }
        step();
    }
    onStop();
    // Under the lock: a stop() that found the loop suspended sets it running
    // again, and must not do so after this.
    ScopedLock lock(m_lock);
    m_state.store(IDLE);
}

void LoopingThread::stop()
{
    m_stopRequested.store(true);
    ScopedLock lock(m_lock);
    if (m_state.load() == SUSPENDED) {
        m_resume.signal();
        m_state.store(RUNNING);
    }
}

void LoopingThread::suspend()
{
    ScopedLock lock(m_lock);
    if (m_state.load() == RUNNING)
        m_state.store(SUSPENDED);
}

void LoopingThread::resume()
{
    ScopedLock lock(m_lock);
    if (m_state.load() == SUSPENDED) {
        m_state.store(RUNNING);
        m_resume.signal();
    }
}

} // namespace velmora
