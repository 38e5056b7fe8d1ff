#include "foundation/DateTime.h"

#include "foundation/AppConstants.h"
#include "foundation/ClassicLocale.h"
#include "foundation/FormatableBuffer.h"
#include "foundation/IByteBuffer.h"

#include <ctime>

namespace velmora {

namespace {

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// 0 = Sunday, for the proleptic Gregorian calendar (Sakamoto's method).
int weekday(int year, int month, int day)
{
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

int dayOfYear(int year, int month, int day)
{
    static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    return before[month - 1] + day - 1 + (month > 2 && isLeapYear(year) ? 1 : 0);
}

} // namespace

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second,
                   int zoneSeconds)
    : m_date(year, month, day), m_time(hour, minute, second, zoneSeconds)
{
}

bool DateTime::isInCalendar() const
{
    static const int daysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = m_date.getYear();
    const int month = m_date.getMonth();
    const int day = m_date.getDay();
    if (m_date.isUnset() || year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    const int lastDay = daysIn[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
    return day <= lastDay && m_time.getHour() <= 23 && m_time.getMinute() <= 59 &&
           m_time.getSecond() <= 60;
}

size_t DateTime::formatted(const char* pattern, char* out, size_t size) const
{
    if (size == 0)
        return 0;
    out[0] = '\0';
    if (pattern == nullptr || !isInCalendar())
        return 0;

    // The weekday and day of the year come from the date alone, computed
    // here rather than by mktime, which reads the time-zone state that other
    // threads may be changing.
    std::tm value{};
    value.tm_year = m_date.getYear() - 1900;
    value.tm_mon = m_date.getMonth() - 1;
    value.tm_mday = m_date.getDay();
    value.tm_hour = m_time.getHour();
    value.tm_min = m_time.getMinute();
    value.tm_sec = m_time.getSecond();
    value.tm_isdst = -1;
    value.tm_wday = weekday(m_date.getYear(), m_date.getMonth(), m_date.getDay());
    value.tm_yday = dayOfYear(m_date.getYear(), m_date.getMonth(), m_date.getDay());
    const size_t room = size < FORMATTED_SIZE ? size : FORMATTED_SIZE;
    // Day and month names and AM/PM in English whatever the user's locale:
    // the text is stored and compared, and the page reads it back.
    const size_t length = strftime_l(out, room, pattern, &value, ClassicLocale::handle());
    if (length == 0)
        out[0] = '\0';
    return length;
}

std::string DateTime::formatted(const char* pattern) const
{
    char text[FORMATTED_SIZE];
    const size_t length = formatted(pattern, text, sizeof text);
    return std::string(text, length);
}

std::string DateTime::toDisplayText() const
{
    AppConstants& constants = AppConstants::getInstance();
    FormatableBuffer<64> pattern;
    pattern.format("%s %s", constants.getDateFormat(constants.getDateFormatIndex()),
                   constants.getTimeFormat(constants.getTimeFormatIndex()));
    return formatted(pattern.getText());
}

DateTime DateTime::now()
{
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    return DateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec, static_cast<int>(local.tm_gmtoff));
}

bool DateTime::equals(const DateTime& other) const
{
    return m_date.equals(other.m_date) && m_time.equals(other.m_time);
}

bool DateTime::lessThan(const DateTime& other) const
{
    return m_date.lessThan(other.m_date) ||
           (m_date.equals(other.m_date) && m_time.lessThan(other.m_time));
}

bool DateTime::greaterThan(const DateTime& other) const
{
    return m_date.greaterThan(other.m_date) ||
           (m_date.equals(other.m_date) && m_time.greaterThan(other.m_time));
}

void DateTime::toString(IFormatable& out) const
{
    out.format("%d/%02d/%02d %02d:%02d:%02d", m_date.getYear(), m_date.getMonth(),
               m_date.getDay(), m_time.getHour(), m_time.getMinute(), m_time.getSecond());
}

void DateTime::deserializeAt(const IByteBuffer& buffer, size_t offset)
{
    m_date.deserializeAt(buffer, offset);
    m_time.deserializeAt(buffer, offset + 4);
}

void DateTime::deserialize(IByteStream& stream)
{
    m_date.deserialize(stream);
    m_time.deserialize(stream);
}

void DateTime::serializeAt(IByteBuffer& buffer, size_t offset) const
{
    m_date.serializeAt(buffer, offset);
    m_time.serializeAt(buffer, offset + 4);
}

void DateTime::serialize(IByteStream& stream) const
{
    m_date.serialize(stream);
    m_time.serialize(stream);
}

} // namespace velmora
