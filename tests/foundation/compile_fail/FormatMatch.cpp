// Must compile: the counterpart of FormatMismatch.cpp with matching arguments.
#include "foundation/FormatableBuffer.h"
#include "foundation/Trace.h"

void matching()
{
    velmora::FormatableBuffer<64> buffer;
    buffer.format("%s", "text");
    buffer.append("%d", 42);
    velmora::trace("%u %s", 1u, "x");
    velmora::traceError("%f", 3.5);
}
