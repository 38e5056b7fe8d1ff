#pragma once

namespace velmora {

class Exception;

/// The diagnostic trace. Lines are discarded unless the environment variable
/// VELMORA_TRACE is 1, in which case each line goes to standard error. The
/// check is made once, so a discarded line costs one branch.
void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
/// Traces one exception as its toString text.
void traceException(const Exception& e);
/// Traces an error line; used by the default uncaught-exception handler.
void traceError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
/// Whether trace lines are written (VELMORA_TRACE=1 at the first call).
bool isTraceEnabled();

} // namespace velmora
