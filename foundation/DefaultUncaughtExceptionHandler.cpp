#include "foundation/DefaultUncaughtExceptionHandler.h"

#include "foundation/Exception.h"
#include "foundation/Trace.h"
#include "foundation/thread/Thread.h"

namespace velmora {

void DefaultUncaughtExceptionHandler::uncaughtException(Thread& thread, const Exception& e)
{
    traceError("Exception in thread \"%s\"(ID=%u) %s: %s\tat %s(%s:%d)\n", thread.getName(),
               thread.getThreadId(), e.getName(), e.getMessage(), e.getFunction(), e.getFile(),
               e.getLine());
}

IUncaughtExceptionHandler& DefaultUncaughtExceptionHandler::getProcessHandler()
{
    static DefaultUncaughtExceptionHandler handler;
    return handler;
}

} // namespace velmora
