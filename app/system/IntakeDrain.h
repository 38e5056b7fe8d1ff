#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace velmora {

class CallbackInfo;

/// Tells when every datagram that reached the callback port before a stop
/// has been handled: one marker datagram is sent to the port over loopback
/// from a socket of our own. The port's receive queue is first in, first
/// out, and the server hands messages on in order, so when the marker comes
/// back through the window's queue everything queued before it has been
/// dispatched. No device can send from the marker's address while the
/// socket is held.
class IntakeDrain {
public:
    IntakeDrain() = default;
    ~IntakeDrain();
    IntakeDrain(const IntakeDrain&) = delete;
    IntakeDrain& operator=(const IntakeDrain&) = delete;

    /// Sends one marker to 127.0.0.1:callbackPort (again on later calls);
    /// false when no socket could be made or the send failed.
    bool send(int callbackPort);
    /// Whether message is a marker this object sent; may be asked on the
    /// intake thread.
    bool isMarker(const CallbackInfo& message) const;

private:
    int m_fd = -1;
    std::atomic<int> m_localPort{0};
};

} // namespace velmora
