#include "foundation/SocketAddressInfoException.h"

#include "foundation/SystemText.h"

#include <cstring>

namespace velmora {

SocketAddressInfoException::SocketAddressInfoException(const char* name, const char* file,
                                                       int32_t line, const char* function,
                                                       int32_t errorCode, const char* text)
    : SocketAddressException(name, file, line, function, errorCode, text)
{
    if (text != nullptr) {
        std::strncpy(m_infoText, text, sizeof m_infoText - 1);
        m_infoText[sizeof m_infoText - 1] = '\0';
    } else {
        SystemText::resolverText(errorCode, m_infoText, sizeof m_infoText);
    }
    setMessage(m_infoText);
}

SocketAddressInfoException::SocketAddressInfoException(const SocketAddressInfoException& other)
    : SocketAddressException(other)
{
    std::memcpy(m_infoText, other.m_infoText, sizeof m_infoText);
    setMessage(m_infoText);
}

} // namespace velmora
