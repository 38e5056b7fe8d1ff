// A vehicle's stored track for a duration: the device clock it is counted
// in and the page lines made of the fixes. Reading them from app.db is
// tested through the console's rules (tests/app).
#include "mapview/TrackHistory.h"

#include "db/GPSDataContainer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace velmora {
namespace {

// 2026-01-31 17:05:09 UTC.
constexpr std::time_t NOW = 1769879109;

// A $GPRMC sentence whose receiver time is utc, at a position.
std::string sentenceAt(std::time_t utc, double latitude = 48.1, double longitude = 11.5)
{
    tm parts{};
    gmtime_r(&utc, &parts);
    char text[160];
    std::snprintf(text, sizeof text, "$GPRMC,%02d%02d%02d.000,A,%02d%07.4f,N,%03d%07.4f,E,12.5,90.0,%02d%02d%02d,,,A",
                  parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(latitude),
                  (latitude - static_cast<int>(latitude)) * 60.0, static_cast<int>(longitude),
                  (longitude - static_cast<int>(longitude)) * 60.0, parts.tm_mday, parts.tm_mon + 1,
                  parts.tm_year % 100);
    return text;
}

// The wall-clock text of seconds since 1970 shifted by zone seconds, made
// with the C library (not with the code under test).
std::string clockText(std::time_t utc, int zoneSeconds)
{
    const std::time_t shifted = utc + zoneSeconds;
    tm parts{};
    gmtime_r(&shifted, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

TEST(TrackHistoryTest, TimeTextsAreReadOnlyInTheStoredForm)
{
    struct Row {
        const char* text;
        long long expected; // -1: not a time text
    };
    const Row rows[] = {
        {"2026-01-31 17:05:09", 1769879109},
        {"1970-01-01 00:00:00", 0},
        {"2024-02-29 23:59:59", 1709251199},
        {"2023-02-29 12:00:00", -1},
        {"2026-01-31 24:00:00", -1},
        {"2026-1-31 17:05:09", -1},
        {"2026-01-31 17:05:09 ", -1},
        {"2026-01-31T17:05:09", -1},
        {"", -1},
    };
    for (const Row& row : rows) {
        const std::optional<int64_t> seconds = TrackHistory::parseTimeText(row.text);
        EXPECT_EQ(seconds ? *seconds : -1, row.expected) << row.text;
        if (seconds) {
            EXPECT_EQ(TrackHistory::timeText(*seconds), row.text);
        }
    }
    EXPECT_FALSE(TrackHistory::parseTimeText(nullptr));
    EXPECT_EQ(TrackHistory::timeText(-1), "1969-12-31 23:59:59");
}

// The present moment is the console's UTC now moved by how far the device's
// clock was from its receiver's UTC at its latest fix.
TEST(TrackHistoryTest, ThePresentMomentIsReadInTheDevicesClock)
{
    struct Row {
        const char* device;
        std::string updateTime;
        std::string sentence;
        std::string expected;
    };
    const std::time_t fix = NOW - 7200; // the latest fix, two hours old
    const Row rows[] = {
        {"keeps UTC", clockText(fix, 0), sentenceAt(fix), clockText(NOW, 0)},
        {"keeps Central European summer time", clockText(fix, 7200), sentenceAt(fix), clockText(NOW, 7200)},
        {"keeps US Eastern time, a day behind UTC", clockText(NOW - 15 * 3600, -5 * 3600),
         sentenceAt(NOW - 15 * 3600), clockText(NOW, -5 * 3600)},
        {"keeps India time", clockText(fix, 19800), sentenceAt(fix), clockText(NOW, 19800)},
        {"runs 40 s fast", clockText(fix, 40), sentenceAt(fix), clockText(NOW, 40)},
        {"sends no receiver date", clockText(fix, 7200), "$GPRMC,150509,A,4806.0000,N,01130.0000,E,1,2,,,,A",
         clockText(NOW, 0)},
        {"has a receiver 19 years behind", clockText(fix, 0), sentenceAt(fix - 7168 * 86400), clockText(NOW, 0)},
        {"has no stored time", "", sentenceAt(fix), clockText(NOW, 0)},
        {"sent a broken sentence", clockText(fix, 3600), "$GPRMC,xx", clockText(NOW, 0)},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TrackHistory::deviceNow(row.updateTime.c_str(), row.sentence, NOW), row.expected) << row.device;
}

TEST(TrackHistoryTest, FixesWithoutAPositionAreLeftOutAndTheCountIsHonoured)
{
    GPSDataContainer::List list(6);
    const char* sentences[] = {
        "$GPRMC,170509,A,4806.0000,N,01130.0000,E,12.5,90.0,310126,,,A",
        "$GPRMC,170510,V,,,,,,,310126,,,N",
        "$GPRMC,170511,A,4806.0000,S,01130.0000,W,0.0,,310126,,,A",
        "$GPRMC,170512",
        "$GPRMC,170513,A,4807.0000,N,01131.0000,E,3.0,180.0,310126,,,A",
        // A receiver without a fix: its placeholder is no point at 0, 0.
        "$GPRMC,170514,V,0000.0000,N,00000.0000,E,0.00,0.00,310126,,,N",
    };
    for (size_t i = 0; i < list.size(); ++i) {
        list[i].setGpsData(sentences[i]);
        list[i].setUpdateTime(("2026-01-31 18:05:1" + std::to_string(i)).c_str());
    }
    const std::vector<MapCommands::TrackFix> all = TrackHistory::fixes(list, list.size());
    ASSERT_EQ(all.size(), 3u);
    EXPECT_DOUBLE_EQ(all[0].latitude, 48.1);
    EXPECT_DOUBLE_EQ(all[0].course, 90.0);
    EXPECT_DOUBLE_EQ(all[0].speed, 12.5);
    EXPECT_EQ(all[0].time, "2026-01-31 18:05:10");
    EXPECT_DOUBLE_EQ(all[1].longitude, -11.5);
    EXPECT_DOUBLE_EQ(all[1].course, -1.0);
    EXPECT_EQ(all[2].time, "2026-01-31 18:05:14");
    // Only as many as were loaded, even when the list holds more.
    EXPECT_EQ(TrackHistory::fixes(list, 3).size(), 2u);
    EXPECT_EQ(TrackHistory::fixes(list, 0).size(), 0u);
    EXPECT_EQ(TrackHistory::fixes(list, 99).size(), 3u);
}

TEST(TrackHistoryTest, ShortTracksGoAsALinePerFixLongOnesInBatches)
{
    auto track = [](size_t n) {
        std::vector<MapCommands::TrackFix> fixes(n);
        for (size_t i = 0; i < n; ++i) {
            fixes[i].latitude = 40.0 + static_cast<double>(i) * 1e-4;
            fixes[i].longitude = -3.0;
            fixes[i].time = TrackHistory::timeText(static_cast<int64_t>(NOW + i));
        }
        return fixes;
    };
    struct Row {
        size_t fixes;
        int pointLines;
        const char* pointLine;
    };
    const Row rows[] = {
        {0, 0, ""},
        {1, 1, "insertGpsInfo("},
        {TrackHistory::SINGLE_COMMAND_LIMIT, static_cast<int>(TrackHistory::SINGLE_COMMAND_LIMIT), "insertGpsInfo("},
        {TrackHistory::SINGLE_COMMAND_LIMIT + 1, 1, "insertGpsTrack(["},
        {2 * TrackHistory::BATCH_FIXES + 1, 3, "insertGpsTrack(["},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.fixes) + " fixes");
        const std::vector<MapCommands::TrackFix> fixes = track(row.fixes);
        const QStringList lines = TrackHistory::commands(fixes);
        if (row.fixes == 0) {
            EXPECT_TRUE(lines.isEmpty());
            continue;
        }
        ASSERT_EQ(lines.size(), row.pointLines + 2);
        EXPECT_EQ(lines.front(), MapCommands::showTrackingMap());
        EXPECT_EQ(lines.back(), MapCommands::showTrackingLine(fixes.back().latitude, fixes.back().longitude));
        // Every fix once, in order: each carries its own time text.
        qsizetype sent = 0;
        for (int i = 1; i <= row.pointLines; ++i) {
            EXPECT_TRUE(lines[i].startsWith(QLatin1String(row.pointLine)));
            sent += lines[i].count(QStringLiteral("'2026-"));
        }
        EXPECT_EQ(sent, static_cast<qsizetype>(row.fixes));
        EXPECT_TRUE(lines[1].contains(QString::fromStdString("'" + fixes.front().time + "'")));
        EXPECT_TRUE(lines[row.pointLines].endsWith(QString::fromStdString("'" + fixes.back().time + "']);"))
                    || lines[row.pointLines].endsWith(QString::fromStdString("'" + fixes.back().time + "');")));
    }
}

} // namespace
} // namespace velmora
