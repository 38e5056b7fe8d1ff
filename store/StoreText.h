#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class DateTime;

/// How texts and times of device messages become store values. The store
/// holds what the console's app.db holds: texts cut to the same limits,
/// device times as app.db's DATETIME() reads them, but as timestamptz in UTC
/// (devices send no zone; their clock text is taken as UTC and read back the
/// same). Unlike SQLite, the server refuses ill-formed UTF-8, so such bytes
/// become U+FFFD.
class StoreText {
public:
    /// A time that is not one (stored as NULL).
    static constexpr int64_t NO_TIME = INT64_MIN;

    /// text cut to at most maxBytes bytes, never inside a UTF-8 character
    /// (the same cut as the console's stored records).
    static std::string cut(std::string_view text, size_t maxBytes);
    /// text as well-formed UTF-8: each ill-formed sequence (its maximal
    /// subpart) becomes U+FFFD; well-formed text is returned unchanged.
    static std::string clean(std::string_view text);
    /// Whether text is well-formed UTF-8.
    static bool isClean(std::string_view text);

    /// The time text the console stores for a device time,
    /// "2026-01-31 17:05:09"; "" when the time is not in the calendar.
    static std::string deviceTimeText(const DateTime& time);
    /// Seconds since 1970 (UTC) of a stored time text, read as SQLite's
    /// DATETIME() reads the console's texts: exactly "YYYY-MM-DD HH:MM:SS"
    /// with every field in range; NO_TIME for anything else.
    static int64_t parseTime(std::string_view text);
    /// "YYYY-MM-DD HH:MM:SS" of seconds since 1970 (UTC); "" for NO_TIME.
    static std::string formatTime(int64_t seconds);

    /// Days since 1970-01-01 of a civil date (proleptic Gregorian).
    static int64_t daysFromCivil(int year, int month, int day);
    /// The civil date of a day number.
    static void civilFromDays(int64_t days, int& year, int& month, int& day);
    /// The day (since 1970, UTC) a time in microseconds falls on.
    static int64_t dayOfMicros(int64_t micros);
    /// The wall clock, UTC microseconds since 1970.
    static int64_t nowMicros();
};

} // namespace velmora
