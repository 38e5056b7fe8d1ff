#include "foundation/socket/Socket.h"

#include <sys/socket.h>

namespace velmora {

void Socket::create() { setHandle(SocketApiWrapper::createStreamSocket(), true); }

bool Socket::connect(const char* host, int port)
{
    SocketApiWrapper::connect(getHandle(), host, port);
    return true;
}

bool Socket::connect(const SocketAddress& address)
{
    SocketApiWrapper::connect(getHandle(), address);
    return true;
}

bool Socket::connect(const InetSocketAddress& address)
{
    SocketApiWrapper::connect(getHandle(), address);
    return true;
}

int Socket::write(const void* data, size_t length)
{
    return static_cast<int>(::send(getHandle(), data, length, MSG_NOSIGNAL));
}

int Socket::read(void* buffer, size_t size) { return static_cast<int>(::recv(getHandle(), buffer, size, 0)); }

} // namespace velmora
