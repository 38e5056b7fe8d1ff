#pragma once

#include <memory>

namespace velmora {

class CallbackServerDelegate;

/// The device callback server: receives device datagrams on one UDP port and
/// hands each, parsed, to its delegate. Never sends anything.
class TesselCallbackServer {
public:
    virtual ~TesselCallbackServer() = default;
    /// Opens the UDP port on every local IPv4 address and starts receiving.
    /// A socket failure goes to the delegate's onError; the server stays idle.
    virtual void start(int port) = 0;
    /// Ends receiving and waits for the server thread; closes the port.
    virtual void stop() = 0;

    /// A new server for delegate (not owned; it must outlive the server).
    /// Opens and starts nothing.
    static std::unique_ptr<TesselCallbackServer> create(CallbackServerDelegate* delegate);
};

} // namespace velmora
