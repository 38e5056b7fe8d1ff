#pragma once

class QEventLoop;

namespace velmora {

class IntakeDrain;

/// The stop's wait for every datagram that reached the callback port before
/// it: one marker is sent through the port (IntakeDrain) and the window's
/// loop runs until the marker comes back through the intake, or
/// TIMEOUT_MS has passed. The marker is sent again now and then, as a full
/// receive queue may have dropped it.
class StopDrain {
public:
    /// Longest wait at a stop for the datagrams that arrived before it.
    static constexpr int TIMEOUT_MS = 1500;
    /// How often the marker is sent again while the stop waits for it.
    static constexpr int RESEND_MS = 250;

    explicit StopDrain(IntakeDrain& drain) : m_drain(drain) {}
    StopDrain(const StopDrain&) = delete;
    StopDrain& operator=(const StopDrain&) = delete;

    /// Sends the marker to port and waits; true when it came back in time.
    bool run(int port);
    /// The marker came through the intake (window's thread).
    void markerArrived();

private:
    IntakeDrain& m_drain;
    bool m_arrived = false;
    QEventLoop* m_loop = nullptr;
};

} // namespace velmora
