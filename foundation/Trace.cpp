#include "foundation/Trace.h"

#include "foundation/ClassicLocale.h"
#include "foundation/Exception.h"
#include "foundation/FormatableBuffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmora {

namespace {

bool readTraceSetting()
{
    const char* value = std::getenv("VELMORA_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void writeLine(const char* prefix, const char* fmt, va_list args)
{
    FormatableBuffer<2048> line;
    char body[2040];
    // The same numbers in every trace, whatever the user's locale.
    const ClassicLocale classic;
    std::vsnprintf(body, sizeof body, fmt, args);
    const size_t length = std::strlen(body);
    const bool hasNewline = length > 0 && body[length - 1] == '\n';
    line.format("%s%s%s", prefix, body, hasNewline ? "" : "\n");
    // One write per line so lines of different threads do not interleave.
    std::fputs(line.getText(), stderr);
}

} // namespace

bool isTraceEnabled()
{
    static const bool enabled = readTraceSetting();
    return enabled;
}

void trace(const char* fmt, ...)
{
    if (!isTraceEnabled())
        return;
    va_list args;
    va_start(args, fmt);
    writeLine("velmora: ", fmt, args);
    va_end(args);
}

void traceError(const char* fmt, ...)
{
    if (!isTraceEnabled())
        return;
    va_list args;
    va_start(args, fmt);
    writeLine("velmora: error: ", fmt, args);
    va_end(args);
}

void traceException(const Exception& e)
{
    if (!isTraceEnabled())
        return;
    FormatableBuffer<1024> text;
    e.toString(text);
    trace("%s", text.getText());
}

} // namespace velmora
