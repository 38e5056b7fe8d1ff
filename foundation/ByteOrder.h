#pragma once

#include <bit>
#include <cstdint>

namespace velmora {

/// The byte order a serialisation buffer declares.
enum class ByteOrder { LittleEndian, BigEndian };

/// The byte order of this machine.
constexpr ByteOrder nativeByteOrder()
{
    return std::endian::native == std::endian::little ? ByteOrder::LittleEndian
                                                       : ByteOrder::BigEndian;
}

} // namespace velmora
