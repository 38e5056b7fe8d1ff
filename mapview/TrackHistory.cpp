#include "mapview/TrackHistory.h"

#include "db/DBManager.h"
#include "db/FormatableSQL.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/GPSInfo.h"

#include <algorithm>
#include <cstdio>

namespace velmora {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (no time zone, no
// library call that could consult TZ).
int64_t daysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, int64_t& year, int& month, int& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

bool isLeap(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int64_t year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// The value of count decimal digits at text; -1 when one is not a digit.
int digits(const char* text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::optional<int64_t> calendarSeconds(int64_t year, int month, int day, int hour, int minute, int second)
{
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour < 0 || hour > 23
        || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

bool hasCoordinate(const GPSInfo& info, size_t index)
{
    const std::vector<std::string>& fields = info.getFields();
    return index < fields.size() && !fields[index].empty();
}

} // namespace

std::optional<int64_t> TrackHistory::parseTimeText(const char* text)
{
    // Exactly the form DATETIME writes: "2026-01-31 17:05:09".
    if (text == nullptr)
        return std::nullopt;
    for (int i = 0; i < 19; ++i) {
        if (text[i] == '\0')
            return std::nullopt;
    }
    if (text[19] != '\0' || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':'
        || text[16] != ':')
        return std::nullopt;
    const int year = digits(text, 4);
    const int month = digits(text + 5, 2);
    const int day = digits(text + 8, 2);
    const int hour = digits(text + 11, 2);
    const int minute = digits(text + 14, 2);
    const int second = digits(text + 17, 2);
    if (year < 0)
        return std::nullopt;
    return calendarSeconds(year, month, day, hour, minute, second);
}

std::string TrackHistory::timeText(int64_t seconds)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year = 0;
    int month = 0, day = 0;
    civilFromDays(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(year), month, day,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

std::optional<int64_t> TrackHistory::sentenceUtc(const std::string& sentence)
{
    const GPSInfo info(sentence);
    const std::vector<std::string>& fields = info.getFields();
    if (fields.size() < 10 || fields[1].size() < 6 || fields[9].size() != 6)
        return std::nullopt;
    const char* time = fields[1].c_str();
    const char* date = fields[9].c_str();
    const int hour = digits(time, 2), minute = digits(time + 2, 2), second = digits(time + 4, 2);
    const int day = digits(date, 2), month = digits(date + 2, 2), shortYear = digits(date + 4, 2);
    if (shortYear < 0)
        return std::nullopt;
    const int year = shortYear < 80 ? 2000 + shortYear : 1900 + shortYear;
    return calendarSeconds(year, month, day, hour, minute, second);
}

std::string TrackHistory::deviceNow(const char* updateTime, const std::string& sentence, std::time_t nowUtc)
{
    int64_t offset = 0;
    const std::optional<int64_t> device = parseTimeText(updateTime);
    const std::optional<int64_t> utc = sentenceUtc(sentence);
    if (device && utc) {
        offset = *device - *utc;
        if (offset > LARGEST_CLOCK_OFFSET_S || offset < -LARGEST_CLOCK_OFFSET_S)
            offset = 0;
    }
    return timeText(static_cast<int64_t>(nowUtc) + offset);
}

int TrackHistory::load(const std::string& vehicleIdText, int hours, std::time_t nowUtc)
{
    DBManager& manager = DBManager::getInstance();
    GPSDataContainer& container = GPSDataContainer::getInstance();
    ScopedLock lock(container.getLock());
    if (hours <= 0)
        return manager.loadGPSData(vehicleIdText.c_str());
    // The vehicle's latest fix first: its sentence tells the device clock.
    const FormatableSQL latest("id = (SELECT MAX(id) FROM gps_data WHERE vehicle_id='%q')", vehicleIdText.c_str());
    if (latest.getText() == nullptr || manager.loadGPSData(vehicleIdText.c_str(), latest.getText()) == 0) {
        container.clear();
        return 0;
    }
    const GPSData& last = container.getList().back();
    const std::string now = deviceNow(last.getUpdateTime(), last.getGpsData(), nowUtc);
    const FormatableSQL since("update_time >= DATETIME('%q', '-%d hours')", now.c_str(), hours);
    if (since.getText() == nullptr) {
        container.clear();
        return 0;
    }
    return manager.loadGPSData(vehicleIdText.c_str(), since.getText());
}

int TrackHistory::loadBetween(const std::string& vehicleIdText, std::time_t fromUtc, std::time_t toUtc,
                              std::time_t nowUtc, int64_t* clockOffset)
{
    DBManager& manager = DBManager::getInstance();
    GPSDataContainer& container = GPSDataContainer::getInstance();
    ScopedLock lock(container.getLock());
    // The vehicle's latest fix tells how far its clock is from UTC.
    const FormatableSQL latest("id = (SELECT MAX(id) FROM gps_data WHERE vehicle_id='%q')", vehicleIdText.c_str());
    if (latest.getText() == nullptr || manager.loadGPSData(vehicleIdText.c_str(), latest.getText()) == 0) {
        container.clear();
        return 0;
    }
    const GPSData& last = container.getList().back();
    const std::optional<int64_t> deviceNowSeconds =
        parseTimeText(deviceNow(last.getUpdateTime(), last.getGpsData(), nowUtc).c_str());
    const int64_t offset = deviceNowSeconds ? *deviceNowSeconds - static_cast<int64_t>(nowUtc) : 0;
    if (clockOffset != nullptr) {
        *clockOffset = offset;
    }
    const std::string from = timeText(static_cast<int64_t>(fromUtc) + offset);
    const std::string to = timeText(static_cast<int64_t>(toUtc) + offset);
    const FormatableSQL between("update_time >= DATETIME('%q') AND update_time <= DATETIME('%q')", from.c_str(),
                                to.c_str());
    if (between.getText() == nullptr) {
        container.clear();
        return 0;
    }
    return manager.loadGPSData(vehicleIdText.c_str(), between.getText());
}

std::vector<MapCommands::TrackFix> TrackHistory::fixes(const GPSDataContainer::List& list, size_t count)
{
    std::vector<MapCommands::TrackFix> result;
    const size_t n = std::min(count, list.size());
    result.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const GPSInfo info(list[i].getGpsData());
        // A sentence without both coordinates would put a point at 0, 0.
        if (!info.hasPosition() || !hasCoordinate(info, 3) || !hasCoordinate(info, 5))
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
