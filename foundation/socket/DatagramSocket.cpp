#include "foundation/socket/DatagramSocket.h"

#include "foundation/SocketException.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace velmora {

void DatagramSocket::create()
{
    // No SO_REUSEADDR: on this system it lets a second UDP socket bind a port
    // that is already held (both then share its datagrams), and lets the OS
    // hand such a held port to a socket bound to port 0. A datagram port has
    // no TIME_WAIT, so a restart on the same port needs no reuse either.
    setHandle(SocketApiWrapper::createDatagramSocket(), true);
}

void DatagramSocket::bind(int port) { SocketApiWrapper::bind(getHandle(), port); }

int DatagramSocket::setReceiveBufferSize(int bytes)
{
    if (::setsockopt(getHandle(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0 &&
        ::setsockopt(getHandle(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) {
        throw SocketException(VELMORA_THROW_SITE("SocketException"), errno);
    }
    return getReceiveBufferSize();
}

int DatagramSocket::getReceiveBufferSize() const
{
    int bytes = 0;
    socklen_t length = sizeof bytes;
    if (::getsockopt(getHandle(), SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0) {
        throw SocketException(VELMORA_THROW_SITE("SocketException"), errno);
    }
    return bytes;
}

int DatagramSocket::send(const void* data, size_t length) { return SocketApiWrapper::send(getHandle(), data, length); }

int DatagramSocket::receive(void* buffer, size_t size) { return SocketApiWrapper::recvDatagram(getHandle(), buffer, size); }

int DatagramSocket::sendTo(const void* data, size_t length, const SocketAddress& address)
{
    return SocketApiWrapper::sendTo(getHandle(), data, length, address);
}

int DatagramSocket::receiveFrom(void* buffer, size_t size, SocketAddress& from)
{
    return SocketApiWrapper::recvDatagramFrom(getHandle(), buffer, size, from);
}

int DatagramSocket::receiveWaitingFrom(void* buffer, size_t size, SocketAddress& from)
{
    return SocketApiWrapper::recvWaitingDatagramFrom(getHandle(), buffer, size, from);
}

bool DatagramSocket::waitReady(bool forWrite, int timeoutMs)
{
    bool wasBlocking = isBlocking();
    if (wasBlocking) {
        configureBlocking(false);
    }
    // poll rather than select: one handle of any value, no fd_set bound.
    pollfd entry{getHandle(), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int n = ::poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
    int error = errno;
    if (wasBlocking) {
        configureBlocking(true);
    }
    if (n == 0) {
        return false;
    }
    if (n < 0) {
        if (error == EINTR) {
            return false;
        }
        throw SocketException(VELMORA_THROW_SITE("SocketException"), error);
    }
    return true;
}

bool DatagramSocket::sendTo(const void* data, size_t length, const SocketAddress& address, int timeoutMs, int& count)
{
    if (!waitReady(true, timeoutMs)) {
        return false;
    }
    count = sendTo(data, length, address);
    return true;
}

bool DatagramSocket::receiveFrom(void* buffer, size_t size, SocketAddress& from, int timeoutMs, int& count)
{
    if (!waitReady(false, timeoutMs)) {
        return false;
    }
    count = receiveFrom(buffer, size, from);
    return true;
}

bool DatagramSocket::send(const void* data, size_t length, int timeoutMs, int& count)
{
    if (!waitReady(true, timeoutMs)) {
        return false;
    }
    count = send(data, length);
    return true;
}

bool DatagramSocket::receive(void* buffer, size_t size, int timeoutMs, int& count)
{
    if (!waitReady(false, timeoutMs)) {
        return false;
    }
    count = receive(buffer, size);
    return true;
}

} // namespace velmora
