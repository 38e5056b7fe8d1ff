#pragma once

#include "foundation/thread/Condition.h"
#include "foundation/thread/Mutex.h"
#include "foundation/thread/Thread.h"

#include <atomic>

namespace velmora {

/// A thread that calls step() until stop() is requested, with hooks before
/// and after the loop. The owner clears the stop request (clearStop) before
/// each start(). stop() may be called from any thread.
class LoopingThread : public Thread {
public:
    enum State { IDLE = 0, RUNNING = 1, SUSPENDED = 2 };

    explicit LoopingThread(const char* name = nullptr) : Thread(name), m_resume(m_lock) {}

    /// onStart, then step() until a stop is requested, then onStop.
    void run() override;
    /// Requests the loop to end after the current step; wakes a suspended loop.
    virtual void stop();
    /// Makes the loop wait before its next step until resume() or stop().
    void suspend();
    /// Lets a suspended loop go on.
    void resume();

    bool isStopRequested() const { return m_stopRequested.load(); }
    void clearStop() { m_stopRequested.store(false); }
    int getState() const { return m_state.load(); }

protected:
    virtual void onStart() {}
    virtual void step() {}
    virtual void onStop() {}

private:
    std::atomic<bool> m_stopRequested{false};
    std::atomic<int> m_state{IDLE};
    Mutex m_lock;
    Condition m_resume;
};

} // namespace velmora
