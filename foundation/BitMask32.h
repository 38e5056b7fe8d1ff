#pragma once

#include "foundation/IComparable.h"
#include "foundation/IStringConvertable.h"

#include <cstdint>

namespace velmora {

/// A set of 32 flags.
class BitMask32 : public IStringConvertable, public IComparable<BitMask32> {
public:
    explicit BitMask32(uint32_t value = 0) : m_value(value) {}

    uint32_t getValue() const { return m_value; }
    void setValue(uint32_t value) { m_value = value; }
    bool isSet(int bit) const { return bit >= 0 && bit < 32 && (m_value >> bit & 1u) != 0; }

    bool equals(const BitMask32& other) const override { return m_value == other.m_value; }
    bool lessThan(const BitMask32& other) const override { return m_value < other.m_value; }
    bool greaterThan(const BitMask32& other) const override { return m_value > other.m_value; }
    /// Writes "0b" and 32 binary digits, bit 31 first.
    void toString(IFormatable& out) const override;

private:
    uint32_t m_value;
};

} // namespace velmora
