#include "foundation/SocketException.h"

#include "foundation/SystemText.h"

#include <cstring>

namespace velmora {

namespace {

void fill(char* buffer, size_t size, int32_t code, const char* text)
{
    if (text != nullptr) {
        std::strncpy(buffer, text, size - 1);
        buffer[size - 1] = '\0';
    } else {
        SystemText::errnoText(code, buffer, size);
    }
}

} // namespace

SocketException::SocketException(const char* name, const char* file, int32_t line,
                                 const char* function, int32_t errorCode, const char* text)
    : Exception(name, file, line, function, errorCode, "")
{
    fill(m_text, sizeof m_text, errorCode, text);
    setMessage(m_text);
}

SocketException::SocketException(const SocketException& other) : Exception(other)
{
    std::memcpy(m_text, other.m_text, sizeof m_text);
    setMessage(m_text);
}

} // namespace velmora
