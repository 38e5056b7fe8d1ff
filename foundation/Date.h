#pragma once

#include "foundation/ByteOrder.h"
#include "foundation/IComparable.h"
#include "foundation/ISerializable.h"
#include "foundation/IStringConvertable.h"

#include <cstdint>

namespace velmora {

/// A calendar date packed as year << 16 | month << 8 | day. Ranges are not
/// checked: whatever arrives is stored. The unset value is all bits set.
class Date : public IComparable<Date>, public IStringConvertable, public ISerializable {
public:
    static constexpr int32_t UNSET = -1;

    Date() = default;
    Date(int year, int month, int day);

    int getYear() const { return static_cast<int>(static_cast<uint32_t>(m_value) >> 16); }
    int getMonth() const { return (m_value >> 8) & 0xFF; }
    int getDay() const { return m_value & 0xFF; }
    int32_t getValue() const { return m_value; }
    void setValue(int32_t value) { m_value = value; }
    bool isUnset() const { return m_value == UNSET; }

    bool equals(const Date& other) const override;
    bool lessThan(const Date& other) const override;
    bool greaterThan(const Date& other) const override;
    /// Writes "%d/%02d/%02d": year, month, day.
    void toString(IFormatable& out) const override;

    size_t getSerializedSize() const override { return 4; }
    void deserializeAt(const IByteBuffer& buffer, size_t offset) override;
    void deserialize(IByteStream& stream) override;
    void serializeAt(IByteBuffer& buffer, size_t offset) const override;
    void serialize(IByteStream& stream) const override;

private:
    void toBytes(uint8_t bytes[4], ByteOrder order) const;
    void fromBytes(const uint8_t bytes[4], ByteOrder order);

    int32_t m_value = UNSET;
};

} // namespace velmora
