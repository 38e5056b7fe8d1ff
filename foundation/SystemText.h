#pragma once

#include <cstddef>

namespace velmora {

/// The operating system's texts for error codes.
class SystemText {
public:
    /// Copies the text of an errno value into buffer (at most size - 1
    /// characters, always terminated); empty when the system has none.
    static void errnoText(int code, char* buffer, size_t size);
    /// Copies the resolver's text of a getaddrinfo result into buffer.
    static void resolverText(int code, char* buffer, size_t size);
};

} // namespace velmora
