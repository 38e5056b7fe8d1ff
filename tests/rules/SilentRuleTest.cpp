#include "rules/AlarmKinds.h"
#include "rules/WatchRules.h"
#include "tests/rules/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

// One step of a script: 'h' a message at time, 'f' a fix at time, 't' a
// check at time, 'o' the vehicle's own minutes set to time; then what the
// step must have produced ("" nothing, "raise", "back", "quiet").
struct Step {
    char what;
    int time;
    const char* produced;
};

struct Script {
    const char* what;
    int silentMinutes;
    std::vector<Step> steps;
};

const std::vector<Script> SCRIPTS = {
    {"Silent once, after 10 minutes without a message",
     10,
     {{'h', 0, ""}, {'t', 599, ""}, {'t', 600, "raise"}, {'t', 601, ""}, {'t', 5000, ""}}},
    {"any message counts as heard",
     10,
     {{'f', 0, ""}, {'h', 300, ""}, {'t', 899, ""}, {'h', 890, ""}, {'t', 1489, ""}, {'t', 1490, "raise"}}},
    {"heard again: a note, and no second alarm",
     10,
     {{'h', 0, ""}, {'t', 600, "raise"}, {'h', 900, ""}, {'h', 905, ""}, {'t', 906, "back"}, {'t', 907, ""}}},
    {"back for under a minute, then quiet again: a note on the same alarm, no new one",
     10,
     {{'h', 0, ""},
      {'t', 600, "raise"},
      {'h', 900, ""},
      {'t', 901, "back"},
      {'h', 959, ""},
      {'t', 1558, ""},
      {'t', 1559, "quiet"},
      {'t', 3000, ""},
      {'h', 3100, ""},
      {'t', 3101, "back"}}},
    {"heard for a minute: the next silence is a new alarm",
     10,
     {{'h', 0, ""}, {'t', 600, "raise"}, {'h', 900, ""}, {'t', 901, "back"}, {'h', 960, ""}, {'t', 961, ""},
      {'t', 1559, ""}, {'t', 1560, "raise"}}},
    {"0 minutes: never Silent", 0, {{'h', 0, ""}, {'t', 100000, ""}}},
    {"the vehicle's own minutes win over the setting",
     10,
     {{'o', 2, ""}, {'h', 0, ""}, {'t', 119, ""}, {'t', 120, "raise"}}},
    {"the vehicle's own 0 is never, whatever the setting",
     10,
     {{'o', 0, ""}, {'h', 0, ""}, {'t', 100000, ""}}},
    {"own minutes dropped: the setting holds again",
     10,
     {{'o', 2, ""}, {'o', -1, ""}, {'h', 0, ""}, {'t', 120, ""}, {'t', 600, "raise"}}},
    {"a vehicle never heard is never Silent", 10, {{'o', 1, ""}, {'t', 100000, ""}}},
    {"a message stamped earlier does not make it heard later",
     10,
     {{'h', 500, ""}, {'h', 100, ""}, {'t', 1099, ""}, {'t', 1100, "raise"}}},
};

const char* produced(const WatchRules::Requests& out) {
    if (out.empty()) {
        return "";
    }
    EXPECT_EQ(out.size(), 1u);
    const AlarmRequest& r = out.front();
    EXPECT_EQ(r.kind, AlarmKinds::SILENT);
    if (r.step == AlarmRequest::RAISE) {
        return "raise";
    }
    return r.text.rfind("Heard again", 0) == 0 ? "back" : "quiet";
}

} // namespace

TEST(SilentRule, Scripts) {
    const UniqueID vehicle = vehicleId(1);
    for (const Script& script : SCRIPTS) {
        SCOPED_TRACE(script.what);
        WatchRules rules;
        WatchSettings settings;
        settings.silentMinutes = script.silentMinutes;
        rules.setSettings(settings);
        for (const Step& step : script.steps) {
            SCOPED_TRACE(std::string(1, step.what) + " at " + std::to_string(step.time));
            WatchRules::Requests out;
            switch (step.what) {
            case 'h':
                rules.heard(vehicle, step.time);
                break;
            case 'f':
                rules.fix(vehicle, step.time, {47.0, 8.0}, 0, out);
                break;
            case 'o':
                rules.setSilentMinutes(vehicle, step.time);
                break;
            default:
                rules.tick(step.time, out);
                break;
            }
            EXPECT_STREQ(produced(out), step.produced);
        }
    }
}

TEST(SilentRule, WhatTheAlarmAndItsNotesSay) {
    WatchRules rules;
    const UniqueID vehicle = vehicleId(3);
    // 2026-12-09 18:00:00 UTC.
    const std::time_t t0 = 1796839200;
    WatchRules::Requests out;
    rules.fix(vehicle, t0, {47.5, 8.25}, 0, out);
    rules.heard(vehicle, t0 + 30);
    rules.tick(t0 + 630, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].vehicle, vehicle);
    EXPECT_EQ(out[0].time, t0 + 630);
    EXPECT_EQ(out[0].since, t0 + 30);
    // The last place known goes with it, for the map.
    EXPECT_TRUE(out[0].hasPosition);
    EXPECT_DOUBLE_EQ(out[0].position.latitude, 47.5);
    EXPECT_EQ(out[0].title, "Not heard for 10 min");
    EXPECT_EQ(out[0].text, "Not heard since 2026-12-09 18:00:30, last fix 2026-12-09 18:00:00");

    out.clear();
    rules.heard(vehicle, t0 + 30 + 891);
    rules.tick(t0 + 1000, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].step, AlarmRequest::NOTE);
    EXPECT_EQ(out[0].time, t0 + 921);
    EXPECT_EQ(out[0].durationSeconds, 891);
    EXPECT_EQ(out[0].text, "Heard again at 2026-12-09 18:15:21 after 14 min 51 s without a message");
}
