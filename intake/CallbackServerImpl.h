#pragma once

#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/Selector.h"
#include "foundation/thread/LoopingThread.h"
#include "intake/CallbackMessageParser.h"
#include "intake/TesselCallbackServer.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace velmora {

/// The callback server on its own thread, "Callback Server". start, stop and
/// take are called by one owner thread; the server thread only receives.
/// One datagram at a time, in arrival order: the socket's receive queue
/// holds the rest. After a readiness report the queue is read on without
/// waiting, up to MAX_READS_PER_WAKE datagrams, so that a burst does not pay
/// one select per datagram.
class CallbackServerImpl : public TesselCallbackServer, public LoopingThread {
public:
    /// Receive buffer size; a datagram must leave room for the terminator
    /// and one spare byte, so at most 4094 bytes are delivered.
    static constexpr int BUFFER_SIZE = 4096;
    static constexpr int MAX_DATAGRAM = BUFFER_SIZE - 2;
    /// Longest wait for a datagram before the stop flag is looked at again.
    static constexpr int SELECT_TIMEOUT_MS = 5000;
    /// Most datagrams read after one readiness report before the selector is
    /// asked again (the stop flag is looked at before each one).
    static constexpr int MAX_READS_PER_WAKE = 64;

    /// Builds the selector (throws SocketException when the loopback wake-up
    /// connection cannot be made); opens and starts nothing.
    explicit CallbackServerImpl(CallbackServerDelegate* delegate);
    /// Stops a running server first, so the thread never outlives the object.
    ~CallbackServerImpl() override;

    void start(int port) override;
    void stop() override;
    void run() override;

    /// Receive queue asked for at each start(): bursts from a whole fleet
    /// wait there while one datagram is handled. Under a flood, 4 MB held
    /// only a few tens of milliseconds of datagrams, so a short stall of
    /// this thread on a busy two-core machine cost known fixes; 16 MB rides
    /// those out. The kernel holds it only while a backlog lasts, and caps
    /// it at net.core.rmem_max for a process without CAP_NET_ADMIN.
    static constexpr int DEFAULT_RECEIVE_BUFFER = 16 * 1024 * 1024;

    /// The receive queue size the next start() asks for (0: system default).
    void setReceiveBufferSize(int bytes) { m_receiveBufferSize = bytes; }

    /// The port of the last start(); 0 after stop().
    int getPort() const { return m_port; }
    /// The port the socket is bound to (the one the OS chose for start(0));
    /// 0 when not started, and once the thread ended on its own.
    int getBoundPort() const { return m_boundPort.load(); }

private:
    void receiveWaiting();
    bool receiveOne();
    void deliver(const char* host, int port, int length);
    void closeSocket();

    CallbackMessageParser m_parser;
    Selector m_selector;
    DatagramSocket m_socket;
    CallbackServerDelegate* const m_delegate;
    std::atomic<bool> m_stopRequested{false};
    char m_buffer[BUFFER_SIZE];
    int m_port = 0;
    int m_receiveBufferSize = DEFAULT_RECEIVE_BUFFER;
    std::atomic<int> m_boundPort{0};
    std::vector<SelectionKey> m_selected;
};

} // namespace velmora
