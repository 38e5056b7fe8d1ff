#pragma once

#include <memory>

namespace velmora {

class CallbackInfo;
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
    /// Turns a cell made by a delegate (a heap holder of a heap CallbackInfo)
    /// into a fresh CallbackInfo owned by the caller; frees the cell and its
    /// content. nullptr for a null cell or an empty one.
    virtual std::unique_ptr<CallbackInfo> take(CallbackInfo** cell) = 0;

    /// A new server for delegate (not owned; it must outlive the server).
    /// Opens and starts nothing.
    static std::unique_ptr<TesselCallbackServer> create(CallbackServerDelegate* delegate);
};

} // namespace velmora
