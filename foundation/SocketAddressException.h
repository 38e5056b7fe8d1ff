#pragma once

#include "foundation/Exception.h"

namespace velmora {

/// Base of the address failures; a message kept inside the object like
/// SocketException's. Never thrown by itself.
class SocketAddressException : public Exception {
public:
    static constexpr int TEXT_SIZE = 256;

    SocketAddressException(const char* name, const char* file, int32_t line, const char* function,
                           int32_t errorCode, const char* text = nullptr);
    SocketAddressException(const SocketAddressException& other);
    SocketAddressException& operator=(const SocketAddressException&) = delete;

private:
    char m_text[TEXT_SIZE];
};

} // namespace velmora
