#include "foundation/Time.h"

#include "foundation/IByteBuffer.h"
#include "foundation/IFormatable.h"

namespace velmora {

Time::Time(int hour, int minute, int second, int zoneSeconds)
{
    const auto zone = static_cast<uint32_t>(zoneSeconds / ZONE_UNIT_SECONDS);
    m_value = static_cast<int32_t>((zone << 24) | (static_cast<uint32_t>(hour) << 16) |
                                   (static_cast<uint32_t>(minute) << 8) |
                                   static_cast<uint32_t>(second));
}

int Time::getZoneOffset() const
{
    const auto zone = static_cast<int8_t>(static_cast<uint32_t>(m_value) >> 24);
    return zone * ZONE_UNIT_SECONDS;
}

bool Time::equals(const Time& other) const
{
    return clock() == other.clock();
}

bool Time::lessThan(const Time& other) const
{
    return clock() < other.clock();
}

bool Time::greaterThan(const Time& other) const
{
    return clock() > other.clock();
}

void Time::toString(IFormatable& out) const
{
    out.format("%02d:%02d:%02d", getHour(), getMinute(), getSecond());
}

void Time::toBytes(uint8_t bytes[4]) const
{
    const auto value = static_cast<uint32_t>(m_value);
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

void Time::fromBytes(const uint8_t bytes[4])
{
    // The zone byte is signed; the clock bytes are unsigned.
    const auto zone = static_cast<int8_t>(bytes[0]);
    *this = Time(bytes[1], bytes[2], bytes[3], zone * ZONE_UNIT_SECONDS);
}

void Time::deserializeAt(const IByteBuffer& buffer, size_t offset)
{
    uint8_t bytes[4];
    buffer.readAt(offset, bytes, sizeof bytes);
    fromBytes(bytes);
}

void Time::deserialize(IByteStream& stream)
{
    uint8_t bytes[4];
    stream.readNext(bytes, sizeof bytes);
    fromBytes(bytes);
}

void Time::serializeAt(IByteBuffer& buffer, size_t offset) const
{
    uint8_t bytes[4];
    toBytes(bytes);
    buffer.writeAt(offset, bytes, sizeof bytes);
}

void Time::serialize(IByteStream& stream) const
{
    uint8_t bytes[4];
    toBytes(bytes);
    stream.append(bytes, sizeof bytes);
}

} // namespace velmora
