#pragma once

#include "foundation/socket/AbstractSocket.h"
#include "foundation/socket/SocketAddress.h"

#include <cstddef>

namespace velmora {

/// A UDP socket. A received datagram longer than the caller's buffer is
/// never delivered cut: the receive throws SocketException with EMSGSIZE and
/// the datagram is gone.
class DatagramSocket : public AbstractSocket {
public:
    /// Opens a UDP handle, without address reuse: a held port stays held.
    void create() override;
    /// Binds to every local address and the port; throws SocketException.
    void bind(int port);
    /// Asks for a receive queue of bytes; beyond the system's limit when the
    /// process may (CAP_NET_ADMIN), else up to that limit. Returns the size
    /// the kernel granted (its own accounting, about twice the payload).
    int setReceiveBufferSize(int bytes);
    /// The receive queue size the kernel accounts with; throws SocketException.
    int getReceiveBufferSize() const;

    int send(const void* data, size_t length);
    int receive(void* buffer, size_t size);
    int sendTo(const void* data, size_t length, const SocketAddress& address);
    int receiveFrom(void* buffer, size_t size, SocketAddress& from);
    /// On a non-blocking socket: as receiveFrom, but -1 (no exception) when
    /// no datagram is waiting.
    int receiveWaitingFrom(void* buffer, size_t size, SocketAddress& from);

    /// Timed forms: wait at most timeoutMs for the socket to be ready, then
    /// transfer once. false when time ran out or the wait was interrupted
    /// (count untouched); true with the byte count in count otherwise.
    bool sendTo(const void* data, size_t length, const SocketAddress& address, int timeoutMs, int& count);
    bool receiveFrom(void* buffer, size_t size, SocketAddress& from, int timeoutMs, int& count);
    bool send(const void* data, size_t length, int timeoutMs, int& count);
    bool receive(void* buffer, size_t size, int timeoutMs, int& count);

private:
    /// Waits for readiness as the timed forms do; true when ready.
    bool waitReady(bool forWrite, int timeoutMs);
};

} // namespace velmora
