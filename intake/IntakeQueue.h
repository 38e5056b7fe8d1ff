#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

class CallbackInfo;

/// The hand-over of parsed device messages from the intake thread to the
/// window's thread, bounded in messages and in bytes: past a bound a
/// message is dropped and counted, so a flood waits in (and is dropped by)
/// the socket's receive queue, never the heap. The taker empties it in
/// batches, so the window serves its timers, input and stop signal between
/// them.
///
/// Two lanes, each with its own bounds: REVIEWED for vehicles the operator
/// knows, UNREVIEWED for vehicles that admitted themselves this run. A
/// burst of unreviewed messages fills only its own lane and can never push
/// a known vehicle's message out. takeBatch() serves the reviewed lane
/// first and fills the rest of the batch from the other, in arrival order
/// within each lane. The unreviewed lane waits only while the reviewed
/// lane alone fills whole batches: the window is then saturated by
/// vehicles it knows, and what waits (and is dropped) first should be the
/// traffic nobody has looked at.
///
/// Wake-ups: a push answers true when the taker must be woken (no wake-up
/// was pending); takeBatch() clears the pending wake-up once it leaves both
/// lanes empty, under the same lock, so none is lost.
/// Thread-safe.
class IntakeQueue {
public:
    enum Lane { REVIEWED = 0, UNREVIEWED = 1 };

    /// The most one lane holds.
    struct Bounds {
        size_t messages;
        size_t bytes; ///< as CallbackInfo::estimateBytes() counts them
    };
    /// A burst of a whole fleet (a few fixes each of some thousands of
    /// vehicles) fits; a stalled window holds tens of MB at most.
    static constexpr Bounds DEFAULT_REVIEWED{16384, 32u * 1024 * 1024};
    static constexpr Bounds DEFAULT_UNREVIEWED{4096, 8u * 1024 * 1024};

    IntakeQueue();
    /// A queue with the given bounds (each at least one message).
    IntakeQueue(const Bounds& reviewed, const Bounds& unreviewed);
    IntakeQueue(const IntakeQueue&) = delete;
    IntakeQueue& operator=(const IntakeQueue&) = delete;
    ~IntakeQueue();

    struct Pushed {
        bool taken = false;
        bool wake = false;
    };
    /// Appends message to lane unless that lane is at a bound.
    Pushed push(std::unique_ptr<CallbackInfo> message, Lane lane = REVIEWED);
    /// Appends message to the reviewed lane, past its bounds with
    /// overCapacity; for callers that use one lane only.
    Pushed push(std::unique_ptr<CallbackInfo> message, bool overCapacity);
    /// Appends a message that must pass every bound (the stop's drain
    /// marker): it is taken after everything queued before it in either
    /// lane.
    Pushed pushMarker(std::unique_ptr<CallbackInfo> message);
    /// Moves up to most messages to out: the reviewed lane's oldest first,
    /// then the unreviewed lane's; answers how many are left in both.
    size_t takeBatch(std::vector<std::unique_ptr<CallbackInfo>>& out, size_t most);
    /// Returns messages of the last batch that were not handled: each goes
    /// back to the front of the lane it came from, in the order given (past
    /// the bounds: they were taken already); sets the wake-up pending.
    void putBack(std::vector<std::unique_ptr<CallbackInfo>>& messages);
    /// Drops everything queued (a stop that will not handle it).
    void clear();

    /// Messages waiting in both lanes.
    size_t size() const;
    size_t size(Lane lane) const;
    /// Bytes waiting in lane, by CallbackInfo::estimateBytes().
    size_t getBytes(Lane lane) const;
    const Bounds& getBounds(Lane lane) const { return m_lanes[lane].bounds; }
    /// Messages dropped at a bound since construction, both lanes.
    uint64_t getDropped() const;
    uint64_t getDropped(Lane lane) const { return m_lanes[lane].dropped.load(); }

private:
    struct Entry {
        std::unique_ptr<CallbackInfo> message;
        size_t bytes = 0;
    };
    struct LaneState {
        Bounds bounds{};
        std::deque<Entry> entries;
        size_t bytes = 0;
        std::atomic<uint64_t> dropped{0};
    };

    Pushed append(std::unique_ptr<CallbackInfo> message, Lane lane, bool overBounds);

    mutable std::mutex m_mutex;
    LaneState m_lanes[2];
    bool m_wakePending = false;
    // The unreviewed lane's messages of the last batch, by address, sorted:
    // putBack() sends each message back to its own lane.
    std::vector<const CallbackInfo*> m_takenUnreviewed;
};

} // namespace velmora
