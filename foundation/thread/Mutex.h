#pragma once

#include <mutex>

namespace velmora {

/// A recursive mutex: the owning thread may lock it again and must unlock it
/// as often.
class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

} // namespace velmora
