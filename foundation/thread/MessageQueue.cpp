#include "foundation/thread/MessageQueue.h"

#include "foundation/Trace.h"
#include "foundation/thread/MessageQueueListener.h"
#include "foundation/thread/ScopedLock.h"

#include <cstring>

namespace velmora {

MessageQueue::MessageQueue(uint32_t capacity, MessageQueueListener* listener, int32_t maxCount)
    : m_maxCount(maxCount), m_ring(capacity), m_notEmpty(m_lock), m_notFull(m_lock),
      m_listener(listener)
{
}

bool MessageQueue::hasRoom(uint32_t length) const
{
    return m_ring.getCount() != m_maxCount && m_ring.fits(length);
}

bool MessageQueue::putLocked(const void* const* pieces, const uint32_t* lengths, int pieceCount,
                             int64_t milliseconds)
{
    uint64_t total = 0;
    for (int i = 0; i < pieceCount; ++i)
        total += lengths[i];
    if (total > UINT32_MAX - RingBuffer::HEADER_SIZE)
        return false;
    const auto length = static_cast<uint32_t>(total);

    ScopedLock lock(m_lock);
    while (!m_closed && !hasRoom(length)) {
        if (milliseconds == FOREVER)
            m_notFull.wait();
        else if (!m_notFull.timedWait(milliseconds))
            return false;
    }
    if (m_closed) {
        // Pass the close on: close() wakes one waiter per side, and every
        // other blocked producer must learn of it too.
        m_notFull.signal();
        return false;
    }
    m_ring.write(pieces, lengths, pieceCount, length);
    m_usedBytes += length + RingBuffer::HEADER_SIZE;
    if (m_listener != nullptr)
        m_listener->onPut(pieces, lengths, pieceCount);
    m_notEmpty.signal();
    return true;
}

bool MessageQueue::put(const void* const* pieces, const uint32_t* lengths, int pieceCount)
{
    return putLocked(pieces, lengths, pieceCount, FOREVER);
}

bool MessageQueue::put(const void* data, uint32_t length)
{
    return putLocked(&data, &length, 1, FOREVER);
}

bool MessageQueue::timedPut(const void* const* pieces, const uint32_t* lengths, int pieceCount,
                            int64_t milliseconds)
{
    return putLocked(pieces, lengths, pieceCount, milliseconds < 0 ? 0 : milliseconds);
}

bool MessageQueue::timedPut(const void* data, uint32_t length, int64_t milliseconds)
{
    return putLocked(&data, &length, 1, milliseconds < 0 ? 0 : milliseconds);
}

uint32_t MessageQueue::takeLocked(void* buffer, uint32_t bufferSize, int64_t milliseconds)
{
    ScopedLock lock(m_lock);
    while (!m_closed && m_ring.isEmpty()) {
        if (milliseconds == FOREVER)
            m_notEmpty.wait();
        else if (!m_notEmpty.timedWait(milliseconds))
            return 0;
    }
    if (m_closed) {
        m_notEmpty.signal();
        return 0;
    }
    const uint8_t* payload = nullptr;
    const uint32_t length = m_ring.peek(&payload);
    uint32_t copied = length;
    if (copied > bufferSize) {
        trace("MessageQueue: a message of %u bytes cut to %u", length, bufferSize);
        copied = bufferSize;
    }
    if (copied > 0)
        std::memcpy(buffer, payload, copied);
    if (m_listener != nullptr)
        m_listener->onTake(payload, length);
    m_ring.pop();
    m_usedBytes -= length + RingBuffer::HEADER_SIZE;
    m_notFull.signal();
    return copied;
}

uint32_t MessageQueue::take(void* buffer, uint32_t bufferSize)
{
    return takeLocked(buffer, bufferSize, FOREVER);
}

uint32_t MessageQueue::timedTake(void* buffer, uint32_t bufferSize, int64_t milliseconds)
{
    return takeLocked(buffer, bufferSize, milliseconds < 0 ? 0 : milliseconds);
}

void MessageQueue::clear()
{
    ScopedLock lock(m_lock);
    m_ring.reset();
    m_usedBytes = 0;
    if (m_listener != nullptr)
        m_listener->onClear();
    m_notFull.signal();
}

void MessageQueue::close()
{
    ScopedLock lock(m_lock);
    m_closed = true;
    m_notEmpty.signal();
    m_notFull.signal();
}

int32_t MessageQueue::getCount()
{
    ScopedLock lock(m_lock);
    return m_ring.getCount();
}

uint32_t MessageQueue::getUsedBytes()
{
    ScopedLock lock(m_lock);
    return m_usedBytes;
}

bool MessageQueue::isClosed()
{
    ScopedLock lock(m_lock);
    return m_closed;
}

} // namespace velmora
