#pragma once

#include <cstddef>

namespace velmora {

class IByteBuffer;
class IByteStream;

/// A value with a fixed binary layout.
class ISerializable {
public:
    virtual ~ISerializable() = default;
    virtual size_t getSerializedSize() const = 0;
    virtual void deserializeAt(const IByteBuffer& buffer, size_t offset) = 0;
    virtual void deserialize(IByteStream& stream) = 0;
    virtual void serializeAt(IByteBuffer& buffer, size_t offset) const = 0;
    virtual void serialize(IByteStream& stream) const = 0;
};

} // namespace velmora
