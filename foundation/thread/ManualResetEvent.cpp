#include "foundation/thread/ManualResetEvent.h"

#include <chrono>

namespace velmora {

void ManualResetEvent::set()
{
    // Notify under the lock: a waiter may destroy the event once it wakes.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    m_changed.notify_all();
}

void ManualResetEvent::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
}

void ManualResetEvent::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_signalled; });
}

bool ManualResetEvent::timedWait(int64_t milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (milliseconds <= 0)
        return m_signalled;
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_signalled; });
}

bool ManualResetEvent::isSet() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

} // namespace velmora
