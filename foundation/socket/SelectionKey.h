#pragma once

#include <cstdint>

namespace velmora {

class AbstractSocket;

/// One registration of a socket with a Selector, and the copy of it that
/// select() hands back with the ready flags.
struct SelectionKey {
    /// Watch for readability; reported as READ.
    static constexpr uint32_t READ = 1;
    /// Watch for writability; reported as WRITE.
    static constexpr uint32_t WRITE = 2;
    /// Watch for readability; reported when READ is not in the interest.
    static constexpr uint32_t ACCEPT = 4;
    /// Watch for writability; reported when WRITE is not in the interest.
    static constexpr uint32_t CONNECT = 8;

    AbstractSocket* socket = nullptr;
    uint32_t interestOps = 0;
    uint32_t readyOps = 0;
    void* attachment = nullptr;
};

} // namespace velmora
