#include "app/shell/IntakePump.h"
#include "app/system/IntakeDrain.h"
#include "intake/CallbackInfo.h"
#include "intake/IntakeQueue.h"
#include "intake/VehicleAdmission.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

const UniqueID KNOWN_ID("00000000-0000-4000-8000-000000000001");

struct PumpRow {
    const char* name;
    int messages;  // fixes of a known vehicle, taken before the window runs
    int slowAt;    // the handler outlasts the turn on this one; -1: none
    int wakes;     // wake-ups posted while they were taken
    int turns;     // turns the window runs at least until nothing is left
};

} // namespace

// The window's side of the hand-over, driven as its event loop drives it:
// each posted wake-up runs one turn. A burst posts one wake-up, not one a
// message, and what a slow turn leaves comes next turn in arrival order.
TEST(IntakePump, WakesOncePerBurstAndKeepsOrderAcrossTurns) {
    const PumpRow rows[] = {
        {"a burst wakes the window once", 5, -1, 1, 1},
        {"a turn that runs long hands the rest on in order", 6, 1, 1, 2},
        {"the first message's turn runs long", 4, 0, 1, 2},
        {"more than a batch takes two turns", IntakePump::BATCH + 3, -1, 1, 2},
    };
    for (const PumpRow& row : rows) {
        SCOPED_TRACE(row.name);
        VehicleAdmission admission;
        admission.setKnown({KNOWN_ID});
        IntakeQueue queue;
        IntakeDrain drain;
        IntakePump pump(admission, queue, drain);
        int posted = 0;
        pump.setWake([&posted] { ++posted; });
        std::vector<int> handled;
        pump.setHandler([&handled, &row](CallbackInfo& message) {
            handled.push_back(message.getOrdinal());
            if (message.getOrdinal() == row.slowAt) {
                std::this_thread::sleep_for(std::chrono::milliseconds(IntakePump::BATCH_MS + 10));
            }
        });
        for (int n = 0; n < row.messages; ++n) {
            CallbackInfo fix("10.0.0.1", 5000);
            fix.setVehicleID(KNOWN_ID);
            fix.setEventType(CallbackInfo::EVENT_GPS);
            fix.setOrdinal(n);
            pump.take(fix);
        }
        EXPECT_EQ(posted, row.wakes);
        int turns = 0;
        for (; posted > 0 && turns < 10; ++turns) {
            --posted;
            pump.serve();
        }
        // A turn preempted on a busy machine may end early and add one.
        EXPECT_GE(turns, row.turns);
        EXPECT_LT(turns, 10);
        EXPECT_EQ(posted, 0);
        std::vector<int> expected;
        for (int n = 0; n < row.messages; ++n) {
            expected.push_back(n);
        }
        EXPECT_EQ(handled, expected);
        EXPECT_EQ(queue.size(), 0u);
    }
}
