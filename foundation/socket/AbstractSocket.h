#pragma once

#include "foundation/socket/InetSocketAddress.h"
#include "foundation/socket/SocketApiWrapper.h"

namespace velmora {

/// Owns one OS socket handle. The destructor does not close it: owners call
/// close() first. No internal locking: one thread at a time.
class AbstractSocket {
public:
    AbstractSocket() = default;
    AbstractSocket(const AbstractSocket&) = delete;
    AbstractSocket& operator=(const AbstractSocket&) = delete;
    virtual ~AbstractSocket() = default;

    /// Opens a handle of the subclass's kind and keeps it.
    virtual void create() = 0;

    /// Closes the handle if there is one; a second close does nothing.
    void close();
    /// Sets blocking or non-blocking mode; throws SocketException.
    void configureBlocking(bool blocking);
    bool isBlocking() const { return m_blocking; }
    SocketHandle getHandle() const { return m_handle; }
    /// Adopts a handle without any OS call.
    void setHandle(SocketHandle handle, bool blocking);

    /// The bound local address; throws SocketException.
    InetSocketAddress getLocalAddress() const;
    /// The connected peer's address; throws SocketException.
    InetSocketAddress getPeerAddress() const;
    /// Shuts down the sending direction; the OS result, no exception.
    int shutdownOutput();

protected:
    /// Sets SO_REUSEADDR to 1, ignoring the result.
    void enableAddressReuse();

private:
    SocketHandle m_handle = INVALID_SOCKET_HANDLE;
    bool m_blocking = true;
};

} // namespace velmora
