#include "RecordingDelegate.h"

#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/SocketAddress.h"
#include "intake/CallbackServerImpl.h"
#include "intake/GPSInfo.h"
#include "tools/sim/FleetSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace velmora;

// The simulator's traffic for 20 vehicles goes through a real socket and the
// server; every message must arrive meaning what the simulator meant.
TEST(EndToEnd, SimulatedFleetArrivesAsMeant)
{
    RecordingDelegate delegate;
    CallbackServerImpl server(&delegate);
    server.start(0);
    ASSERT_TRUE(server.isRunning());

    FleetSimulator::Options options;
    options.vehicles = 20;
    options.seed = 42;
    options.intervalSeconds = 2;
    options.eventsPerMinute = 6;
    options.startEpoch = 1767225600; // 2026-01-01 00:00:00 UTC
    FleetSimulator fleet(options);

    DatagramSocket socket;
    socket.create();
    const SocketAddress to("127.0.0.1", server.getBoundPort());
    std::vector<SimMessage> sent;
    constexpr size_t COUNT = 400;
    for (size_t i = 0; i < COUNT; ++i) {
        sent.push_back(fleet.next());
        int count = 0;
        ASSERT_TRUE(socket.sendTo(sent.back().text.data(), sent.back().text.size(), to, 1000, count));
        if (i % 50 == 49) {
            // Keep well inside the receive queue without depending on its size.
            ASSERT_TRUE(delegate.waitForTotal(i + 1));
        }
    }
    ASSERT_TRUE(delegate.waitForTotal(COUNT));
    server.stop();
    socket.close();

    const auto infos = delegate.infos();
    ASSERT_EQ(infos.size(), COUNT);
    EXPECT_TRUE(delegate.errors().empty());
    size_t fixes = 0;
    size_t events = 0;
    size_t infoMessages = 0;
    for (size_t i = 0; i < COUNT; ++i) {
        const SimMessage& m = sent[i];
        const CallbackInfo& info = infos[i];
        const SimVehicle& v = fleet.vehicle(m.vehicle);
        SCOPED_TRACE(m.text);
        EXPECT_EQ(info.getVehicleName(), v.name);
        EXPECT_EQ(info.getVehicleID(), v.id);
        EXPECT_EQ(info.getEventType(), m.eventType);
        EXPECT_TRUE(info.getTime().equals(m.time));
        EXPECT_EQ(info.getAddress(), "127.0.0.1");
        switch (m.kind) {
        case SimMessage::INFO:
            ++infoMessages;
            EXPECT_EQ(info.getOptionalInfo(), v.info);
            break;
        case SimMessage::FIX: {
            ++fixes;
            GPSInfo gps(info.getGpsData());
            EXPECT_NEAR(gps.getLatitude(), m.latitude, 1e-5);
            EXPECT_NEAR(gps.getLongitude(), m.longitude, 1e-5);
            EXPECT_NEAR(gps.getSpeed(), m.speedKnots, 1e-9);
            EXPECT_NEAR(gps.getBearing(), m.course, 1e-9);
            EXPECT_EQ(gps.getUtcTime().getValue(), m.time.getTime().getValue());
            break;
        }
        case SimMessage::EVENT:
            ++events;
            EXPECT_EQ(info.getDeviceTitle(), m.title);
            break;
        }
    }
    EXPECT_EQ(infoMessages, 20u);
    EXPECT_GT(fixes, 300u);
    EXPECT_GT(events, 10u);
}

TEST(EndToEnd, SimulatorIsStableForASeedAndDrivesInTheArea)
{
    FleetSimulator::Options options;
    options.vehicles = 5;
    options.seed = 9;
    options.startEpoch = 1767225600;
    FleetSimulator a(options);
    FleetSimulator b(options);
    double maxSpeedKnots = 0;
    for (int i = 0; i < 2000; ++i) {
        const SimMessage ma = a.next();
        ASSERT_EQ(ma.text, b.next().text);
        if (ma.kind == SimMessage::FIX) {
            maxSpeedKnots = std::max(maxSpeedKnots, ma.speedKnots);
            // Within the area (4 km) plus one block of slack.
            EXPECT_NEAR(ma.latitude, options.centreLatitude, 0.05);
            EXPECT_NEAR(ma.longitude, options.centreLongitude, 0.08);
            const std::string sentence = ma.text.substr(ma.text.find("$GPRMC"));
            const size_t star = sentence.find('*');
            ASSERT_NE(star, std::string::npos);
            EXPECT_EQ(sentence.substr(star), FleetSimulator::checksum(sentence.substr(0, star)));
        }
    }
    EXPECT_GT(maxSpeedKnots, 5.0);
    EXPECT_LT(maxSpeedKnots, 40.0);
}
