#pragma once

#include "intake/IntakeGate.h"

#include <functional>

namespace velmora {

class CallbackInfo;
class IntakeDrain;

/// Moves device messages from the server thread to the hub.
///
/// On the server thread take() judges a message and queues a copy in its
/// lane of the bounded IntakeQueue (IntakeGate: a flood of unknown ids ends
/// there), waking the window once per empty-to-full turn. On the window's thread
/// serve() hands the queued messages to the hub in batches of at most BATCH
/// messages or BATCH_MS, puts what is left back in order and asks to be
/// woken again, so timers, input and the stop signal are served between
/// batches. The stop's marker passes every bound and is reported, never
/// handed on.
class IntakePump {
public:
    /// Most device messages handled in one turn of the event loop, and the
    /// longest such a turn may take.
    static constexpr int BATCH = 512;
    static constexpr int BATCH_MS = 20;

    /// The collaborators outlive the pump.
    IntakePump(VehicleAdmission& admission, IntakeQueue& queue, const IntakeDrain& drain);
    IntakePump(const IntakePump&) = delete;
    IntakePump& operator=(const IntakePump&) = delete;

    /// Wakes the window's thread (posts a message); called on any thread.
    void setWake(std::function<void()> wake) { m_wake = std::move(wake); }
    /// Handles one device message on the window's thread.
    void setHandler(std::function<void(CallbackInfo&)> handler) { m_handler = std::move(handler); }
    /// Told when the stop's marker came through.
    void setMarkerListener(std::function<void()> listener) { m_onMarker = std::move(listener); }

    /// Server thread: one parsed datagram.
    void take(const CallbackInfo& message);
    /// Window's thread: one batch.
    void serve();
    /// No message is handed on from now on; what is queued is dropped.
    void stop();

private:
    IntakeGate m_gate;
    IntakeQueue& m_queue;
    const IntakeDrain& m_drain;
    std::function<void()> m_wake;
    std::function<void(CallbackInfo&)> m_handler;
    std::function<void()> m_onMarker;
    bool m_stopped = false;
};

} // namespace velmora
