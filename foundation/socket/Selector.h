#pragma once

#include "foundation/socket/SelectionKey.h"
#include "foundation/socket/Socket.h"
#include "foundation/thread/Mutex.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace velmora {

/// Waits until any registered socket is ready, with a time limit; any thread
/// may cut the wait short with wakeup(), which writes one byte into a
/// loopback TCP connection the Selector owns. register, unregister, clear and
/// select are used by one thread at a time; wakeup by any thread.
class Selector {
public:
    /// Most handles put into one descriptor set.
    static constexpr int MAX_SET_HANDLES = 1024;
    /// Most connections of other programs the wake-up listener turns away
    /// before it gives up on its own.
    static constexpr int MAX_FOREIGN_PEERS = 64;

    /// Builds the wake-up connection: a listener on 127.0.0.1 (never on
    /// another interface), source connected to it, and sink the accepted
    /// end whose peer is source; a connection another program makes to the
    /// listener is closed and the wait goes on. onListening, when given, is
    /// called with the listener's address before source connects (tests put
    /// other peers first through it). Throws SocketException.
    static void connectPair(Socket& source, Socket& sink,
                            const std::function<void(const InetSocketAddress& listening)>& onListening = nullptr);

    /// Builds the loopback wake-up connection; throws SocketException.
    Selector();
    /// Drops the registrations and closes the wake-up connection.
    ~Selector();
    Selector(const Selector&) = delete;
    Selector& operator=(const Selector&) = delete;

    /// Registers socket ("register" is a reserved word in C++) (replacing an earlier registration of its handle)
    /// with readyOps 0; returns the stored key.
    SelectionKey& registerSocket(AbstractSocket& socket, uint32_t interestOps, void* attachment);
    /// Removes the socket's registration; the number removed (0 or 1).
    int unregister(AbstractSocket& socket);
    /// Removes every registration.
    void clear();

    /// Waits without limit. See select(selected, timeoutMs).
    int select(std::vector<SelectionKey>& selected);
    /// Waits at most timeoutMs. Appends a copy of every ready key, in
    /// ascending handle order, to selected. Returns -1 when the OS call
    /// failed (errno tells why), 0 on time-out, else the ready count less the
    /// drained wake-up. A signal handler running on the calling thread does
    /// not end the wait: it goes on for the rest of the time.
    int select(std::vector<SelectionKey>& selected, int64_t timeoutMs);
    /// select with a limit of 0.
    int selectNow(std::vector<SelectionKey>& selected);
    /// Makes the current or next select return early; any number of calls
    /// between two selects make exactly one return early.
    void wakeup();

    /// Number of registrations.
    size_t size() const { return m_keys.size(); }

private:
    int doSelect(std::vector<SelectionKey>& selected, int64_t timeoutMs);

    Socket m_sink;
    Socket m_source;
    bool m_wakeupPending = false;
    Mutex m_wakeupLock;
    std::map<unsigned, SelectionKey> m_keys;
};

} // namespace velmora
