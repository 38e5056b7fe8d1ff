#pragma once

#include "foundation/IComparable.h"
#include "foundation/ISerializable.h"
#include "foundation/IStringConvertable.h"

#include <cstdint>

namespace velmora {

/// A time of day packed as zone << 24 | hour << 16 | minute << 8 | second,
/// the zone a signed count of quarter hours. Comparison ignores the zone.
/// Ranges are not checked. The unset value is all bits set.
class Time : public IComparable<Time>, public IStringConvertable, public ISerializable {
public:
    static constexpr int32_t UNSET = -1;
    static constexpr int ZONE_UNIT_SECONDS = 900;

    Time() = default;
    /// zoneSeconds / 900 (truncated toward zero) is stored as the zone.
    Time(int hour, int minute, int second, int zoneSeconds = 0);

    int getHour() const { return (m_value >> 16) & 0xFF; }
    int getMinute() const { return (m_value >> 8) & 0xFF; }
    int getSecond() const { return m_value & 0xFF; }
    /// The zone offset in seconds.
    int getZoneOffset() const;
    int32_t getValue() const { return m_value; }
    void setValue(int32_t value) { m_value = value; }
    bool isUnset() const { return m_value == UNSET; }

    bool equals(const Time& other) const override;
    bool lessThan(const Time& other) const override;
    bool greaterThan(const Time& other) const override;
    /// Writes "%02d:%02d:%02d": hour, minute, second.
    void toString(IFormatable& out) const override;

    size_t getSerializedSize() const override { return 4; }
    void deserializeAt(const IByteBuffer& buffer, size_t offset) override;
    void deserialize(IByteStream& stream) override;
    void serializeAt(IByteBuffer& buffer, size_t offset) const override;
    void serialize(IByteStream& stream) const override;

private:
    uint32_t clock() const { return static_cast<uint32_t>(m_value) & 0xFFFFFFu; }
    void toBytes(uint8_t bytes[4]) const;
    void fromBytes(const uint8_t bytes[4]);

    int32_t m_value = UNSET;
};

} // namespace velmora
