#pragma once

#include "foundation/SocketAddressException.h"

namespace velmora {

/// A failed host-name resolution: errorCode is the resolver's result and the
/// message its text (gai_strerror), in a buffer of this class's own.
class SocketAddressInfoException : public SocketAddressException {
public:
    SocketAddressInfoException(const char* name, const char* file, int32_t line,
                               const char* function, int32_t errorCode,
                               const char* text = nullptr);
    SocketAddressInfoException(const SocketAddressInfoException& other);
    SocketAddressInfoException& operator=(const SocketAddressInfoException&) = delete;

private:
    char m_infoText[TEXT_SIZE];
};

} // namespace velmora
