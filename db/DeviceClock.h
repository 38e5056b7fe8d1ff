#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace velmora {

/// The clock of a vehicle's recorder, as its stored fixes tell it.
///
/// A fix's update time is the date-time the device wrote into its message,
/// in the device's own clock, with no zone: a recorder may keep UTC or the
/// local time of wherever it was set up. "The last 3 hours" of a track is
/// therefore counted in that clock, not in the console's. Each stored fix
/// also carries the GPS receiver's UTC date and time in its sentence, so the
/// vehicle's latest fix tells how far its clock is from UTC; the present
/// moment in the device clock is UTC now plus that distance. When the latest
/// sentence has no readable date and time, or the distance is larger than
/// any zone (a receiver with a wrong date), the device clock is taken to be
/// UTC, the clock GPS-set recorders keep. Pure functions; any thread.
class DeviceClock {
public:
    /// The largest distance from UTC taken as a device clock's zone.
    static constexpr int64_t LARGEST_OFFSET_S = 26 * 3600;

    /// Seconds since 1970 of a "YYYY-MM-DD HH:MM:SS" text read as a
    /// zone-less calendar time; empty when it is not such a text.
    static std::optional<int64_t> parseTimeText(const char* text);
    /// The "YYYY-MM-DD HH:MM:SS" text of seconds since 1970, zone-less.
    static std::string timeText(int64_t seconds);
    /// Seconds since 1970 of the UTC date and time in a $GPRMC sentence
    /// (fields 9 and 1); empty when either is missing or not a calendar
    /// value. Two-digit years below 80 are 20xx, others 19xx.
    static std::optional<int64_t> sentenceUtc(const std::string& sentence);
    /// The present moment in the clock of a device whose latest fix has
    /// updateTime and sentence, given the console's UTC now.
    static std::string deviceNow(const char* updateTime, const std::string& sentence, std::time_t nowUtc);
};

} // namespace velmora
