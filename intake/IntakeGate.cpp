#include "intake/IntakeGate.h"

#include "intake/CallbackInfo.h"

#include <memory>

namespace velmora {

IntakeGate::IntakeGate(VehicleAdmission& admission, IntakeQueue& queue, MarkerTest isMarker)
    : m_admission(admission), m_queue(queue), m_isMarker(std::move(isMarker))
{
}

IntakeGate::Outcome IntakeGate::offer(const CallbackInfo& message)
{
    Outcome outcome;
    // The marker names no vehicle: it is recognised by where it comes from,
    // before admission would refuse it.
    outcome.marker = m_isMarker && m_isMarker(message);
    if (!outcome.marker) {
        outcome.verdict = m_admission.check(message);
        if (outcome.verdict == VehicleAdmission::REFUSED) {
            return outcome;
        }
    }
    auto copy = std::make_unique<CallbackInfo>();
    message.copyTo(*copy);
    IntakeQueue::Pushed pushed;
    if (outcome.marker) {
        pushed = m_queue.pushMarker(std::move(copy));
    } else {
        const IntakeQueue::Lane lane =
            outcome.verdict == VehicleAdmission::KNOWN ? IntakeQueue::REVIEWED : IntakeQueue::UNREVIEWED;
        pushed = m_queue.push(std::move(copy), lane);
    }
    outcome.queued = pushed.taken;
    outcome.wake = pushed.wake;
    return outcome;
}

} // namespace velmora
