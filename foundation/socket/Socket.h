#pragma once

#include "foundation/socket/AbstractSocket.h"
#include "foundation/socket/SocketAddress.h"

#include <cstddef>

namespace velmora {

/// A TCP stream socket.
class Socket : public AbstractSocket {
public:
    /// Opens a TCP handle (none, without exception, when the OS refuses).
    void create() override;
    /// Connects; returns true, failures throw SocketException.
    bool connect(const char* host, int port);
    bool connect(const SocketAddress& address);
    bool connect(const InetSocketAddress& address);
    /// Plain send; the OS result (-1 on failure), no exception.
    int write(const void* data, size_t length);
    /// Plain recv; the OS result (-1 on failure, 0 at end), no exception.
    int read(void* buffer, size_t size);
};

} // namespace velmora
