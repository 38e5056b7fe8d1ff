#include "tools/sim/FleetSimulator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

using namespace velmora;

// A console knows a vehicle only from its first fix and drops everything
// else before it, so no vehicle may speak before its first fix; its optional
// information follows that fix and comes again every info interval.
TEST(FleetSimulator, NothingPrecedesTheFirstFixAndInformationRepeats)
{
    struct Row {
        double infoInterval;
        double seconds;
        size_t expectedInfos; // per vehicle within the run
    };
    const Row rows[] = {
        {300.0, 400.0, 2}, // after the first fix, then once more at ~300 s
        {60.0, 200.0, 4},  // ~0, 60, 120, 180 s
        {0.0, 200.0, 1},   // once only
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.infoInterval);
        FleetSimulator::Options options;
        options.vehicles = 8;
        options.seed = 3;
        options.intervalSeconds = 5;
        options.eventsPerMinute = 4;
        options.infoIntervalSeconds = row.infoInterval;
        options.startEpoch = 1767225600;
        FleetSimulator fleet(options);

        std::map<size_t, std::vector<SimMessage>> byVehicle;
        double last = 0;
        for (;;) {
            SimMessage m = fleet.next();
            if (m.at > row.seconds) {
                break;
            }
            ASSERT_GE(m.at, last) << "messages out of time order";
            last = m.at;
            byVehicle[m.vehicle].push_back(m);
        }
        ASSERT_EQ(byVehicle.size(), options.vehicles);
        for (const auto& [index, messages] : byVehicle) {
            SCOPED_TRACE(index);
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages.front().kind, SimMessage::FIX) << messages.front().text;
            std::vector<double> infoTimes;
            for (const SimMessage& m : messages) {
                if (m.kind == SimMessage::INFO) {
                    EXPECT_EQ(m.eventType, 101);
                    EXPECT_NE(m.text.find(",Company,"), std::string::npos) << m.text;
                    infoTimes.push_back(m.at);
                }
            }
            ASSERT_EQ(infoTimes.size(), row.expectedInfos);
            EXPECT_LT(infoTimes.front() - messages.front().at, 1.0) << "the information follows the first fix";
            for (size_t i = 1; i < infoTimes.size(); ++i) {
                EXPECT_NEAR(infoTimes[i] - infoTimes[i - 1], row.infoInterval, 1e-6);
            }
        }
    }
}

// Roles take the first vehicles and the fleet grows to hold them; the rest
// of the fleet is the one the seed makes without roles.
TEST(FleetSimulator, RolesTakeTheFirstVehicles)
{
    FleetSimulator::Options plain;
    plain.vehicles = 1;
    plain.seed = 5;
    plain.startEpoch = 1767225600;
    FleetSimulator::Options roles = plain;
    roles.shuttle = FleetSimulator::Shuttle::throughPoint(47.0, 8.0, 1000.0);
    roles.speedingKmh = 50;
    roles.silentAfterSeconds = 0;
    FleetSimulator withRoles(roles);
    ASSERT_EQ(withRoles.vehicleCount(), 3u);
    EXPECT_EQ(withRoles.roleVehicle(SimVehicle::SHUTTLE), 0);
    EXPECT_EQ(withRoles.roleVehicle(SimVehicle::SPEEDER), 1);
    EXPECT_EQ(withRoles.roleVehicle(SimVehicle::SILENT), 2);
    plain.vehicles = 3;
    FleetSimulator without(plain);
    EXPECT_EQ(without.roleVehicle(SimVehicle::SHUTTLE), -1);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(withRoles.vehicle(i).name, without.vehicle(i).name);
        EXPECT_EQ(withRoles.vehicle(i).id, without.vehicle(i).id);
    }
    // Silent from the start: the third vehicle never speaks.
    for (int i = 0; i < 200; ++i) {
        EXPECT_NE(withRoles.next().vehicle, 2u);
    }
}

// The shuttle keeps to its road: the same latitude, within half the road's
// length of the place, at its speed; across the antimeridian too.
TEST(FleetSimulator, ShuttleDrivesItsRoadAcrossTheAntimeridian)
{
    FleetSimulator::Options options;
    options.vehicles = 1;
    options.startEpoch = 1767225600;
    options.eventsPerMinute = 0;
    options.shuttle = FleetSimulator::Shuttle::throughPoint(-16.5, 179.99, 4000.0);
    FleetSimulator fleet(options);
    bool east = false;
    bool west = false;
    for (int i = 0; i < 400; ++i) {
        const SimMessage m = fleet.next();
        if (m.kind != SimMessage::FIX) {
            continue;
        }
        EXPECT_DOUBLE_EQ(m.latitude, -16.5);
        EXPECT_TRUE(m.longitude >= -180.0 && m.longitude < 180.0) << m.longitude;
        // 2 km is 0.0188° of longitude at 16.5°S (111,320 m x cos 16.5°).
        const double fromPlace = std::remainder(m.longitude - 179.99, 360.0);
        EXPECT_LE(std::fabs(fromPlace), 0.0188 + 1e-4);
        EXPECT_NEAR(m.speedKnots, 30.0 / 1.852, 0.01);
        east = east || m.longitude < 0;
        west = west || m.longitude > 0;
    }
    EXPECT_TRUE(east && west);
}

// When every vehicle has fallen silent there is nothing more to send.
TEST(FleetSimulator, AllSilentMeansNoMessage)
{
    FleetSimulator::Options options;
    options.vehicles = 1;
    options.startEpoch = 1767225600;
    options.silentAfterSeconds = 12;
    FleetSimulator fleet(options);
    double last = 0;
    for (int i = 0; i < 100; ++i) {
        const SimMessage m = fleet.next();
        if (std::isinf(m.at)) {
            EXPECT_TRUE(m.text.empty());
            EXPECT_LT(last, 12.0);
            return;
        }
        last = m.at;
    }
    FAIL() << "the silent vehicle kept sending";
}
