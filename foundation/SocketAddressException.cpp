#include "foundation/SocketAddressException.h"

#include "foundation/SystemText.h"

#include <cstring>

namespace velmora {

SocketAddressException::SocketAddressException(const char* name, const char* file, int32_t line,
                                               const char* function, int32_t errorCode,
                                               const char* text)
    : Exception(name, file, line, function, errorCode, "")
{
    if (text != nullptr) {
        std::strncpy(m_text, text, sizeof m_text - 1);
        m_text[sizeof m_text - 1] = '\0';
    } else {
        SystemText::errnoText(errorCode, m_text, sizeof m_text);
    }
    setMessage(m_text);
}

SocketAddressException::SocketAddressException(const SocketAddressException& other)
    : Exception(other)
{
    std::memcpy(m_text, other.m_text, sizeof m_text);
    setMessage(m_text);
}

} // namespace velmora
