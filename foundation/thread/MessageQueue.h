#pragma once

#include "foundation/thread/Condition.h"
#include "foundation/thread/Mutex.h"
#include "foundation/thread/RingBuffer.h"

#include <cstdint>

namespace velmora {

class MessageQueueListener;

/// A bounded blocking queue of byte messages in one ring buffer, allocated
/// once; messages are copied in and out. Bounded both by message count and
/// by bytes. Thread-safe: everything happens under one lock, listener calls
/// included. Closing is final.
class MessageQueue {
public:
    MessageQueue(uint32_t capacity, MessageQueueListener* listener, int32_t maxCount);
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    /// Stores the pieces joined as one message, waiting for room; false when
    /// the queue is (or becomes) closed.
    bool put(const void* const* pieces, const uint32_t* lengths, int pieceCount);
    bool put(const void* data, uint32_t length);
    /// As put, but gives up with false when no room came within milliseconds
    /// (0: store at once or fail).
    bool timedPut(const void* const* pieces, const uint32_t* lengths, int pieceCount,
                  int64_t milliseconds);
    bool timedPut(const void* data, uint32_t length, int64_t milliseconds);

    /// Copies the oldest payload into buffer and returns its length, waiting
    /// for one; 0 when closed (even with messages left). A payload longer than
    /// bufferSize is cut to bufferSize and consumed.
    uint32_t take(void* buffer, uint32_t bufferSize);
    /// As take, but 0 when nothing came within milliseconds.
    uint32_t timedTake(void* buffer, uint32_t bufferSize, int64_t milliseconds);

    /// Drops every message and lets a blocked producer go on.
    void clear();
    /// Marks the queue closed and wakes one waiter on each side.
    void close();

    int32_t getCount();
    int32_t getMaxCount() const { return m_maxCount; }
    uint32_t getCapacity() const { return m_ring.getCapacity(); }
    /// Bytes held, length headers included.
    uint32_t getUsedBytes();
    bool isClosed();

private:
    bool hasRoom(uint32_t length) const;
    bool putLocked(const void* const* pieces, const uint32_t* lengths, int pieceCount,
                   int64_t milliseconds);
    uint32_t takeLocked(void* buffer, uint32_t bufferSize, int64_t milliseconds);

    static constexpr int64_t FOREVER = -1;

    int32_t m_maxCount;
    RingBuffer m_ring;
    Mutex m_lock;
    Condition m_notEmpty;
    Condition m_notFull;
    MessageQueueListener* m_listener;
    bool m_closed = false;
    uint32_t m_usedBytes = 0;
};

} // namespace velmora
