#include "foundation/thread/Thread.h"

#include "foundation/DefaultUncaughtExceptionHandler.h"
#include "foundation/Exception.h"
#include "foundation/StandardException.h"
#include "foundation/SystemException.h"
#include "foundation/Trace.h"
#include "foundation/UnknownException.h"
#include "foundation/thread/Mutex.h"
#include "foundation/thread/NullThread.h"
#include "foundation/thread/ScopedLock.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <map>
#include <thread>

namespace velmora {

namespace {

// The registry of running Threads by OS id, made on first use.
struct Registry {
    Mutex mutex;
    std::map<uint32_t, Thread*> threads;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

// Made at static initialisation so that no thread races to create them.
[[maybe_unused]] const bool g_staticsReady = (registry(), NullThread::getInstance(),
                                               DefaultUncaughtExceptionHandler::getProcessHandler(),
                                               true);

int launchDetached(void* (*entry)(void*), void* argument)
{
    pthread_t handle;
    const int error = pthread_create(&handle, nullptr, entry, argument);
    if (error == 0) {
        pthread_detach(handle);
    }
    return error;
}

std::atomic<Thread::Launcher> g_launcher{&launchDetached};

void unregister(uint32_t id)
{
    Registry& r = registry();
    ScopedLock lock(r.mutex);
    r.threads.erase(id);
}

} // namespace

void Thread::start()
{
    m_finished.reset();
    const int error = g_launcher.load()(&Thread::entry, this);
    if (error != 0) {
        // No body will ever set it: an owner's join() must not wait for one.
        m_finished.set();
        throw SystemException(VELMORA_THROW_SITE("SystemException"), error);
    }
}

void Thread::setLauncher(Launcher launcher)
{
    g_launcher.store(launcher != nullptr ? launcher : &launchDetached);
}

void Thread::join()
{
    // The event is set whenever no body runs, so this returns at once then.
    m_finished.wait();
}

void* Thread::entry(void* self)
{
    static_cast<Thread*>(self)->runGuarded();
    return nullptr;
}

IUncaughtExceptionHandler& Thread::handler()
{
    return m_handler != nullptr ? *m_handler : DefaultUncaughtExceptionHandler::getProcessHandler();
}

void Thread::runGuarded()
{
    const uint32_t id = currentOsThreadId();
    m_threadId.store(id);
    {
        Registry& r = registry();
        ScopedLock lock(r.mutex);
        r.threads[id] = this;
    }
    try {
        trace("Starting thread: \"%s\"(ID=%u)", getName(), id);
        run();
        trace("Finishing thread: \"%s\"(ID=%u)", getName(), id);
    } catch (const Exception& e) {
        traceException(e);
        handler().uncaughtException(*this, e);
    } catch (const std::exception& e) {
        const StandardException wrapped(e);
        handler().uncaughtException(*this, wrapped);
    } catch (...) {
        const UnknownException wrapped;
        handler().uncaughtException(*this, wrapped);
    }
    unregister(id);
    // Last touch of this object: once the event is set (join() returns,
    // isRunning() is false) the owner may destroy or restart it.
    m_finished.set();
}

Thread& Thread::currentThread()
{
    Registry& r = registry();
    ScopedLock lock(r.mutex);
    const auto it = r.threads.find(currentOsThreadId());
    return it != r.threads.end() ? *it->second : NullThread::getInstance();
}

void Thread::sleep(int64_t milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void Thread::yield()
{
    sched_yield();
}

uint32_t Thread::currentOsThreadId()
{
    return static_cast<uint32_t>(gettid());
}

} // namespace velmora
