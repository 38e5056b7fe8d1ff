#include "tools/sim/FleetSimulator.h"

#include <gtest/gtest.h>

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
