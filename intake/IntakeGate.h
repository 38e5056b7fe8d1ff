#pragma once

#include "intake/IntakeQueue.h"
#include "intake/VehicleAdmission.h"

#include <functional>

namespace velmora {

class CallbackInfo;

/// The hand-over of one parsed device message on the receiving thread: asks
/// VehicleAdmission for its verdict and puts a copy of an admitted message
/// into its lane of the IntakeQueue (reviewed vehicles' messages in one,
/// unreviewed and new vehicles' in the other). Used by any delegate of the
/// callback server that hands messages to another thread.
///
/// A message the marker test recognises (the stop's drain marker) skips
/// admission and passes every bound, behind everything queued before it.
///
/// Holds references only; offer() may run on any one thread, since the
/// admission and the queue are thread-safe and the marker test must be.
class IntakeGate {
public:
    using MarkerTest = std::function<bool(const CallbackInfo&)>;

    /// What became of one message.
    struct Outcome {
        VehicleAdmission::Verdict verdict = VehicleAdmission::REFUSED;
        bool marker = false; ///< the marker test recognised it
        bool queued = false; ///< a copy waits in the queue
        bool wake = false;   ///< the taker must be woken
    };

    /// admission and queue must outlive the gate; isMarker may be empty.
    IntakeGate(VehicleAdmission& admission, IntakeQueue& queue, MarkerTest isMarker = nullptr);

    /// Judges message and queues a copy when it is admitted.
    Outcome offer(const CallbackInfo& message);

private:
    VehicleAdmission& m_admission;
    IntakeQueue& m_queue;
    MarkerTest m_isMarker;
};

} // namespace velmora
