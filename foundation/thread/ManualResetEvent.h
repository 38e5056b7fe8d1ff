#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace velmora {

/// An event that stays signalled until reset and releases every waiter
/// while signalled. Thread-safe.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled = false) : m_signalled(signalled) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    /// Waits until signalled.
    void wait();
    /// Waits at most milliseconds; true when signalled.
    bool timedWait(int64_t milliseconds);
    bool isSet() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled;
};

} // namespace velmora
