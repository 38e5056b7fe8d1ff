#pragma once

#include "foundation/Date.h"
#include "foundation/Time.h"

#include <string>

namespace velmora {

/// A Date followed by a Time.
class DateTime : public IComparable<DateTime>, public IStringConvertable, public ISerializable {
public:
    /// Room for a formatted text, terminator included.
    static constexpr size_t FORMATTED_SIZE = 64;

    DateTime() = default;
    DateTime(const Date& date, const Time& time) : m_date(date), m_time(time) {}
    DateTime(int year, int month, int day, int hour, int minute, int second, int zoneSeconds = 0);

    const Date& getDate() const { return m_date; }
    const Time& getTime() const { return m_time; }
    Date& getDate() { return m_date; }
    Time& getTime() { return m_time; }

    /// The value under a strftime pattern, at most 63 characters. A value
    /// outside the calendar (unset, month 0, hour 24, ...) gives "".
    std::string formatted(const char* pattern) const;
    /// The same into a caller's buffer of at least FORMATTED_SIZE bytes;
    /// returns the length written.
    size_t formatted(const char* pattern, char* out, size_t size) const;
    /// The storage and display text, "2012-05-17 13:45:30".
    std::string toDisplayText() const;
    /// The current local time (the zone is the local offset).
    static DateTime now();

    bool equals(const DateTime& other) const override;
    bool lessThan(const DateTime& other) const override;
    bool greaterThan(const DateTime& other) const override;
    /// Writes "%d/%02d/%02d %02d:%02d:%02d".
    void toString(IFormatable& out) const override;

    size_t getSerializedSize() const override { return 8; }
    void deserializeAt(const IByteBuffer& buffer, size_t offset) override;
    void deserialize(IByteStream& stream) override;
    void serializeAt(IByteBuffer& buffer, size_t offset) const override;
    void serialize(IByteStream& stream) const override;

private:
    bool isInCalendar() const;

    Date m_date;
    Time m_time;
};

} // namespace velmora
