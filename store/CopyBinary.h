#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class UniqueID;

/// Rows in COPY's binary format (COPY ... FROM STDIN (FORMAT binary)): what
/// the server stores without parsing a text for each value, which is most
/// of its work on fixes. The header is written when the object is made,
/// the trailer by finish(). Texts must be UTF-8. Used by one thread.
class CopyBinary {
public:
    /// Starts the data with the format's header.
    CopyBinary();

    /// Begins a row of fields values.
    void row(int16_t fields);
    void text(std::string_view value);
    void null();
    void bigint(int64_t value);
    void uuid(const UniqueID& id);
    /// A timestamptz given as UTC microseconds since 1970.
    void timeMicros(int64_t micros);
    /// A timestamptz given as UTC seconds since 1970; NULL for StoreText::NO_TIME.
    void timeSeconds(int64_t seconds);
    /// Ends the data with the trailer; nothing may follow.
    void finish();

    const std::string& getData() const { return m_data; }
    size_t getRowCount() const { return m_rows; }
    void reserve(size_t bytes) { m_data.reserve(bytes); }

private:
    void put16(uint16_t value);
    void put32(uint32_t value);
    void put64(uint64_t value);

    std::string m_data;
    size_t m_rows = 0;
};

} // namespace velmora
