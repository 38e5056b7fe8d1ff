#include "rules/AlarmKinds.h"
#include "rules/WatchRules.h"
#include "rules/Zone.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"
#include "intake/GPSInfo.h"
#include "tools/sim/FleetSimulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

using namespace velmora;

// The simulator's roles, sent as datagram texts, parsed as the console
// parses them and put through the watch rules, raise what each role is for
// and nothing else. 20 minutes of simulated time, fixes every 5 s.
TEST(SimulatorRoles, EachRoleRaisesItsRule)
{
    // The zone lies 10 km north of the fleet's area (4 km round the centre).
    const double zoneLat = 47.3769 + 10000.0 / 111320.0;
    const double zoneLng = 8.5417;
    FleetSimulator::Options options;
    options.vehicles = 12;
    options.seed = 7;
    options.intervalSeconds = 5;
    options.eventsPerMinute = 1;
    options.startEpoch = 1796839200;
    options.shuttle = FleetSimulator::Shuttle::throughCircle(zoneLat, zoneLng, 150.0);
    options.speedingKmh = 80;
    options.silentAfterSeconds = 100;
    FleetSimulator fleet(options);
    const int shuttle = fleet.roleVehicle(SimVehicle::SHUTTLE);
    const int speeder = fleet.roleVehicle(SimVehicle::SPEEDER);
    const int silent = fleet.roleVehicle(SimVehicle::SILENT);
    ASSERT_EQ(shuttle, 0);
    ASSERT_EQ(speeder, 1);
    ASSERT_EQ(silent, 2);

    WatchRules rules;
    WatchSettings settings;
    settings.speedLimitKmh = 80;
    rules.setSettings(settings);
    Zone zone = Zone::circle(1, "Gate", {zoneLat, zoneLng}, 150.0);
    zone.setAlarmOnExit(true);
    ASSERT_TRUE(rules.putZone(zone));

    const CallbackMessageParser parser;
    WatchRules::Requests out;
    double nextTick = 10;
    for (;;) {
        const SimMessage m = fleet.next();
        if (m.at > 1200) {
            break;
        }
        while (nextTick <= m.at) {
            rules.tick(options.startEpoch + static_cast<std::time_t>(nextTick), out);
            nextTick += 10;
        }
        std::vector<char> text(m.text.begin(), m.text.end());
        text.push_back('\0');
        CallbackInfo info;
        parser.parse(info, text.data());
        ASSERT_EQ(info.getVehicleID(), fleet.vehicle(m.vehicle).id);
        const std::time_t time = options.startEpoch + static_cast<std::time_t>(std::floor(m.at));
        if (info.getEventType() == CallbackInfo::EVENT_GPS) {
            const GPSInfo gps(info.getGpsData());
            ASSERT_TRUE(gps.hasPosition());
            rules.fix(info.getVehicleID(), time, {gps.getLatitude(), gps.getLongitude()}, gps.getSpeed(), out);
        } else {
            rules.heard(info.getVehicleID(), time);
        }
    }

    std::map<int, std::map<int, int>> raisedByVehicleKind;
    for (const AlarmRequest& r : out) {
        if (r.step != AlarmRequest::RAISE) {
            continue;
        }
        int index = -1;
        for (size_t i = 0; i < fleet.vehicleCount(); ++i) {
            if (fleet.vehicle(i).id == r.vehicle) {
                index = static_cast<int>(i);
            }
        }
        ++raisedByVehicleKind[index][r.kind];
    }
    // The shuttle's road is 900 m and it goes 5 m/s (a minute across the
    // 300 m circle): once through every 180 s leg. The leg starting at
    // 1,080 s enters at 1,140 s and leaves too late for its exit to count.
    // The speeder is above 80 km/h in the even minutes: ten episodes.
    // The silent vehicle's last message is before 100 s: one alarm at about
    // 700 s.
    const std::map<int, std::map<int, int>> expected = {
        {shuttle, {{AlarmKinds::ZONE_ENTRY, 7}, {AlarmKinds::ZONE_EXIT, 6}}},
        {speeder, {{AlarmKinds::SPEEDING, 10}}},
        {silent, {{AlarmKinds::SILENT, 1}}},
    };
    EXPECT_EQ(raisedByVehicleKind, expected);
}
