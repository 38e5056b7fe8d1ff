#include "foundation/socket/AbstractSocket.h"

#include <sys/socket.h>

namespace velmora {

void AbstractSocket::close()
{
    if (m_handle == INVALID_SOCKET_HANDLE) {
        return;
    }
    SocketHandle handle = m_handle;
    // The handle is gone whatever close() reports: retrying could close a
    // descriptor another thread has been given meanwhile.
    m_handle = INVALID_SOCKET_HANDLE;
    m_blocking = true;
    SocketApiWrapper::closeSocket(handle);
}

void AbstractSocket::configureBlocking(bool blocking)
{
    SocketApiWrapper::configureBlocking(m_handle, blocking);
    m_blocking = blocking;
}

void AbstractSocket::setHandle(SocketHandle handle, bool blocking)
{
    m_handle = handle;
    m_blocking = blocking;
}

InetSocketAddress AbstractSocket::getLocalAddress() const
{
    InetSocketAddress address;
    SocketApiWrapper::getSocketName(m_handle, address);
    return address;
}

InetSocketAddress AbstractSocket::getPeerAddress() const
{
    InetSocketAddress address;
    SocketApiWrapper::getPeerName(m_handle, address);
    return address;
}

int AbstractSocket::shutdownOutput() { return ::shutdown(m_handle, SHUT_WR); }

void AbstractSocket::enableAddressReuse()
{
    int on = 1;
    (void)::setsockopt(m_handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

} // namespace velmora
