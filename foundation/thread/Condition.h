#pragma once

#include "foundation/thread/ManualResetEvent.h"
#include "foundation/thread/Mutex.h"

#include <cstdint>

namespace velmora {

/// A condition bound to one Mutex, built on a manual-reset event: a signal
/// with nobody waiting is lost, one signal releases one waiter. Callers hold
/// the bound Mutex exactly once around wait, timedWait and signal.
class Condition {
public:
    explicit Condition(Mutex& mutex) : m_mutex(mutex) {}
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    /// Waits until signalled.
    void wait();
    /// Waits at most milliseconds; true when signalled. A limit of 0 returns
    /// false at once unless a signal is pending.
    bool timedWait(int64_t milliseconds);
    /// Releases one waiter; lost when nobody waits.
    void signal();

private:
    Mutex& m_mutex;
    ManualResetEvent m_event;
    int32_t m_waiters = 0;
    bool m_signalled = false;
};

} // namespace velmora
