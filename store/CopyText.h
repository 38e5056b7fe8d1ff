#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class UniqueID;

/// Rows in COPY's text format, built field by field: fields apart by a
/// tab, rows ended by a line break, backslash, tab and line breaks inside a
/// text escaped, \N for NULL. Numbers are written without the process
/// locale. Texts must be UTF-8 (StoreText::clean makes them so). Used by one
/// thread at a time.
class CopyText {
public:
    void text(std::string_view value);
    void null();
    void integer(int64_t value);
    /// value with six decimals ("47.376900"), as the console stores positions.
    void fixed6(double value);
    void uuid(const UniqueID& id);
    /// A time given as UTC microseconds since 1970.
    void timeMicros(int64_t micros);
    /// A time given as UTC seconds since 1970; NULL for StoreText::NO_TIME.
    void timeSeconds(int64_t seconds);
    void boolean(bool value);
    /// Ends the row.
    void endRow();

    const std::string& getData() const { return m_data; }
    size_t getRowCount() const { return m_rows; }
    bool isEmpty() const { return m_rows == 0; }
    void clear();
    void reserve(size_t bytes) { m_data.reserve(bytes); }

private:
    void separate();

    std::string m_data;
    size_t m_rows = 0;
    bool m_inRow = false;
};

} // namespace velmora
