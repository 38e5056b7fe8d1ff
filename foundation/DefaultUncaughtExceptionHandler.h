#pragma once

#include "foundation/IUncaughtExceptionHandler.h"

namespace velmora {

/// The process-wide handler: writes one error line to the trace and nothing
/// else. Keeps no state, so threads may call it at the same time.
class DefaultUncaughtExceptionHandler : public IUncaughtExceptionHandler {
public:
    void uncaughtException(Thread& thread, const Exception& e) override;

    /// The one handler every thread uses.
    static IUncaughtExceptionHandler& getProcessHandler();
};

} // namespace velmora
