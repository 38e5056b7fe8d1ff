#include "foundation/socket/ServerSocket.h"

#include "foundation/socket/Socket.h"

#include <sys/socket.h>

namespace velmora {

void ServerSocket::create()
{
    setHandle(SocketApiWrapper::createStreamSocket(), true);
    enableAddressReuse();
}

void ServerSocket::bind(int port) { SocketApiWrapper::bind(getHandle(), port); }

void ServerSocket::listen(int backlog) { SocketApiWrapper::listen(getHandle(), backlog); }

void ServerSocket::accept(Socket& into)
{
    SocketHandle accepted = ::accept4(getHandle(), nullptr, nullptr, SOCK_CLOEXEC);
    into.setHandle(accepted < 0 ? INVALID_SOCKET_HANDLE : accepted, true);
}

} // namespace velmora
