#include "rules/AlarmKinds.h"
#include "rules/WatchRules.h"
#include "rules/Zone.h"
#include "tests/rules/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

// A fix of a vehicle driving north along 8°E: its time, its speed and how
// many steps of 0.01° of latitude north of 47°N it is. One step is
// 0.01 x 111,194.93 m = 1,111.95 m on the page's sphere.
struct Fix {
    int time;
    double kmh;
    int steps;
};

constexpr double STEP_METRES = 1111.9492664;

struct Expected {
    AlarmRequest::Step step;
    int time;
    int since;
    double peakKmh;
    int duration;    // NOTE only
    double metres;   // NOTE only
};

struct Track {
    const char* what;
    std::vector<Fix> fixes;
    std::vector<Expected> expected;
};

constexpr auto RAISE = AlarmRequest::RAISE;
constexpr auto NOTE = AlarmRequest::NOTE;

// The limit is 90 km/h, the speeding time 10 s.
const std::vector<Track> TRACKS = {
    {"starts after 10 s above, ends at the first fix at or below the limit",
     {{0, 80, 0}, {5, 100, 1}, {10, 110, 2}, {15, 100, 3}, {20, 95, 4}, {25, 85, 5}, {30, 80, 6}},
     {{RAISE, 15, 5, 110, 0, 0}, {NOTE, 25, 5, 110, 20, 4 * STEP_METRES}}},
    {"9 s above is no episode", {{0, 80, 0}, {5, 100, 1}, {14, 100, 2}, {15, 80, 3}, {40, 80, 4}}, {}},
    {"at the limit is not above it", {{0, 90, 0}, {20, 90, 1}, {40, 90, 2}}, {}},
    {"the peak reached after the alarm is the episode's",
     {{0, 100, 0}, {10, 105, 1}, {20, 130, 2}, {30, 80, 3}},
     {{RAISE, 10, 0, 105, 0, 0}, {NOTE, 30, 0, 130, 30, 3 * STEP_METRES}}},
    {"two episodes, two alarms",
     {{0, 100, 0}, {10, 100, 1}, {20, 80, 2}, {30, 120, 3}, {35, 120, 4}, {40, 120, 5}, {50, 60, 6}},
     {{RAISE, 10, 0, 100, 0, 0},
      {NOTE, 20, 0, 100, 20, 2 * STEP_METRES},
      {RAISE, 40, 30, 120, 0, 0},
      {NOTE, 50, 30, 120, 20, 3 * STEP_METRES}}},
};

GeoPoint place(int steps) { return {47.0 + 0.01 * steps, 8.0}; }

} // namespace

TEST(SpeedingRule, Episodes) {
    for (const Track& track : TRACKS) {
        SCOPED_TRACE(track.what);
        WatchRules rules;
        WatchSettings settings;
        settings.speedLimitKmh = 90;
        rules.setSettings(settings);
        WatchRules::Requests out;
        for (const Fix& fix : track.fixes) {
            rules.fix(vehicleId(1), fix.time, place(fix.steps), fix.kmh * KNOTS_PER_KMH, out);
        }
        ASSERT_EQ(out.size(), track.expected.size());
        for (size_t i = 0; i < out.size(); ++i) {
            SCOPED_TRACE(i);
            const Expected& e = track.expected[i];
            EXPECT_EQ(out[i].kind, AlarmKinds::SPEEDING);
            EXPECT_EQ(out[i].step, e.step);
            EXPECT_EQ(out[i].time, e.time);
            EXPECT_EQ(out[i].since, e.since);
            EXPECT_NEAR(out[i].speedKmh, e.peakKmh, 1e-9);
            EXPECT_EQ(out[i].limitKmh, 90.0);
            EXPECT_EQ(out[i].zoneId, 0);
            if (e.step == NOTE) {
                EXPECT_EQ(out[i].durationSeconds, e.duration);
                EXPECT_NEAR(out[i].distanceMetres, e.metres, 0.5);
            }
        }
    }
}

TEST(SpeedingRule, NoLimitNoEpisode) {
    WatchRules rules;
    WatchRules::Requests out;
    for (int t = 0; t <= 100; t += 5) {
        rules.fix(vehicleId(1), t, place(t), 300 * KNOTS_PER_KMH, out);
    }
    EXPECT_TRUE(out.empty());
}

TEST(SpeedingRule, WhatTheAlarmAndItsEndSay) {
    WatchRules rules;
    WatchSettings settings;
    settings.speedLimitKmh = 80;
    settings.speedingSeconds = 20;
    rules.setSettings(settings);
    WatchRules::Requests out;
    // 2026-12-09 18:00:00 UTC.
    const std::time_t t0 = 1796839200;
    rules.fix(vehicleId(1), t0, place(0), 101.6 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), t0 + 20, place(1), 96 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), t0 + 125, place(2), 70 * KNOTS_PER_KMH, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].title, "Speeding 102 km/h, limit 80 km/h");
    EXPECT_EQ(out[0].text, "Above 80 km/h since 2026-12-09 18:00:00, 102 km/h so far");
    EXPECT_EQ(out[1].text, "Speeding ended at 2026-12-09 18:02:05: 2 min 5 s, 2.2 km, peak 102 km/h");
}

TEST(SpeedingRule, ZoneLimitsOverrideTheSettingAndTheLowestWins) {
    // The fleet's limit is 90. Town (1 km round C) has 50, School (300 m
    // round C, inside Town) 30, and Motorway (1 km round M) 120.
    const GeoPoint c{47.0, 8.0};
    const GeoPoint m{47.0, 8.2};
    Zone town = Zone::circle(1, "Town", c, 1000.0);
    town.setSpeedLimitKmh(50);
    Zone school = Zone::circle(2, "School", c, 300.0);
    school.setSpeedLimitKmh(30);
    Zone motorway = Zone::circle(3, "Motorway", m, 1000.0);
    motorway.setSpeedLimitKmh(120);

    struct Row {
        const char* what;
        GeoPoint at;
        double kmh;
        bool raised;
        double limit;
        int zone;
    };
    const Row rows[] = {
        {"70 in Town breaks its 50", moved(c, 0, 600), 70, true, 50, 1},
        {"40 by the School breaks its 30, not Town's 50", c, 40, true, 30, 2},
        {"45 in Town is within its 50", moved(c, 0, 600), 45, false, 0, 0},
        {"100 on the Motorway is within its 120", m, 100, false, 0, 0},
        {"100 in the open breaks the fleet's 90", moved(c, 0, 5000), 100, true, 90, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WatchRules rules;
        WatchSettings settings;
        settings.speedLimitKmh = 90;
        rules.setSettings(settings);
        ASSERT_EQ(rules.setZones({town, school, motorway}), 3u);
        WatchRules::Requests out;
        for (int t = 0; t <= 20; t += 5) {
            rules.fix(vehicleId(1), t, row.at, row.kmh * KNOTS_PER_KMH, out);
        }
        ASSERT_EQ(out.size(), row.raised ? 1u : 0u);
        if (row.raised) {
            EXPECT_EQ(out[0].limitKmh, row.limit);
            EXPECT_EQ(out[0].zoneId, row.zone);
        }
    }
}

TEST(SpeedingRule, LeavingALowLimitEndsTheEpisode) {
    const GeoPoint c{47.0, 8.0};
    Zone town = Zone::circle(1, "Town", c, 1000.0);
    town.setSpeedLimitKmh(50);
    WatchRules rules;
    WatchSettings settings;
    settings.speedLimitKmh = 90;
    rules.setSettings(settings);
    ASSERT_TRUE(rules.putZone(town));
    WatchRules::Requests out;
    // 70 km/h east through Town from 18:00:00: 600 m, 800 m inside, then
    // 1,200 m out.
    const std::time_t t0 = 1796839200;
    rules.fix(vehicleId(1), t0, moved(c, 0, 600), 70 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), t0 + 10, moved(c, 0, 800), 70 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), t0 + 20, moved(c, 0, 1200), 70 * KNOTS_PER_KMH, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].step, AlarmRequest::RAISE);
    EXPECT_EQ(out[0].text, "Above 50 km/h in zone Town since 2026-12-09 18:00:00, 70 km/h so far");
    EXPECT_EQ(out[1].step, AlarmRequest::NOTE);
    EXPECT_EQ(out[1].durationSeconds, 20);
    EXPECT_NEAR(out[1].distanceMetres, 600.0, 0.5);
    EXPECT_EQ(out[1].zoneId, 1);
}

TEST(SpeedingRule, FallingSilentEndsTheEpisodeAtTheLastFix) {
    WatchRules rules;
    WatchSettings settings;
    settings.speedLimitKmh = 90;
    rules.setSettings(settings);
    WatchRules::Requests out;
    rules.fix(vehicleId(1), 0, place(0), 120 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), 10, place(1), 125 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), 15, place(2), 120 * KNOTS_PER_KMH, out);
    ASSERT_EQ(out.size(), 1u);
    out.clear();
    rules.tick(615, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, AlarmKinds::SILENT);
    EXPECT_EQ(out[1].kind, AlarmKinds::SPEEDING);
    EXPECT_EQ(out[1].step, AlarmRequest::NOTE);
    EXPECT_EQ(out[1].time, 15);
    EXPECT_EQ(out[1].durationSeconds, 15);
    EXPECT_NEAR(out[1].distanceMetres, 2 * STEP_METRES, 0.5);
    EXPECT_NEAR(out[1].speedKmh, 125.0, 1e-9);
    // Back with a fix above the limit: a new run, counted from here.
    out.clear();
    rules.fix(vehicleId(1), 2000, place(3), 120 * KNOTS_PER_KMH, out);
    rules.fix(vehicleId(1), 2005, place(4), 120 * KNOTS_PER_KMH, out);
    EXPECT_TRUE(ofStep(out, AlarmRequest::RAISE).empty());
    rules.fix(vehicleId(1), 2010, place(5), 120 * KNOTS_PER_KMH, out);
    ASSERT_EQ(ofStep(out, AlarmRequest::RAISE).size(), 1u);
    EXPECT_EQ(ofStep(out, AlarmRequest::RAISE)[0].since, 2000);
}
