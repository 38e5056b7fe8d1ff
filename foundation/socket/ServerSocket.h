#pragma once

#include "foundation/socket/AbstractSocket.h"

namespace velmora {

class Socket;

/// A TCP listener.
class ServerSocket : public AbstractSocket {
public:
    /// Opens a TCP handle with address reuse on.
    void create() override;
    /// Binds to every local address and the port; throws SocketException.
    void bind(int port);
    /// Throws SocketException.
    void listen(int backlog);
    /// Accepts one connection into `into` (blocking mode); a failure leaves
    /// `into` with no handle, without exception.
    void accept(Socket& into);
};

} // namespace velmora
