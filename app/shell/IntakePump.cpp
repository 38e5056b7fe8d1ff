#include "app/shell/IntakePump.h"

#include "app/system/IntakeDrain.h"
#include "intake/CallbackInfo.h"
#include "intake/IntakeQueue.h"

#include <chrono>
#include <memory>
#include <vector>

namespace velmora {

IntakePump::IntakePump(VehicleAdmission& admission, IntakeQueue& queue, const IntakeDrain& drain)
    : m_gate(admission, queue, [&drain](const CallbackInfo& message) { return drain.isMarker(message); }),
      m_queue(queue), m_drain(drain) {}

void IntakePump::take(const CallbackInfo& message) {
    if (m_gate.offer(message).wake && m_wake) {
        m_wake();
    }
}

void IntakePump::serve() {
    std::vector<std::unique_ptr<CallbackInfo>> batch;
    batch.reserve(BATCH);
    const size_t left = m_queue.takeBatch(batch, BATCH);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(BATCH_MS);
    size_t handled = 0;
    for (; handled < batch.size(); ++handled) {
        CallbackInfo& message = *batch[handled];
        if (m_drain.isMarker(message)) {
            if (m_onMarker) {
                m_onMarker();
            }
        } else if (!m_stopped && m_handler) {
            m_handler(message);
        }
        // A slow turn (the database queue full, the page busy) hands the
        // rest to the next one rather than hold up the window.
        if (std::chrono::steady_clock::now() > until) {
            ++handled;
            break;
        }
    }
    bool more = left > 0;
    if (handled < batch.size()) {
        // Put back in front, in order: nothing taken is lost or reordered.
        std::vector<std::unique_ptr<CallbackInfo>> rest;
        for (size_t i = handled; i < batch.size(); ++i) {
            rest.push_back(std::move(batch[i]));
        }
        m_queue.putBack(rest);
        more = true;
    }
    if (more && m_wake) {
        m_wake();
    }
}

void IntakePump::stop() {
    m_stopped = true;
    // What is still queued arrived after the stop's marker.
    m_queue.clear();
}

} // namespace velmora
