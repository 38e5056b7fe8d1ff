#pragma once

#include <cstdint>

namespace velmora {

/// Length-prefixed messages in one byte array allocated once. A message is a
/// 4-byte host-order length and its payload, stored contiguously: one that
/// does not fit after writePos wraps to offset 0 and dataEnd marks where the
/// older messages end. Not thread-safe; MessageQueue guards it.
class RingBuffer {
public:
    static constexpr uint32_t HEADER_SIZE = 4;

    explicit RingBuffer(uint32_t capacity);
    ~RingBuffer();
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    /// The largest payload a write can store now (0 when full).
    uint32_t freeSpace() const;
    /// Whether a payload of length bytes can be stored now. Unlike
    /// freeSpace() >= length this refuses an empty payload when not even its
    /// length header fits.
    bool fits(uint32_t length) const;
    /// Stores the pieces joined as one message; the caller checked freeSpace().
    void write(const void* const* pieces, const uint32_t* lengths, int pieceCount,
               uint32_t totalLength);
    /// The oldest message's length and payload; 0 and nullptr when empty.
    uint32_t peek(const uint8_t** payload) const;
    /// Drops the oldest message.
    void pop();
    void reset();

    bool isEmpty() const { return m_count == 0; }
    int32_t getCount() const { return m_count; }
    uint32_t getCapacity() const { return m_capacity; }
    uint32_t getDataEnd() const { return m_dataEnd; }
    uint32_t getReadPos() const { return m_readPos; }
    uint32_t getWritePos() const { return m_writePos; }

private:
    int64_t room() const;

    uint32_t m_capacity;
    uint32_t m_dataEnd;
    int32_t m_count = 0;
    uint32_t m_readPos = 0;
    uint32_t m_writePos = 0;
    uint8_t* m_bytes;
};

} // namespace velmora
