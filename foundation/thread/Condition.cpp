#include "foundation/thread/Condition.h"

#include <chrono>

namespace velmora {

namespace {
int64_t tickCount()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

void Condition::wait()
{
    ++m_waiters;
    do {
        m_mutex.unlock();
        m_event.wait();
        m_mutex.lock();
    } while (!m_signalled);
    m_event.reset();
    --m_waiters;
    m_signalled = false;
}

bool Condition::timedWait(int64_t milliseconds)
{
    bool result = false;
    ++m_waiters;
    do {
        const int64_t start = tickCount();
        m_mutex.unlock();
        m_event.timedWait(milliseconds);
        m_mutex.lock();
        if (m_signalled) {
            m_event.reset();
            m_signalled = false;
            result = true;
            break;
        }
        milliseconds -= tickCount() - start;
    } while (milliseconds > 0);
    --m_waiters;
    return result;
}

void Condition::signal()
{
    m_event.set();
    if (m_waiters > 0)
        m_signalled = true;
    else
        m_event.reset();
}

} // namespace velmora
