#include "foundation/SystemText.h"

#include <netdb.h>
#include <string.h>

#include <cstdio>

namespace velmora {

namespace {

// strerror_r has two signatures; these overloads pick the right one.
[[maybe_unused]] const char* pick(int result, const char* buffer)
{
    return result == 0 ? buffer : "";
}

[[maybe_unused]] const char* pick(const char* result, const char*)
{
    return result != nullptr ? result : "";
}

void copyOneLine(const char* text, char* buffer, size_t size)
{
    size_t n = 0;
    for (; text[n] != '\0' && n + 1 < size; ++n)
        buffer[n] = (text[n] == '\r' || text[n] == '\n') ? ' ' : text[n];
    buffer[n] = '\0';
}

} // namespace

void SystemText::errnoText(int code, char* buffer, size_t size)
{
    if (size == 0)
        return;
    char scratch[512];
    scratch[0] = '\0';
    const char* text = pick(strerror_r(code, scratch, sizeof scratch), scratch);
    copyOneLine(text, buffer, size);
}

void SystemText::resolverText(int code, char* buffer, size_t size)
{
    if (size == 0)
        return;
    const char* text = gai_strerror(code);
    copyOneLine(text != nullptr ? text : "", buffer, size);
}

} // namespace velmora
