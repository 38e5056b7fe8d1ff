#include "tests/support/ReturnsWithin.h"
#include "foundation/IUncaughtExceptionHandler.h"
#include "foundation/StandardException.h"
#include "foundation/SystemException.h"
#include "foundation/thread/Condition.h"
#include "foundation/thread/LoopingThread.h"
#include "foundation/thread/Mutex.h"
#include "foundation/thread/ScopedLock.h"
#include "foundation/thread/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

class RecordingHandler : public IUncaughtExceptionHandler {
public:
    void uncaughtException(Thread& thread, const Exception& e) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++calls;
        threadName = thread.getName();
        name = e.getName();
        message = e.getMessage();
        file = e.getFile();
        line = e.getLine();
    }
    std::mutex m_mutex;
    int calls = 0;
    std::string threadName, name, message, file;
    int line = -1;
};

class FunctionThread : public Thread {
public:
    FunctionThread(const char* name, std::function<void()> body)
        : Thread(name), m_body(std::move(body))
    {
    }
    void run() override { m_body(); }

private:
    std::function<void()> m_body;
};

using velmora::testing::returnsWithin;

int refuseThread(void* (*)(void*), void*) { return EAGAIN; }

/// Makes the OS refuse every thread while it lives.
struct RefusedThreads {
    RefusedThreads() { Thread::setLauncher(&refuseThread); }
    ~RefusedThreads() { Thread::setLauncher(nullptr); }
};

} // namespace

TEST(ThreadTest, StartJoinAndCurrentThread)
{
    Thread* seen = nullptr;
    uint32_t seenId = 0;
    FunctionThread thread("worker", [&] {
        seen = &Thread::currentThread();
        seenId = Thread::currentOsThreadId();
    });
    thread.join(); // never started: returns at once
    thread.start();
    thread.join();
    EXPECT_EQ(seen, &thread);
    EXPECT_EQ(thread.getThreadId(), seenId);
    EXPECT_NE(seenId, Thread::currentOsThreadId());
    thread.join(); // finished: returns at once

    thread.start(); // may run again
    thread.join();
    EXPECT_EQ(seen, &thread);
}

TEST(ThreadTest, ForeignThreadIsTheNullThread)
{
    EXPECT_STREQ(Thread::currentThread().getName(), "Null");
    std::string name;
    std::thread foreign([&] { name = Thread::currentThread().getName(); });
    foreign.join();
    EXPECT_EQ(name, "Null");
    EXPECT_STREQ(Thread().getName(), "");
}

TEST(ThreadTest, EveryKindOfFailureReachesTheHandlerAndTheThreadEnds)
{
    struct Row {
        const char* what;
        std::function<void()> body;
        const char* name;
        const char* message;
        const char* file;
    };
    const Row rows[] = {
        {"Exception", [] { throw SystemException(VELMORA_THROW_SITE("SystemException"), EPERM); },
         "SystemException", nullptr, nullptr},
        {"std::exception", [] { throw std::bad_alloc(); }, "StandardException",
         std::bad_alloc().what(), "unknown_file"},
        {"anything", [] { throw 42; }, "UnknownException", "unknown_message", "unknown_file"},
    };
    for (const Row& row : rows) {
        RecordingHandler handler;
        FunctionThread thread("failing", row.body);
        thread.setUncaughtExceptionHandler(&handler);
        thread.start();
        thread.join();
        EXPECT_FALSE(thread.isRunning()) << row.what;
        EXPECT_EQ(handler.calls, 1) << row.what;
        EXPECT_EQ(handler.threadName, "failing") << row.what;
        EXPECT_EQ(handler.name, row.name) << row.what;
        if (row.message != nullptr) {
            EXPECT_EQ(handler.message, row.message) << row.what;
        }
        if (row.file != nullptr) {
            EXPECT_EQ(handler.file, row.file) << row.what;
            EXPECT_EQ(handler.line, 0) << row.what;
        }
    }
}

TEST(ThreadTest, RefusedStartLeavesNothingToWaitFor)
{
    std::atomic<int> bodies{0};
    // Left alive on failure: a join that never returns still uses it.
    auto* thread = new FunctionThread("refused", [&] { ++bodies; });
    {
        RefusedThreads refused;
        try {
            thread->start();
            FAIL() << "start succeeded although the OS refused the thread";
        } catch (const SystemException& e) {
            EXPECT_EQ(e.getErrorCode(), EAGAIN);
        }
    }
    EXPECT_FALSE(thread->isRunning());
    ASSERT_TRUE(returnsWithin(std::chrono::seconds(2), [thread] { thread->join(); }))
        << "join() waits for a body that never started";

    // The same object starts normally once the OS agrees.
    thread->start();
    thread->join();
    EXPECT_EQ(bodies.load(), 1);
    delete thread;
}

TEST(ThreadTest, OwnerMayDestroyTheObjectOnceItSeesTheBodyEnded)
{
    // An owner that polls isRunning() and deletes at once must not free what
    // the ending thread still touches (the sanitizer builds see it).
    for (int round = 0; round < 50; ++round) {
        auto* thread = new FunctionThread("short", [] {});
        thread->start();
        while (thread->isRunning()) {
            Thread::yield();
        }
        delete thread;
    }
    // Restarting at once instead: the new body's end is what join() waits for.
    std::atomic<bool> release{false};
    std::atomic<int> ended{0};
    FunctionThread thread("again", [&] {
        while (!release.load()) {
            Thread::yield();
        }
        ++ended;
    });
    for (int round = 0; round < 20; ++round) {
        release.store(true);
        thread.start();
        while (thread.isRunning()) {
            Thread::yield();
        }
        release.store(false);
        thread.start();
        Thread::sleep(1);
        EXPECT_TRUE(thread.isRunning()) << round;
        release.store(true);
        thread.join();
        EXPECT_EQ(ended.load(), 2 * (round + 1)) << round;
    }
}

TEST(LoopingThreadTest, StepsUntilStoppedWithHooks)
{
    class Counter : public LoopingThread {
    public:
        Counter() : LoopingThread("counter") {}
        std::atomic<int> steps{0}, starts{0}, stops{0};

    protected:
        void onStart() override { ++starts; }
        void step() override
        {
            ++steps;
            Thread::sleep(1);
        }
        void onStop() override { ++stops; }
    };
    Counter counter;
    counter.start();
    while (counter.steps.load() < 3)
        Thread::yield();
    counter.stop();
    counter.join();
    EXPECT_EQ(counter.starts.load(), 1);
    EXPECT_EQ(counter.stops.load(), 1);
    EXPECT_EQ(counter.getState(), LoopingThread::IDLE);

    // A stop requested before start ends the loop before its first step.
    const int before = counter.steps.load();
    counter.start();
    counter.join();
    EXPECT_EQ(counter.steps.load(), before);
    EXPECT_EQ(counter.stops.load(), 2);

    counter.clearStop();
    counter.start();
    while (counter.steps.load() < before + 2)
        Thread::yield();
    counter.suspend();
    counter.stop(); // wakes the suspended loop
    counter.join();
    EXPECT_EQ(counter.getState(), LoopingThread::IDLE);
}

TEST(ConditionTest, SignalWithNoWaiterIsLost)
{
    Mutex mutex;
    Condition condition(mutex);
    ScopedLock lock(mutex);
    condition.signal();
    EXPECT_FALSE(condition.timedWait(0));
    EXPECT_FALSE(condition.timedWait(20));
}

TEST(ConditionTest, OneSignalReleasesOneWaiter)
{
    Mutex mutex;
    Condition condition(mutex);
    std::atomic<int> waiting{0};
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            ScopedLock lock(mutex);
            ++waiting;
            if (condition.timedWait(400))
                ++released;
        });
    }
    while (waiting.load() < 2)
        Thread::yield();
    {
        ScopedLock lock(mutex); // both waiters are inside timedWait now
        condition.signal();
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(ConditionTest, WaitReturnsAfterSignal)
{
    Mutex mutex;
    Condition condition(mutex);
    bool ready = false;
    std::thread waiter([&] {
        ScopedLock lock(mutex);
        while (!ready)
            condition.wait();
    });
    Thread::sleep(20);
    {
        // Whether or not the waiter is inside wait() yet, it sees ready.
        ScopedLock lock(mutex);
        ready = true;
        condition.signal();
    }
    waiter.join();
    EXPECT_TRUE(ready);
}
