// Must not compile: each call passes an argument that does not match its
// conversion. Checked by the FormatAttribute test in tests/foundation.
#include "foundation/FormatableBuffer.h"
#include "foundation/Trace.h"

void mismatched()
{
    velmora::FormatableBuffer<64> buffer;
#if VELMORA_CASE == 1
    buffer.format("%s", 42);
#elif VELMORA_CASE == 2
    buffer.append("%d", "text");
#elif VELMORA_CASE == 3
    velmora::trace("%u %s", 1u);
#else
    velmora::traceError("%s", 3.5);
#endif
}
