#pragma once

namespace velmora {

class Exception;
class Thread;

/// Receives failures that escaped a thread body.
class IUncaughtExceptionHandler {
public:
    virtual ~IUncaughtExceptionHandler() = default;
    /// Called on the failing thread; must not throw.
    virtual void uncaughtException(Thread& thread, const Exception& e) = 0;
};

} // namespace velmora
