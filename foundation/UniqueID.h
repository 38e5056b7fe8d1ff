#pragma once

#include "foundation/IComparable.h"
#include "foundation/IStringConvertable.h"

#include <cstdint>
#include <string>

namespace velmora {

/// A GUID: 16 bytes in GUID layout (Data1, Data2, Data3 little-endian in
/// memory, then Data4). The identity of a vehicle.
class UniqueID : public IComparable<UniqueID>, public IStringConvertable {
public:
    /// Length of the text form, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
    static constexpr size_t TEXT_LENGTH = 36;

    /// A new random (version 4) GUID.
    UniqueID();
    /// Converts the standard text form; throws std::invalid_argument when the
    /// text is not one. Use parse() to test without throwing.
    explicit UniqueID(const char* text);
    UniqueID(const UniqueID& other) = default;
    UniqueID& operator=(const UniqueID& other) = default;

    /// Converts text into id; false (id untouched) when it is not a GUID text.
    /// Accepts upper or lower case and optional surrounding braces.
    static bool parse(const char* text, UniqueID& id);
    /// A GUID from its 16 bytes in memory order.
    static UniqueID fromBytes(const uint8_t bytes[16]);

    uint32_t getData1() const;
    uint16_t getData2() const;
    uint16_t getData3() const;
    const uint8_t* getBytes() const { return m_bytes; }

    bool equals(const UniqueID& other) const override;
    bool lessThan(const UniqueID& other) const override;
    bool greaterThan(const UniqueID& other) const override;
    /// Writes the 36-character lower-case text.
    void toString(IFormatable& out) const override;
    /// The 36-character lower-case text.
    std::string toText() const;
    /// Writes the text and a terminator into out (at least 37 bytes).
    void toText(char* out) const;

    bool operator==(const UniqueID& other) const { return equals(other); }
    bool operator<(const UniqueID& other) const { return lessThan(other); }

private:
    uint8_t m_bytes[16];
};

} // namespace velmora
