#include "mapview/TrackHistory.h"

#include "db/DBManager.h"
#include "db/DeviceClock.h"
#include "db/FormatableSQL.h"
#include "db/SqliteHistoryReader.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/GPSInfo.h"
#include "rules/FixPosition.h"

#include <algorithm>
#include <cstdio>

namespace velmora {

std::optional<int64_t> TrackHistory::parseTimeText(const char* text)
{
    return DeviceClock::parseTimeText(text);
}

std::string TrackHistory::timeText(int64_t seconds)
{
    return DeviceClock::timeText(seconds);
}

std::optional<int64_t> TrackHistory::sentenceUtc(const std::string& sentence)
{
    return DeviceClock::sentenceUtc(sentence);
}

std::string TrackHistory::deviceNow(const char* updateTime, const std::string& sentence, std::time_t nowUtc)
{
    return DeviceClock::deviceNow(updateTime, sentence, nowUtc);
}

int TrackHistory::load(const std::string& vehicleIdText, int hours, std::time_t nowUtc)
{
    return SqliteHistoryReader::fillTrack(vehicleIdText, hours, nowUtc);
}

namespace {

template <typename List>
std::vector<MapCommands::TrackFix> positionsOf(const List& list, size_t count)
{
    std::vector<MapCommands::TrackFix> result;
    const size_t n = std::min(count, list.size());
    result.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const GPSInfo info(list[i].getGpsData());
        // A sentence without both coordinates, or a receiver's placeholder
        // for no fix, would put a point at 0, 0: the same rule as for the
        // live position.
        if (!FixPosition::has(info))
            continue;
        MapCommands::TrackFix fix;
        fix.latitude = info.getLatitude();
        fix.longitude = info.getLongitude();
        fix.course = info.getBearing();
        fix.speed = info.getSpeed();
        fix.time = list[i].getUpdateTime();
        result.push_back(std::move(fix));
    }
    return result;
}

} // namespace

std::vector<MapCommands::TrackFix> TrackHistory::fixes(const GPSDataContainer::List& list, size_t count)
{
    return positionsOf(list, count);
}

std::vector<MapCommands::TrackFix> TrackHistory::fixes(const std::vector<GPSData>& track)
{
    return positionsOf(track, track.size());
}

QStringList TrackHistory::commands(const std::vector<MapCommands::TrackFix>& fixes)
{
    QStringList lines;
    if (fixes.empty())
        return lines;
    lines << MapCommands::showTrackingMap();
    if (fixes.size() <= SINGLE_COMMAND_LIMIT) {
        for (const MapCommands::TrackFix& fix : fixes)
            lines << MapCommands::insertGpsInfo(fix);
    } else {
        for (size_t i = 0; i < fixes.size(); i += BATCH_FIXES)
            lines << MapCommands::insertGpsTrack(fixes.data() + i, std::min(BATCH_FIXES, fixes.size() - i));
    }
    lines << MapCommands::showTrackingLine(fixes.back().latitude, fixes.back().longitude);
    return lines;
}

} // namespace velmora
