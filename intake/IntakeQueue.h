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
/// window's thread, bounded: past its capacity a message is dropped and
/// counted, so a flood waits in (and is dropped by) the socket's receive
/// queue, never the heap. The taker empties it in batches, so the window
/// serves its timers, input and stop signal between them.
///
/// Wake-ups: push() answers true when the taker must be woken (the queue
/// had no wake-up pending); takeBatch() clears the pending wake-up once it
/// leaves the queue empty, under the same lock, so none is lost.
/// Thread-safe.
class IntakeQueue {
public:
    static constexpr size_t DEFAULT_CAPACITY = 4096;

    explicit IntakeQueue(size_t capacity = DEFAULT_CAPACITY);
    IntakeQueue(const IntakeQueue&) = delete;
    IntakeQueue& operator=(const IntakeQueue&) = delete;
    ~IntakeQueue();

    struct Pushed {
        bool taken = false;
        bool wake = false;
    };
    /// Appends message unless the queue is full; always true with
    /// overCapacity (for the few messages that must never be dropped).
    Pushed push(std::unique_ptr<CallbackInfo> message, bool overCapacity = false);
    /// Moves up to most messages, oldest first, to out; answers how many
    /// are left.
    size_t takeBatch(std::vector<std::unique_ptr<CallbackInfo>>& out, size_t most);
    /// Returns messages taken but not handled to the front, in their order
    /// (past the capacity: they were taken already); sets the wake-up pending.
    void putBack(std::vector<std::unique_ptr<CallbackInfo>>& messages);
    /// Drops everything queued (a stop that will not handle it).
    void clear();

    size_t size() const;
    size_t getCapacity() const { return m_capacity; }
    /// Messages dropped because the queue was full, since construction.
    uint64_t getDropped() const { return m_dropped.load(); }

private:
    const size_t m_capacity;
    mutable std::mutex m_mutex;
    std::deque<std::unique_ptr<CallbackInfo>> m_messages;
    bool m_wakePending = false;
    std::atomic<uint64_t> m_dropped{0};
};

} // namespace velmora
