#include "foundation/Date.h"

#include "foundation/IByteBuffer.h"
#include "foundation/IFormatable.h"

namespace velmora {

Date::Date(int year, int month, int day)
    : m_value(static_cast<int32_t>((static_cast<uint32_t>(year) << 16) |
                                   (static_cast<uint32_t>(month) << 8) |
                                   static_cast<uint32_t>(day)))
{
}

bool Date::equals(const Date& other) const
{
    return m_value == other.m_value;
}

bool Date::lessThan(const Date& other) const
{
    return static_cast<uint32_t>(m_value) < static_cast<uint32_t>(other.m_value);
}

bool Date::greaterThan(const Date& other) const
{
    return static_cast<uint32_t>(m_value) > static_cast<uint32_t>(other.m_value);
}

void Date::toString(IFormatable& out) const
{
    out.format("%d/%02d/%02d", getYear(), getMonth(), getDay());
}

void Date::toBytes(uint8_t bytes[4], ByteOrder order) const
{
    const auto year = static_cast<uint16_t>(getYear());
    if (order == ByteOrder::LittleEndian) {
        bytes[0] = static_cast<uint8_t>(year & 0xFF);
        bytes[1] = static_cast<uint8_t>(year >> 8);
    } else {
        bytes[0] = static_cast<uint8_t>(year >> 8);
        bytes[1] = static_cast<uint8_t>(year & 0xFF);
    }
    bytes[2] = static_cast<uint8_t>(getMonth());
    bytes[3] = static_cast<uint8_t>(getDay());
}

void Date::fromBytes(const uint8_t bytes[4], ByteOrder order)
{
    const uint32_t year = order == ByteOrder::LittleEndian ? (bytes[0] | (bytes[1] << 8))
                                                           : ((bytes[0] << 8) | bytes[1]);
    m_value = static_cast<int32_t>((year << 16) | (static_cast<uint32_t>(bytes[2]) << 8) |
                                   bytes[3]);
}

void Date::deserializeAt(const IByteBuffer& buffer, size_t offset)
{
    uint8_t bytes[4];
    buffer.readAt(offset, bytes, sizeof bytes);
    fromBytes(bytes, buffer.getByteOrder());
}

void Date::deserialize(IByteStream& stream)
{
    uint8_t bytes[4];
    stream.readNext(bytes, sizeof bytes);
    fromBytes(bytes, stream.getByteOrder());
}

void Date::serializeAt(IByteBuffer& buffer, size_t offset) const
{
    uint8_t bytes[4];
    toBytes(bytes, buffer.getByteOrder());
    buffer.writeAt(offset, bytes, sizeof bytes);
}

void Date::serialize(IByteStream& stream) const
{
    uint8_t bytes[4];
    toBytes(bytes, stream.getByteOrder());
    stream.append(bytes, sizeof bytes);
}

} // namespace velmora
