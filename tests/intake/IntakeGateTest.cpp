#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"
#include "intake/IntakeGate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace velmora;

namespace {

const char* const STORED = "00000000-0000-4000-8000-000000000001";
const char* const FRESH = "00000000-0000-4000-8000-000000000002";
const char* const LOOPBACK = "127.0.0.1";
constexpr int MARKER_PORT = 40000;

std::string datagram(int kind, const std::string& idText) {
    return "Truck," + std::to_string(kind) + ",0, ,T,0,131859729,863518, ,0, ," + idText +
           (kind == CallbackInfo::EVENT_GPS ? ",$GPRMC,134530.000,A,3723.2475,N,12158.3416,W,0.13,309.62,170512,," : "");
}

struct GateRow {
    const char* label;
    std::string text;
    const char* sender;
    int port;
    VehicleAdmission::Verdict verdict;
    bool marker;
    int lane; ///< the lane a copy went to; -1: none
    bool wake;
};

} // namespace

// Datagrams as the server parses them, through the gate: each admitted one
// lands in its lane, the marker passes though it names no vehicle, the
// taker is woken once.
TEST(IntakeGate, JudgesQueuesAndWakes) {
    const int R = IntakeQueue::REVIEWED;
    const int U = IntakeQueue::UNREVIEWED;
    const GateRow rows[] = {
        {"stored vehicle", datagram(100, STORED), "10.0.0.1", 5000, VehicleAdmission::KNOWN, false, R, true},
        {"stored vehicle's panic", datagram(13, STORED), "10.0.0.1", 5000, VehicleAdmission::KNOWN, false, R, false},
        {"new vehicle", datagram(100, FRESH), "10.0.0.2", 5000, VehicleAdmission::NEW, false, U, false},
        {"its panic", datagram(13, FRESH), "10.0.0.2", 5000, VehicleAdmission::UNREVIEWED, false, U, false},
        {"no GUID", datagram(100, "NOT-A-GUID"), "10.0.0.2", 5000, VehicleAdmission::REFUSED, false, -1, false},
        {"unknown id's event", datagram(1, "00000000-0000-4000-8000-000000000003"), "10.0.0.2", 5000,
         VehicleAdmission::REFUSED, false, -1, false},
        {"a stranger on the marker's address", "velmora-intake-drain", LOOPBACK, MARKER_PORT + 1,
         VehicleAdmission::REFUSED, false, -1, false},
        {"the marker", "velmora-intake-drain", LOOPBACK, MARKER_PORT, VehicleAdmission::REFUSED, true, U, false},
    };
    VehicleAdmission admission;
    admission.setKnown({UniqueID(STORED)});
    IntakeQueue queue;
    IntakeGate gate(admission, queue, [](const CallbackInfo& message) {
        return message.getAddress() == LOOPBACK && message.getPort() == MARKER_PORT;
    });
    for (const GateRow& row : rows) {
        SCOPED_TRACE(row.label);
        CallbackInfo info(row.sender, row.port);
        std::string text = row.text;
        CallbackMessageParser().parse(info, text.data());
        const size_t before[2] = {queue.size(IntakeQueue::REVIEWED), queue.size(IntakeQueue::UNREVIEWED)};
        const IntakeGate::Outcome outcome = gate.offer(info);
        if (!row.marker) {
            EXPECT_EQ(outcome.verdict, row.verdict);
        }
        EXPECT_EQ(outcome.marker, row.marker);
        EXPECT_EQ(outcome.queued, row.lane >= 0);
        EXPECT_EQ(outcome.wake, row.wake);
        for (int lane : {R, U}) {
            EXPECT_EQ(queue.size(static_cast<IntakeQueue::Lane>(lane)), before[lane] + (lane == row.lane ? 1 : 0))
                << "lane " << lane;
        }
    }
    // Copies, in their lanes' order, the known lane first.
    std::vector<std::unique_ptr<CallbackInfo>> batch;
    EXPECT_EQ(queue.takeBatch(batch, 100), 0u);
    std::vector<std::string> taken;
    for (const auto& message : batch) {
        taken.push_back(std::to_string(message->getEventType()) + " " + message->getAddress());
    }
    EXPECT_EQ(taken, (std::vector<std::string>{"100 10.0.0.1", "13 10.0.0.1", "100 10.0.0.2", "13 10.0.0.2",
                                               "0 127.0.0.1"}));
    // The datagram without a GUID and the stranger: neither names a vehicle.
    EXPECT_EQ(admission.getMalformedTotal(), 2u);
}
