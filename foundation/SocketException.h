#pragma once

#include "foundation/Exception.h"

namespace velmora {

/// A failed socket call. The message is the thrower's text, or else the
/// system's one-line text for the code, at most 255 characters kept inside
/// the object, so a copy is self-contained.
class SocketException : public Exception {
public:
    static constexpr int TEXT_SIZE = 256;

    SocketException(const char* name, const char* file, int32_t line, const char* function,
                    int32_t errorCode, const char* text = nullptr);
    SocketException(const SocketException& other);
    SocketException& operator=(const SocketException&) = delete;

private:
    char m_text[TEXT_SIZE];
};

} // namespace velmora
