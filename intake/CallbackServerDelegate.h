#pragma once

namespace velmora {

class CallbackInfo;

/// Receives what the callback server takes in. onCallback and receive-path
/// onError run on the server thread; the start-path onError runs on the
/// thread that called start().
class CallbackServerDelegate {
public:
    virtual ~CallbackServerDelegate() = default;
    /// One parsed datagram; info is valid only during the call: copy what
    /// must outlive it (CallbackInfo::copyTo).
    virtual void onCallback(const CallbackInfo& info) = 0;
    /// The text of a socket failure (open, bind or receive).
    virtual void onError(const char* message) = 0;
};

} // namespace velmora
