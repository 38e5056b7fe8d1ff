#pragma once

#include "foundation/thread/Thread.h"

namespace velmora {

/// Stands for every OS thread not started through Thread (the window thread
/// among them). Never started.
class NullThread : public Thread {
public:
    NullThread() : Thread("Null") {}
    void run() override {}

    /// The one process-wide instance.
    static NullThread& getInstance();
};

} // namespace velmora
