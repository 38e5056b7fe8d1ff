#pragma once

#include "db/DeviceClock.h"
#include "db/GPSDataContainer.h"
#include "mapview/MapCommands.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

/// A vehicle's stored track over the last hours, read from the tracking
/// database into the GPSDataContainer and turned into the page's history
/// commands.
///
/// "The last 3 hours" are counted in the device's own clock (DeviceClock).
/// A fix belongs to the duration when its update_time is at or after the
/// present moment minus the duration. There is no upper bound: a device
/// clock a little ahead of the console must not hide the latest fixes.
class TrackHistory {
public:
    /// Up to this many fixes are sent as one insertGpsInfo line each;
    /// longer tracks go in insertGpsTrack lines of BATCH_FIXES points.
    static constexpr size_t SINGLE_COMMAND_LIMIT = 500;
    static constexpr size_t BATCH_FIXES = 5000;
    /// The largest distance from UTC taken as a device clock's zone.
    static constexpr int64_t LARGEST_CLOCK_OFFSET_S = DeviceClock::LARGEST_OFFSET_S;

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

    /// Fills the GPSDataContainer with the vehicle's fixes of the last hours
    /// (hours <= 0: every stored fix), in stored order, and returns their
    /// number. Throws DatabaseException. Callers that then walk the list
    /// hold the container's lock around both.
    static int load(const std::string& vehicleIdText, int hours, std::time_t nowUtc);

    /// The fixes of list that have a position, at most the first count.
    static std::vector<MapCommands::TrackFix> fixes(const GPSDataContainer::List& list, size_t count);
    /// The fixes of a track as a HistoryReader reads it that have a position.
    static std::vector<MapCommands::TrackFix> fixes(const std::vector<GPSData>& track);
    /// The history commands for fixes: showTrackingMap, the points, and
    /// showTrackingLine at the last one; none when fixes is empty.
    static QStringList commands(const std::vector<MapCommands::TrackFix>& fixes);
};

} // namespace velmora
