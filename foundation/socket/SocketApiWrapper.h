#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

class SocketAddress;
class InetSocketAddress;

/// An OS socket descriptor.
using SocketHandle = int;
/// The handle of a socket object that holds no open socket.
constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;

/// One static function per BSD socket call, IPv4 only. Unless said otherwise
/// a failure throws SocketException carrying errno and its system text; no
/// call retries and none closes the handle on failure.
class SocketApiWrapper {
public:
    /// Marks the subsystem started (BSD sockets need no start-up).
    static void initialize();
    /// Marks the subsystem stopped.
    static void cleanup();
    static bool isInitialized();

    /// A new TCP handle; INVALID_SOCKET_HANDLE (no exception) when the OS refuses.
    static SocketHandle createStreamSocket();
    /// A new UDP handle; INVALID_SOCKET_HANDLE (no exception) when the OS refuses.
    static SocketHandle createDatagramSocket();
    /// A new raw IPv4 handle; INVALID_SOCKET_HANDLE (no exception) when the OS refuses.
    static SocketHandle createRawSocket(int protocol);

    static void closeSocket(SocketHandle handle);
    /// Sets or clears the non-blocking file status flag.
    static void configureBlocking(SocketHandle handle, bool blocking);

    /// Bytes sent.
    static int send(SocketHandle handle, const void* data, size_t length);
    /// Bytes received; 0 when the peer closed.
    static int recv(SocketHandle handle, void* buffer, size_t size);
    /// Sends to the address's host (dotted text first, else looked up by
    /// name) and port; an unset address means 255.255.255.255. A failed
    /// lookup throws SocketException with the resolver's code and text.
    static int sendTo(SocketHandle handle, const void* data, size_t length, const SocketAddress& address);
    /// Bytes received; from := the sender ("Unknown", dotted address, port).
    static int recvFrom(SocketHandle handle, void* buffer, size_t size, SocketAddress& from);
    /// One datagram; a datagram longer than size is consumed and reported
    /// as EMSGSIZE instead of being delivered cut.
    static int recvDatagram(SocketHandle handle, void* buffer, size_t size);
    /// As recvDatagram, with the sender in from.
    static int recvDatagramFrom(SocketHandle handle, void* buffer, size_t size, SocketAddress& from);
    /// As recvDatagramFrom on a non-blocking handle, but -1 without an
    /// exception when no datagram is waiting (EAGAIN): reading a queue until
    /// it is empty is no failure.
    static int recvWaitingDatagramFrom(SocketHandle handle, void* buffer, size_t size, SocketAddress& from);

    /// Connects to host (dotted text first, else looked up by name) and port.
    static void connect(SocketHandle handle, const char* host, int port);
    static void connect(SocketHandle handle, const SocketAddress& address);
    static void connect(SocketHandle handle, const InetSocketAddress& address);
    /// The accepted handle; peer := the connecting side. An invalid result throws.
    static SocketHandle accept(SocketHandle handle, SocketAddress& peer);
    static void listen(SocketHandle handle, int backlog);
    /// Binds to 0.0.0.0 and the port (0: the OS chooses).
    static void bind(SocketHandle handle, int port);
    static void getSocketName(SocketHandle handle, InetSocketAddress& out);
    static void getPeerName(SocketHandle handle, InetSocketAddress& out);
    /// The pending error of the socket (SO_ERROR).
    static int getSocketError(SocketHandle handle);
    /// The calling thread's last socket error (errno).
    static int getLastError();
};

} // namespace velmora
