#pragma once

#include "foundation/thread/IRunnable.h"
#include "foundation/thread/ManualResetEvent.h"

#include <atomic>
#include <cstdint>

namespace velmora {

class IUncaughtExceptionHandler;

/// A named body on an OS thread of its own. The thread registers itself so
/// currentThread() finds it, hands every failure escaping run() to the
/// uncaught-exception handler and signals when the body has returned. May be
/// started again once finished. Owners make the body return, then join().
/// Signalling the end is the ending thread's last touch of the object, so an
/// owner that has seen join() return or isRunning() false may destroy or
/// restart it at once.
class Thread : public IRunnable {
public:
    explicit Thread(const char* name = nullptr) : m_name(name) {}
    ~Thread() override = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    /// Does nothing unless overridden.
    void run() override {}

    /// Starts the body on a new OS thread; throws SystemException with the
    /// thread library's error number when the OS refuses (nothing then runs
    /// and join() returns at once).
    void start();
    /// Waits until the body has returned; at once when no body runs.
    void join();
    /// Whether a body is running (or its thread has not yet signalled its end).
    bool isRunning() const { return !m_finished.isSet(); }

    /// The name, "" when the thread has none.
    const char* getName() const { return m_name != nullptr ? m_name : ""; }
    /// The OS id (gettid) of the thread running the body; 0 before the first start.
    uint32_t getThreadId() const { return m_threadId.load(); }

    /// Replaces the process handler for this thread's failures (tests and
    /// owners that want to see them); nullptr restores the process handler.
    void setUncaughtExceptionHandler(IUncaughtExceptionHandler* handler) { m_handler = handler; }

    /// The Thread of the calling OS thread, the NullThread when it has none.
    static Thread& currentThread();
    static void sleep(int64_t milliseconds);
    static void yield();
    /// The calling OS thread's id.
    static uint32_t currentOsThreadId();

    /// The step of start() that asks the OS for a detached thread running
    /// entry(argument); returns 0 or the thread library's error number.
    using Launcher = int (*)(void* (*entry)(void*), void* argument);
    /// Replaces that step for every later start() (so that a refused creation
    /// can be exercised); nullptr restores the OS call.
    static void setLauncher(Launcher launcher);

private:
    static void* entry(void* self);
    void runGuarded();
    IUncaughtExceptionHandler& handler();

    /// Set whenever no body runs: made set, reset by start(), set again by a
    /// refused start or by the thread as its very last step.
    ManualResetEvent m_finished{true};
    std::atomic<uint32_t> m_threadId{0};
    const char* m_name;
    IUncaughtExceptionHandler* m_handler = nullptr;
};

} // namespace velmora
