#pragma once

#include "foundation/IByteBuffer.h"

#include <cstdint>
#include <vector>

namespace velmora {

/// A growable byte array with a declared byte order, usable both at offsets
/// and as a stream (appends at the end, reads from a cursor).
class ByteBuffer : public IByteBuffer, public IByteStream {
public:
    explicit ByteBuffer(ByteOrder order = nativeByteOrder()) : m_order(order) {}

    ByteOrder getByteOrder() const override { return m_order; }
    void readAt(size_t offset, void* data, size_t count) const override;
    void writeAt(size_t offset, const void* data, size_t count) override;
    void readNext(void* data, size_t count) override;
    void append(const void* data, size_t count) override;

    const std::vector<uint8_t>& getBytes() const { return m_bytes; }
    size_t getReadPosition() const { return m_readPos; }
    void rewind() { m_readPos = 0; }

private:
    ByteOrder m_order;
    std::vector<uint8_t> m_bytes;
    size_t m_readPos = 0;
};

} // namespace velmora
