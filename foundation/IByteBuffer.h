#pragma once

#include "foundation/ByteOrder.h"

#include <cstddef>

namespace velmora {

/// Random-access bytes for serialisation at an offset.
class IByteBuffer {
public:
    virtual ~IByteBuffer() = default;
    virtual ByteOrder getByteOrder() const = 0;
    /// Copies count bytes at offset into data; throws std::out_of_range past the end.
    virtual void readAt(size_t offset, void* data, size_t count) const = 0;
    /// Writes count bytes at offset, growing the buffer when needed.
    virtual void writeAt(size_t offset, const void* data, size_t count) = 0;
};

/// Sequential bytes for serialisation: read the next bytes, append more.
class IByteStream {
public:
    virtual ~IByteStream() = default;
    virtual ByteOrder getByteOrder() const = 0;
    /// Copies the next count bytes into data; throws std::out_of_range past the end.
    virtual void readNext(void* data, size_t count) = 0;
    virtual void append(const void* data, size_t count) = 0;
};

} // namespace velmora
