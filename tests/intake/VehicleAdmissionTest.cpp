#include "intake/CallbackInfo.h"
#include "intake/IntakeQueue.h"
#include "intake/VehicleAdmission.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

UniqueID idOf(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
    UniqueID id;
    EXPECT_TRUE(UniqueID::parse(text, id));
    return id;
}

CallbackInfo message(const char* sender, int vehicle, int kind = CallbackInfo::EVENT_GPS) {
    CallbackInfo info(sender, 5000);
    info.setVehicleID(idOf(vehicle));
    info.setEventType(kind);
    info.setVehicleName("Vehicle " + std::to_string(vehicle));
    return info;
}

constexpr VehicleAdmission::Verdict KNOWN = VehicleAdmission::KNOWN;
constexpr VehicleAdmission::Verdict NEW = VehicleAdmission::NEW;
constexpr VehicleAdmission::Verdict REFUSED = VehicleAdmission::REFUSED;

// One message at a time: the clock stands at atMs when it arrives.
struct Step {
    int64_t atMs;
    const char* sender;
    int vehicle;
    int kind;
    VehicleAdmission::Verdict expected;
};

struct Scenario {
    const char* name;
    VehicleAdmission::Rules rules;
    std::vector<Step> steps;
};

} // namespace

// Vehicle 1 is stored; the others are new. The limits are small so that the
// rows show where each one bites.
TEST(VehicleAdmission, NewIdsAreTakenOnlyWithinTheRules) {
    const int GPS = CallbackInfo::EVENT_GPS;
    const std::vector<Scenario> scenarios = {
        {"open: per sender and fleet limits",
         {VehicleAdmission::OPEN, 3, 5},
         {{0, "10.0.0.1", 1, GPS, KNOWN},
          {0, "10.0.0.1", 1, 1, KNOWN},  // events of a known vehicle pass
          {0, "10.0.0.1", 2, GPS, NEW},
          {0, "10.0.0.1", 2, GPS, KNOWN},
          {1, "10.0.0.1", 3, GPS, NEW},
          {2, "10.0.0.1", 4, GPS, NEW},
          {3, "10.0.0.1", 5, GPS, REFUSED},  // fourth new one within the minute
          {4, "10.0.0.2", 5, GPS, NEW},      // another sender has its own allowance
          {5, "10.0.0.2", 6, GPS, REFUSED},  // the fleet holds five
          {6, "10.0.0.2", 7, 1, REFUSED},    // an event never makes a vehicle
          {7, "10.0.0.2", 8, CallbackInfo::EVENT_OPTIONAL_INFO, REFUSED},
          {60000, "10.0.0.1", 9, GPS, REFUSED}}},  // still full a minute later
        {"open: the minute slides",
         {VehicleAdmission::OPEN, 2, 100},
         {{0, "10.0.0.1", 2, GPS, NEW},
          {30000, "10.0.0.1", 3, GPS, NEW},
          {59999, "10.0.0.1", 4, GPS, REFUSED},
          {60000, "10.0.0.1", 4, GPS, NEW},  // the first one left the minute
          {60001, "10.0.0.1", 5, GPS, REFUSED},
          {90000, "10.0.0.1", 5, GPS, NEW}}},
        {"known vehicles only",
         {VehicleAdmission::KNOWN_ONLY, 60, 20000},
         {{0, "10.0.0.1", 1, GPS, KNOWN}, {0, "10.0.0.1", 2, GPS, REFUSED}, {1, "10.0.0.3", 2, GPS, REFUSED}}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        int64_t now = 0;
        VehicleAdmission admission;
        admission.setClocks([&now] { return now; }, [&now] { return static_cast<std::time_t>(now / 1000); });
        admission.setRules(scenario.rules);
        admission.setKnown({idOf(1)});
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            now = step.atMs;
            EXPECT_EQ(admission.check(message(step.sender, step.vehicle, step.kind)), step.expected) << "row " << i;
        }
    }
}

// The operator's view and choices: refused fixes are listed and counted per
// sender; admit, ignore and forget change what the next fix gets.
TEST(VehicleAdmission, OperatorSeesRefusalsAndDecides) {
    int64_t now = 1000000;
    VehicleAdmission admission;
    admission.setClocks([&now] { return now; }, [&now] { return static_cast<std::time_t>(now / 1000); });
    admission.setRules({VehicleAdmission::KNOWN_ONLY, 60, 20000});
    admission.setKnown({idOf(1)});

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(admission.check(message("10.0.0.7", 2)), REFUSED);
        now += 1000;
    }
    EXPECT_EQ(admission.check(message("10.0.0.8", 3)), REFUSED);
    EXPECT_EQ(admission.check(message("10.0.0.8", 4, 1)), REFUSED);  // counted, not listed

    std::vector<VehicleAdmission::Candidate> listed = admission.getCandidates();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].id, idOf(3));  // most recently seen first
    EXPECT_EQ(listed[1].id, idOf(2));
    EXPECT_EQ(listed[1].address, "10.0.0.7");
    EXPECT_EQ(listed[1].name, "Vehicle 2");
    EXPECT_EQ(listed[1].messages, 3u);
    EXPECT_EQ(listed[1].firstSeen, 1000);
    EXPECT_EQ(listed[1].lastSeen, 1002);

    VehicleAdmission::Refusals refusals = admission.getRecentRefusals();
    EXPECT_EQ(refusals.count, 5u);
    EXPECT_EQ(refusals.topSender, "10.0.0.7");
    EXPECT_EQ(refusals.topSenderCount, 3u);

    admission.admit(idOf(2));
    admission.ignore(idOf(3));
    EXPECT_EQ(admission.check(message("10.0.0.7", 2)), KNOWN);
    EXPECT_EQ(admission.check(message("10.0.0.8", 3)), REFUSED);
    EXPECT_TRUE(admission.getCandidates().empty());

    // A vehicle deleted for good is new again, and open rules take it back.
    admission.forget(idOf(1));
    EXPECT_EQ(admission.check(message("10.0.0.7", 1)), REFUSED);
    admission.setRules({VehicleAdmission::OPEN, 60, 20000});
    EXPECT_EQ(admission.check(message("10.0.0.7", 1)), NEW);

    // Refusals older than a minute no longer count; the total does.
    now += 61000;
    EXPECT_EQ(admission.getRecentRefusals().count, 0u);
    EXPECT_EQ(admission.getRefusedTotal(), 7u);
}

// A sender cycling through endless ids and addresses keeps the lists bounded.
TEST(VehicleAdmission, ListsStayBoundedUnderAFlood) {
    VehicleAdmission admission;
    admission.setRules({VehicleAdmission::KNOWN_ONLY, 60, 20000});
    char address[32];
    for (int n = 0; n < 5000; ++n) {
        std::snprintf(address, sizeof address, "10.%d.%d.%d", n / 65536, (n / 256) % 256, n % 256);
        EXPECT_EQ(admission.check(message(address, 100 + n)), REFUSED);
    }
    const std::vector<VehicleAdmission::Candidate> listed = admission.getCandidates();
    ASSERT_EQ(listed.size(), VehicleAdmission::MAX_CANDIDATES);
    EXPECT_EQ(listed.front().id, idOf(100 + 4999));
    EXPECT_EQ(admission.getRefusedTotal(), 5000u);
    EXPECT_EQ(admission.getKnownCount(), 0u);
}

// The hand-over to the window: bounded, in order, no wake-up lost while one
// thread fills it and another empties it in batches.
TEST(IntakeQueue, BoundedOrderedAndWakesOnce) {
    IntakeQueue queue(100);
    std::atomic<int> wakes{0};
    std::atomic<bool> done{false};
    std::vector<int> seen;
    std::thread producer([&] {
        for (int n = 0; n < 20000; ++n) {
            auto info = std::make_unique<CallbackInfo>();
            info->setOrdinal(n);
            if (queue.push(std::move(info)).wake) {
                ++wakes;
            }
        }
        done.store(true);
    });
    std::vector<std::unique_ptr<CallbackInfo>> batch;
    int handledWakes = 0;
    while (!done.load() || handledWakes < wakes.load()) {
        if (handledWakes == wakes.load()) {
            std::this_thread::yield();
            continue;
        }
        // One pending wake-up: empty the queue as the window would.
        ++handledWakes;
        size_t left = 0;
        do {
            batch.clear();
            left = queue.takeBatch(batch, 7);
            EXPECT_LE(batch.size() + left, 100u);
            for (auto& info : batch) {
                seen.push_back(info->getOrdinal());
            }
        } while (left > 0);
    }
    producer.join();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(seen.size() + queue.getDropped(), 20000u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    // Full: dropped and counted, except a message that must pass.
    for (int n = 0; n < 100; ++n) {
        ASSERT_TRUE(queue.push(std::make_unique<CallbackInfo>()).taken);
    }
    const uint64_t dropped = queue.getDropped();
    EXPECT_FALSE(queue.push(std::make_unique<CallbackInfo>()).taken);
    EXPECT_EQ(queue.getDropped(), dropped + 1);
    EXPECT_TRUE(queue.push(std::make_unique<CallbackInfo>(), true).taken);
    EXPECT_EQ(queue.size(), 101u);
}
