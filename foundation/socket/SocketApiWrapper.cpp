#include "foundation/socket/SocketApiWrapper.h"

#include "foundation/SocketException.h"
#include "foundation/SystemText.h"
#include "foundation/socket/InetSocketAddress.h"
#include "foundation/socket/SocketAddress.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace velmora {

static_assert(sizeof(sockaddr_in) == InetSocketAddress::size(), "InetSocketAddress mirrors sockaddr_in");

namespace {

std::atomic<bool> g_initialized{false};

[[noreturn]] void throwLastError(const char* function, int line)
{
    throw SocketException("SocketException", __FILE__, line, function, errno);
}

#define VELMORA_THROW_LAST_ERROR() throwLastError(__PRETTY_FUNCTION__, __LINE__)

/// Builds an IPv4 destination: the text as a dotted address first, and only
/// when it is not one, the first AF_INET answer of the resolver.
sockaddr_in destination(const char* host, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (host != nullptr && inet_pton(AF_INET, host, &address.sin_addr) == 1) {
        return address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(host != nullptr ? host : "", nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        if (rc == 0) {
            rc = EAI_NONAME;
        }
        char text[SocketException::TEXT_SIZE];
        SystemText::resolverText(rc, text, sizeof text);
        throw SocketException(VELMORA_THROW_SITE("SocketException"), rc, text);
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr;
    freeaddrinfo(result);
    return address;
}

/// Dotted-decimal text of an IPv4 address, written directly: this runs for
/// every received datagram, and inet_ntop goes through printf.
void dottedText(const in_addr& address, char out[INET_ADDRSTRLEN])
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
    char* p = out;
    for (int i = 0; i < 4; ++i) {
        unsigned value = bytes[i];
        if (value >= 100) {
            *p++ = static_cast<char>('0' + value / 100);
        }
        if (value >= 10) {
            *p++ = static_cast<char>('0' + value / 10 % 10);
        }
        *p++ = static_cast<char>('0' + value % 10);
        *p++ = i < 3 ? '.' : '\0';
    }
}

void fillPeer(const sockaddr_in& peer, SocketAddress& out)
{
    char host[INET_ADDRSTRLEN];
    dottedText(peer.sin_addr, host);
    out.setFromPeer(host, ntohs(peer.sin_port));
}

SocketHandle openHandle(int type, int protocol)
{
    if (!g_initialized.load()) {
        SocketApiWrapper::initialize();
    }
    // Close-on-exec: a device simulator or browser process started by the
    // console must not inherit the callback port.
    return ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
}

int checked(ssize_t result, const char* function, int line)
{
    if (result < 0) {
        throwLastError(function, line);
    }
    return static_cast<int>(result);
}

} // namespace

void SocketApiWrapper::initialize() { g_initialized.store(true); }

void SocketApiWrapper::cleanup() { g_initialized.store(false); }

bool SocketApiWrapper::isInitialized() { return g_initialized.load(); }

SocketHandle SocketApiWrapper::createStreamSocket() { return openHandle(SOCK_STREAM, 0); }

SocketHandle SocketApiWrapper::createDatagramSocket() { return openHandle(SOCK_DGRAM, 0); }

SocketHandle SocketApiWrapper::createRawSocket(int protocol) { return openHandle(SOCK_RAW, protocol); }

void SocketApiWrapper::closeSocket(SocketHandle handle)
{
    if (::close(handle) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

void SocketApiWrapper::configureBlocking(SocketHandle handle, bool blocking)
{
    int flags = ::fcntl(handle, F_GETFL, 0);
    if (flags < 0) {
        VELMORA_THROW_LAST_ERROR();
    }
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (::fcntl(handle, F_SETFL, flags) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

int SocketApiWrapper::send(SocketHandle handle, const void* data, size_t length)
{
    // MSG_NOSIGNAL: a closed peer is an EPIPE error, never a process-ending signal.
    return checked(::send(handle, data, length, MSG_NOSIGNAL), __PRETTY_FUNCTION__, __LINE__);
}

int SocketApiWrapper::recv(SocketHandle handle, void* buffer, size_t size)
{
    return checked(::recv(handle, buffer, size, 0), __PRETTY_FUNCTION__, __LINE__);
}

int SocketApiWrapper::sendTo(SocketHandle handle, const void* data, size_t length, const SocketAddress& address)
{
    sockaddr_in to = destination(address.isUnset() ? "255.255.255.255" : address.getHost(), address.getPort());
    return checked(::sendto(handle, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to),
                   __PRETTY_FUNCTION__, __LINE__);
}

int SocketApiWrapper::recvFrom(SocketHandle handle, void* buffer, size_t size, SocketAddress& from)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int n = checked(::recvfrom(handle, buffer, size, 0, reinterpret_cast<sockaddr*>(&peer), &length),
                    __PRETTY_FUNCTION__, __LINE__);
    fillPeer(peer, from);
    return n;
}

int SocketApiWrapper::recvDatagram(SocketHandle handle, void* buffer, size_t size)
{
    // MSG_TRUNC makes the kernel return the datagram's real length, so an
    // oversized one is told apart from one that fits exactly.
    int n = checked(::recv(handle, buffer, size, MSG_TRUNC), __PRETTY_FUNCTION__, __LINE__);
    if (static_cast<size_t>(n) > size) {
        throw SocketException(VELMORA_THROW_SITE("SocketException"), EMSGSIZE);
    }
    return n;
}

int SocketApiWrapper::recvDatagramFrom(SocketHandle handle, void* buffer, size_t size, SocketAddress& from)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int n = checked(::recvfrom(handle, buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &length),
                    __PRETTY_FUNCTION__, __LINE__);
    fillPeer(peer, from);
    if (static_cast<size_t>(n) > size) {
        throw SocketException(VELMORA_THROW_SITE("SocketException"), EMSGSIZE);
    }
    return n;
}

int SocketApiWrapper::recvWaitingDatagramFrom(SocketHandle handle, void* buffer, size_t size, SocketAddress& from)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const ssize_t result = ::recvfrom(handle, buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &length);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return -1;
    }
    const int n = checked(result, __PRETTY_FUNCTION__, __LINE__);
    fillPeer(peer, from);
    if (static_cast<size_t>(n) > size) {
        throw SocketException(VELMORA_THROW_SITE("SocketException"), EMSGSIZE);
    }
    return n;
}

void SocketApiWrapper::connect(SocketHandle handle, const char* host, int port)
{
    sockaddr_in to = destination(host, port);
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

void SocketApiWrapper::connect(SocketHandle handle, const SocketAddress& address)
{
    connect(handle, address.getHost(), address.getPort());
}

void SocketApiWrapper::connect(SocketHandle handle, const InetSocketAddress& address)
{
    if (::connect(handle, static_cast<const sockaddr*>(address.data()), InetSocketAddress::size()) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

SocketHandle SocketApiWrapper::accept(SocketHandle handle, SocketAddress& peer)
{
    sockaddr_in from{};
    socklen_t length = sizeof from;
    SocketHandle accepted = ::accept4(handle, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (accepted < 0) {
        VELMORA_THROW_LAST_ERROR();
    }
    fillPeer(from, peer);
    return accepted;
}

void SocketApiWrapper::listen(SocketHandle handle, int backlog)
{
    if (::listen(handle, backlog) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

void SocketApiWrapper::bind(SocketHandle handle, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

void SocketApiWrapper::getSocketName(SocketHandle handle, InetSocketAddress& out)
{
    out = InetSocketAddress();
    socklen_t length = InetSocketAddress::size();
    if (::getsockname(handle, static_cast<sockaddr*>(out.data()), &length) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

void SocketApiWrapper::getPeerName(SocketHandle handle, InetSocketAddress& out)
{
    out = InetSocketAddress();
    socklen_t length = InetSocketAddress::size();
    if (::getpeername(handle, static_cast<sockaddr*>(out.data()), &length) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
}

int SocketApiWrapper::getSocketError(SocketHandle handle)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        VELMORA_THROW_LAST_ERROR();
    }
    return error;
}

int SocketApiWrapper::getLastError() { return errno; }

} // namespace velmora
