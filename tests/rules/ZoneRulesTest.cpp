#include "rules/AlarmKinds.h"
#include "rules/WatchRules.h"
#include "rules/Zone.h"
#include "tests/rules/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int ENTRY = AlarmKinds::ZONE_ENTRY;
constexpr int EXIT = AlarmKinds::ZONE_EXIT;

// A circle of 100 m round CENTRE; a fix is given as its time and how far
// east of the centre it lies, so inside means |east| <= 100.
const GeoPoint CENTRE{47.0, 8.0};

struct Fix {
    int time;
    double east;
};

struct Raised {
    int kind;
    int time;
    int since;
};

struct Track {
    const char* what;
    bool onEntry;
    bool onExit;
    int dwell;
    std::vector<Fix> fixes;
    std::vector<Raised> raised;
};

const std::vector<Track> TRACKS = {
    {"entry counts once the fixes have been inside for the dwell time", true, true, 30,
     {{0, -300}, {10, -50}, {20, 0}, {39, 20}, {40, 50}, {50, 60}},
     {{ENTRY, 40, 10}}},
    {"29 s inside is not yet an entry", true, true, 30, {{0, -300}, {10, -50}, {20, 0}, {39, 50}}, {}},
    {"a drive-by through the middle fires nothing", true, true, 30,
     {{0, -300}, {10, -60}, {20, 0}, {30, 60}, {40, 300}, {200, 300}},
     {}},
    {"leaving counts once the fixes have been outside for the dwell time", true, true, 30,
     {{0, -300}, {10, 0}, {40, 0}, {50, 200}, {79, 250}, {80, 300}},
     {{ENTRY, 40, 10}, {EXIT, 80, 50}}},
    {"a vehicle whose first fix is inside raises no entry, but its leaving counts", true, true, 30,
     {{0, 0}, {100, 10}, {110, 300}, {140, 300}},
     {{EXIT, 140, 110}}},
    {"jitter across the edge from inside fires nothing", true, true, 30,
     {{0, 95}, {5, 105}, {10, 95}, {15, 105}, {20, 95}, {25, 105}, {30, 95}, {35, 105}, {40, 95}, {45, 105},
      {50, 95}, {55, 105}, {60, 95}, {65, 105}, {70, 95}},
     {}},
    {"jitter across the edge from outside fires nothing", true, true, 30,
     {{0, 105}, {5, 95}, {10, 105}, {15, 95}, {20, 105}, {25, 95}, {30, 105}, {35, 95}, {40, 105}, {45, 95},
      {50, 105}, {55, 95}, {60, 105}},
     {}},
    {"after jitter, the dwell counts from the first fix of the stay", true, true, 30,
     {{0, 105}, {5, 95}, {10, 105}, {15, 95}, {20, 90}, {30, 50}, {44, 0}, {45, 0}},
     {{ENTRY, 45, 15}}},
    {"a zone on entry only stays quiet on exit", true, false, 30,
     {{0, -300}, {10, 0}, {40, 0}, {50, 300}, {100, 300}},
     {{ENTRY, 40, 10}}},
    {"a zone on exit only stays quiet on entry", false, true, 30,
     {{0, -300}, {10, 0}, {40, 0}, {50, 300}, {100, 300}},
     {{EXIT, 100, 50}}},
    {"dwell 0 counts the first fix inside", true, true, 0, {{0, -300}, {10, 0}, {20, 300}}, {{ENTRY, 10, 10}, {EXIT, 20, 20}}},
    {"in and out twice: two entries and two exits", true, true, 10,
     {{0, -300}, {10, 0}, {20, 0}, {30, 300}, {40, 300}, {50, 0}, {60, 0}, {70, 300}, {80, 300}},
     {{ENTRY, 20, 10}, {EXIT, 40, 30}, {ENTRY, 60, 50}, {EXIT, 80, 70}}},
    {"a fix older than the last is not counted", true, true, 30,
     {{0, -300}, {100, 0}, {50, 300}, {130, 0}},
     {{ENTRY, 130, 100}}},
};

} // namespace

TEST(ZoneRules, TracksThroughACircle) {
    for (const Track& track : TRACKS) {
        SCOPED_TRACE(track.what);
        for (WatchRules::Lookup lookup : {WatchRules::Lookup::Index, WatchRules::Lookup::Linear}) {
            WatchRules rules(lookup);
            Zone zone = Zone::circle(7, "Depot", CENTRE, 100.0);
            zone.setAlarmOnEntry(track.onEntry);
            zone.setAlarmOnExit(track.onExit);
            zone.setDwellSeconds(track.dwell);
            ASSERT_TRUE(rules.putZone(zone));
            WatchRules::Requests out;
            for (const Fix& fix : track.fixes) {
                rules.fix(vehicleId(1), fix.time, moved(CENTRE, 0, fix.east), 0.0, out);
            }
            ASSERT_EQ(out.size(), track.raised.size());
            for (size_t i = 0; i < out.size(); ++i) {
                EXPECT_EQ(out[i].step, AlarmRequest::RAISE);
                EXPECT_EQ(out[i].kind, track.raised[i].kind) << i;
                EXPECT_EQ(out[i].time, track.raised[i].time) << i;
                EXPECT_EQ(out[i].since, track.raised[i].since) << i;
                EXPECT_EQ(out[i].zoneId, 7);
                EXPECT_EQ(out[i].vehicle, vehicleId(1));
                EXPECT_TRUE(out[i].hasPosition);
                EXPECT_EQ(out[i].title, std::string(out[i].kind == ENTRY ? "Entered Depot" : "Left Depot"));
            }
        }
    }
}

TEST(ZoneRules, AZoneThatAppearsOrMovesSeedsTheVehiclesAlreadyInside) {
    WatchRules rules;
    WatchRules::Requests out;
    const UniqueID parked = vehicleId(1);
    const UniqueID arriving = vehicleId(2);
    rules.fix(parked, 0, CENTRE, 0, out);
    rules.fix(arriving, 0, moved(CENTRE, 0, -500), 0, out);
    // The zone is drawn round the parked vehicle.
    ASSERT_TRUE(rules.putZone(Zone::circle(1, "Yard", CENTRE, 100.0)));
    for (int t = 10; t <= 100; t += 10) {
        rules.fix(parked, t, CENTRE, 0, out);
        rules.fix(arriving, t, moved(CENTRE, 0, t >= 50 ? 0 : -500), 0, out);
    }
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].vehicle, arriving);
    EXPECT_EQ(out[0].time, 80);

    // Renaming keeps what is known: no new entry, and the parked vehicle's
    // leaving still counts.
    Zone renamed = Zone::circle(1, "Yard North", CENTRE, 100.0);
    renamed.setAlarmOnExit(true);
    ASSERT_TRUE(rules.putZone(renamed));
    out.clear();
    rules.fix(parked, 110, moved(CENTRE, 0, 400), 0, out);
    rules.fix(parked, 140, moved(CENTRE, 0, 400), 0, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, EXIT);
    EXPECT_EQ(out[0].title, "Left Yard North");

    // Moving the outline over the parked vehicle is a new zone to it.
    out.clear();
    ASSERT_TRUE(rules.putZone(Zone::circle(1, "Yard North", moved(CENTRE, 0, 400), 100.0)));
    for (int t = 150; t <= 300; t += 10) {
        rules.fix(parked, t, moved(CENTRE, 0, 400), 0, out);
    }
    EXPECT_TRUE(out.empty());

    // A zone taken away says nothing of the vehicles in it.
    ASSERT_TRUE(rules.removeZone(1));
    rules.fix(arriving, 310, moved(CENTRE, 0, 1000), 0, out);
    rules.fix(arriving, 400, moved(CENTRE, 0, 1000), 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(rules.removeZone(1));
    EXPECT_EQ(rules.getZoneCount(), 0u);
}

TEST(ZoneRules, ReplacingAllZonesKeepsTheUnchangedOnes) {
    WatchRules rules;
    WatchRules::Requests out;
    Zone a = Zone::circle(1, "A", CENTRE, 100.0);
    a.setAlarmOnExit(true);
    const Zone b = Zone::circle(2, "B", moved(CENTRE, 0, 1000), 100.0);
    ASSERT_EQ(rules.setZones({a, b}), 2u);
    rules.fix(vehicleId(1), 0, CENTRE, 0, out);
    // Reloading the same zones (as after an edit elsewhere) drops B and
    // keeps A: the vehicle inside A still leaves it with an alarm.
    ASSERT_EQ(rules.setZones({a, Zone::circle(3, "bad", CENTRE, -5.0)}), 1u);
    EXPECT_EQ(rules.findZone(2), nullptr);
    rules.fix(vehicleId(1), 10, moved(CENTRE, 0, 500), 0, out);
    rules.fix(vehicleId(1), 40, moved(CENTRE, 0, 500), 0, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, EXIT);
}

TEST(ZoneRules, CircleRadiusIsMetresOnTheGround) {
    // A circle of 1,000 m at 70°N. One degree of latitude is 111,194.93 m
    // on the page's sphere; one degree of longitude there is that times
    // cos 70° = 38,030.90 m. The places are 990 m and 1,010 m away.
    struct Row {
        const char* what;
        GeoPoint point;
        bool inside;
    };
    const GeoPoint centre{70.0, 25.0};
    const Row rows[] = {
        {"990 m north", {70.0089033, 25.0}, true},
        {"1,010 m north", {70.0090831, 25.0}, false},
        {"990 m south", {69.9910967, 25.0}, true},
        {"990 m east", {70.0, 25.0260315}, true},
        {"1,010 m east", {70.0, 25.0265573}, false},
        {"990 m west", {70.0, 24.9739685}, true},
        {"1,010 m west", {70.0, 24.9734427}, false},
    };
    const Zone zone = Zone::circle(1, "North", centre, 1000.0);
    WatchRules rules;
    ASSERT_TRUE(rules.putZone(zone));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(zone.contains(row.point), row.inside);
        EXPECT_EQ(rules.zonesAt(row.point).size(), row.inside ? 1u : 0u);
    }
}

TEST(ZoneRules, ShapesAcrossTheAntimeridian) {
    struct Row {
        const char* what;
        GeoPoint point;
        bool inside;
    };
    // A strip one degree wide from 179.5°E to 179.5°W.
    const Zone strip = Zone::polygon(1, "Strip", {{10, 179.5}, {10, -179.5}, {11, -179.5}, {11, 179.5}});
    const Row stripRows[] = {
        {"just west of the line", {10.5, 179.9}, true},
        {"just east of the line", {10.5, -179.9}, true},
        {"on the line as 180", {10.5, 180.0}, true},
        {"on the line as -180", {10.5, -180.0}, true},
        {"west of the strip", {10.5, 179.4}, false},
        {"east of the strip", {10.5, -179.4}, false},
        {"the rest of the world is not inside", {10.5, 0.0}, false},
        {"north of the strip", {11.1, 180.0}, false},
    };
    // A circle of 500 m whose centre is 0.001° west of the line: 0.002°
    // further east is 222 m away, 0.011° further is 1,223 m.
    const Zone circle = Zone::circle(2, "Ring", {0.0, 179.999}, 500.0);
    const Row circleRows[] = {
        {"across the line, 222 m", {0.0, -179.999}, true},
        {"across the line, 1,223 m", {0.0, -179.99}, false},
        {"the far side of the world", {0.0, -0.001}, false},
    };
    WatchRules rules;
    ASSERT_TRUE(strip.isValid());
    ASSERT_TRUE(rules.putZone(strip));
    ASSERT_TRUE(rules.putZone(circle));
    for (const Row& row : stripRows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(strip.contains(row.point), row.inside);
        EXPECT_EQ(rules.zonesAt(row.point) == std::vector<int32_t>{1}, row.inside);
    }
    for (const Row& row : circleRows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(circle.contains(row.point), row.inside);
        EXPECT_EQ(rules.zonesAt(row.point) == std::vector<int32_t>{2}, row.inside);
    }
}

TEST(ZoneRules, DrivingEastAcrossTheAntimeridianEntersAndLeavesTheStrip) {
    Zone strip = Zone::polygon(1, "Strip", {{10, 179.5}, {10, -179.5}, {11, -179.5}, {11, 179.5}});
    strip.setAlarmOnExit(true);
    WatchRules rules;
    ASSERT_TRUE(rules.putZone(strip));
    WatchRules::Requests out;
    // 0.1° of longitude every 10 s, from 179.05°E to 178.95°W.
    for (int step = 0; step <= 20; ++step) {
        const double longitude = GeoPoint::normalLongitude(179.05 + 0.1 * step);
        rules.fix(vehicleId(1), step * 10, {10.5, longitude}, 0, out);
    }
    // Inside from 179.55°E (t=50) to 179.55°W (t=140); outside again from
    // 179.45°W (t=150).
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, ENTRY);
    EXPECT_EQ(out[0].since, 50);
    EXPECT_EQ(out[0].time, 80);
    EXPECT_EQ(out[1].kind, EXIT);
    EXPECT_EQ(out[1].since, 150);
    EXPECT_EQ(out[1].time, 180);
}

TEST(ZoneRules, IndexFindsWhatTestingEveryZoneFinds) {
    // Zones of every sort, many across the antimeridian or near a pole; the
    // index must name every zone that holds a place, no more.
    std::vector<Zone> zones;
    uint64_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(seed >> 11) * 0x1.0p-53;
    };
    for (int i = 0; i < 300; ++i) {
        const double lat = i % 10 == 0 ? 89.0 + next() : -60 + 120 * next();
        const double lng = i % 3 == 0 ? 179.0 + 2 * next() - 1 : -180 + 360 * next();
        const GeoPoint centre{lat, GeoPoint::normalLongitude(lng)};
        if (i % 2 == 0) {
            zones.push_back(Zone::circle(i + 1, "c", centre, 1000 + 300000 * next()));
        } else {
            const double size = 0.01 + 3 * next();
            zones.push_back(Zone::polygon(i + 1, "p",
                                          {moved(centre, -size * 50000, -size * 50000),
                                           moved(centre, -size * 70000, size * 40000),
                                           moved(centre, size * 60000, size * 60000),
                                           moved(centre, size * 30000, -size * 80000)}));
        }
    }
    WatchRules rules;
    size_t valid = 0;
    for (const Zone& zone : zones) {
        valid += zone.isValid() ? 1 : 0;
    }
    ASSERT_EQ(rules.setZones(zones), valid);
    size_t hits = 0;
    for (int i = 0; i < 20000; ++i) {
        const bool nearLine = i % 2 == 0;
        const GeoPoint point{-70 + 160 * next(), nearLine ? GeoPoint::normalLongitude(178 + 4 * next())
                                                         : -180 + 360 * next()};
        std::vector<int32_t> expected;
        for (const Zone& zone : zones) {
            if (zone.contains(point)) {
                expected.push_back(zone.getId());
            }
        }
        std::vector<int32_t> found = rules.zonesAt(point);
        std::sort(found.begin(), found.end());
        ASSERT_EQ(found, expected) << point.latitude << " " << point.longitude;
        hits += expected.size();
    }
    // The places must have hit zones, or the comparison proves nothing.
    EXPECT_GT(hits, 1000u);
}

TEST(ZoneRules, BoundsOnZonesAndVehicles) {
    WatchRules rules;
    for (size_t i = 0; i < WatchRules::ZONES_MAX; ++i) {
        ASSERT_TRUE(rules.putZone(Zone::circle(static_cast<int32_t>(i + 1), "z", moved(CENTRE, 0, 10.0 * i), 5.0)));
    }
    EXPECT_FALSE(rules.putZone(Zone::circle(-1, "one too many", CENTRE, 5.0)));
    // Replacing a held zone is still allowed when full.
    EXPECT_TRUE(rules.putZone(Zone::circle(1, "renamed", CENTRE, 5.0)));
    EXPECT_EQ(rules.getZoneCount(), WatchRules::ZONES_MAX);

    WatchRules fleet;
    WatchRules::Requests out;
    for (size_t i = 0; i <= WatchRules::VEHICLES_MAX; ++i) {
        fleet.heard(vehicleId(static_cast<int>(i)), 0);
    }
    EXPECT_EQ(fleet.getVehicleCount(), WatchRules::VEHICLES_MAX);
    EXPECT_EQ(fleet.getRefusedCount(), 1u);
    // A vehicle already watched is still heard.
    fleet.fix(vehicleId(0), 5, CENTRE, 0, out);
    EXPECT_EQ(fleet.getRefusedCount(), 1u);
}
