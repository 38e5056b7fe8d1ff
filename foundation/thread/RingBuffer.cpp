#include "foundation/thread/RingBuffer.h"

#include <cstring>

namespace velmora {

RingBuffer::RingBuffer(uint32_t capacity)
    : m_capacity(capacity), m_dataEnd(capacity), m_bytes(new uint8_t[capacity])
{
}

RingBuffer::~RingBuffer()
{
    delete[] m_bytes;
}

int64_t RingBuffer::room() const
{
    if (m_count == 0)
        return static_cast<int64_t>(m_capacity) - HEADER_SIZE;
    if (m_readPos < m_writePos) {
        const uint32_t tail = m_capacity - m_writePos;
        return static_cast<int64_t>(tail > m_readPos ? tail : m_readPos) - HEADER_SIZE;
    }
    return static_cast<int64_t>(m_readPos) - m_writePos - HEADER_SIZE;
}

uint32_t RingBuffer::freeSpace() const
{
    const int64_t free = room();
    return free > 0 ? static_cast<uint32_t>(free) : 0;
}

bool RingBuffer::fits(uint32_t length) const
{
    return room() >= static_cast<int64_t>(length);
}

void RingBuffer::write(const void* const* pieces, const uint32_t* lengths, int pieceCount,
                       uint32_t totalLength)
{
    if (m_count > 0 && m_readPos < m_writePos &&
        m_capacity - m_writePos < totalLength + HEADER_SIZE) {
        m_dataEnd = m_writePos;
        m_writePos = 0;
    }
    std::memcpy(m_bytes + m_writePos, &totalLength, HEADER_SIZE);
    uint32_t at = m_writePos + HEADER_SIZE;
    for (int i = 0; i < pieceCount; ++i) {
        if (lengths[i] > 0)
            std::memcpy(m_bytes + at, pieces[i], lengths[i]);
        at += lengths[i];
    }
    m_writePos = at;
    if (m_writePos == m_capacity)
        m_writePos = 0;
    ++m_count;
}

uint32_t RingBuffer::peek(const uint8_t** payload) const
{
    if (m_count == 0) {
        *payload = nullptr;
        return 0;
    }
    uint32_t length;
    std::memcpy(&length, m_bytes + m_readPos, HEADER_SIZE);
    *payload = m_bytes + m_readPos + HEADER_SIZE;
    return length;
}

void RingBuffer::pop()
{
    if (m_count == 0)
        return;
    uint32_t length;
    std::memcpy(&length, m_bytes + m_readPos, HEADER_SIZE);
    m_readPos += length + HEADER_SIZE;
    if (m_readPos == m_dataEnd || m_readPos == m_capacity) {
        m_readPos = 0;
        m_dataEnd = m_capacity;
    }
    if (--m_count == 0)
        reset();
}

void RingBuffer::reset()
{
    m_count = 0;
    m_readPos = 0;
    m_writePos = 0;
    m_dataEnd = m_capacity;
}

} // namespace velmora
