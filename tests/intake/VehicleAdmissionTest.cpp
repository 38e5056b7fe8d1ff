#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"
#include "intake/VehicleAdmission.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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
constexpr VehicleAdmission::Verdict UNREVIEWED = VehicleAdmission::UNREVIEWED;
constexpr VehicleAdmission::Verdict NEW = VehicleAdmission::NEW;
constexpr VehicleAdmission::Verdict REFUSED = VehicleAdmission::REFUSED;
constexpr int GPS = CallbackInfo::EVENT_GPS;
constexpr int PANIC = 13;
constexpr int ANY = -1;

/// A fix datagram as a device sends it, with idText in the id field.
std::string fixText(const std::string& idText) {
    return "Bogus,100,0, ,GPS,0,131859729,863518, ,0, ," + idText +
           ",$GPRMC,134530.000,A,3723.2475,N,12158.3416,W,0.13,309.62,170512,,*10";
}

/// Sender n of a crowd: 10.x.y.z, one address each.
std::string crowdAddress(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "10.%d.%d.%d", 100 + n / 65536, (n / 256) % 256, n % 256);
    return text;
}

// One row of a scenario. The clock stands at atMs when the step runs.
struct Step {
    enum Op {
        CHECK,        // one message: sender, vehicle, kind -> expected
        DATAGRAM,     // text through the parser from sender -> expected
        CROWD,        // count fixes, each a new vehicle, from count senders (or
                      // from sender when set) -> number admitted
        REPEAT,       // count fixes of vehicle from sender, each -> expected
        ADMIT,        // the operator admits vehicle
        REVIEW,       // the operator looked at vehicle
        FORGET,       // vehicle deleted for good
        STORED,       // the stored fleet is read again: vehicles
        REFUSALS,     // refusals counted in the last minute
        CANDIDATES,   // exactly these vehicles listed, most recent first
        LISTED,       // vehicle listed (count: 1) or not (0)
        LISTED_OF,    // count candidates listed of sender (nullptr: all)
        UNREVIEWED_OF,// exactly these vehicles unreviewed from sender
        UNREVIEWED_SENDERS, // text: "address:vehicles" of each, most first
        SENDERS_AT_MOST,
        KNOWN_COUNT,
    };
    Op op = CHECK;
    int64_t atMs = 0;
    const char* sender = nullptr;
    int vehicle = 0;
    int kind = GPS;
    VehicleAdmission::Verdict expected = REFUSED;
    int count = 0;
    int firstSender = 0;
    std::string text;
    std::vector<int> vehicles;
};

/// A step of kind op at atMs; the helpers below fill in the rest.
Step step(Step::Op op, int64_t atMs = 0, const char* sender = nullptr, int vehicle = 0) {
    Step made;
    made.op = op;
    made.atMs = atMs;
    made.sender = sender;
    made.vehicle = vehicle;
    return made;
}
Step event(int64_t at, const char* sender, int vehicle, int kind, VehicleAdmission::Verdict expected) {
    Step made = step(Step::CHECK, at, sender, vehicle);
    made.kind = kind;
    made.expected = expected;
    return made;
}
Step fix(int64_t at, const char* sender, int vehicle, VehicleAdmission::Verdict expected) {
    return event(at, sender, vehicle, GPS, expected);
}
Step datagram(int64_t at, const char* sender, std::string text, VehicleAdmission::Verdict expected) {
    Step made = step(Step::DATAGRAM, at, sender);
    made.text = std::move(text);
    made.expected = expected;
    return made;
}
Step crowd(int64_t at, int firstSender, int firstVehicle, int count, int admitted) {
    Step made = step(Step::CROWD, at, nullptr, firstVehicle);
    made.firstSender = firstSender;
    made.count = count;
    made.vehicles = {admitted};
    return made;
}
Step crowdFrom(int64_t at, const char* sender, int firstVehicle, int count, int admitted) {
    Step made = crowd(at, 0, firstVehicle, count, admitted);
    made.sender = sender;
    return made;
}
Step repeat(int64_t at, const char* sender, int vehicle, int count, VehicleAdmission::Verdict expected) {
    Step made = step(Step::REPEAT, at, sender, vehicle);
    made.count = count;
    made.expected = expected;
    return made;
}
Step admitted(int vehicle) { return step(Step::ADMIT, 0, nullptr, vehicle); }
Step reviewed(int vehicle) { return step(Step::REVIEW, 0, nullptr, vehicle); }
Step forgotten(int vehicle) { return step(Step::FORGET, 0, nullptr, vehicle); }
Step stored(std::vector<int> vehicles) {
    Step made = step(Step::STORED);
    made.vehicles = std::move(vehicles);
    return made;
}
Step counted(Step::Op op, int64_t at, const char* sender, int vehicle, int count) {
    Step made = step(op, at, sender, vehicle);
    made.count = count;
    return made;
}
Step refusalsAt(int64_t at, int count) { return counted(Step::REFUSALS, at, nullptr, 0, count); }
Step candidatesAre(std::vector<int> vehicles) {
    Step made = step(Step::CANDIDATES);
    made.vehicles = std::move(vehicles);
    return made;
}
Step listed(int vehicle, bool is) { return counted(Step::LISTED, 0, nullptr, vehicle, is ? 1 : 0); }
Step listedOf(const char* sender, int count) { return counted(Step::LISTED_OF, 0, sender, 0, count); }
Step unreviewedOf(const char* sender, std::vector<int> vehicles) {
    Step made = step(Step::UNREVIEWED_OF, 0, sender);
    made.vehicles = std::move(vehicles);
    return made;
}
Step unreviewedSenders(std::string text) {
    Step made = step(Step::UNREVIEWED_SENDERS);
    made.text = std::move(text);
    return made;
}
Step sendersAtMost(int count) { return counted(Step::SENDERS_AT_MOST, 0, nullptr, 0, count); }
Step knownCount(int count) { return counted(Step::KNOWN_COUNT, 0, nullptr, 0, count); }

/// Rules whose limits stay out of the way unless a row names them.
VehicleAdmission::Rules rules(VehicleAdmission::Mode mode, int perSender, int fleet = 1000000,
                              int unreviewed = 1000000, int all = 1000000) {
    VehicleAdmission::Rules made;
    made.mode = mode;
    made.newPerMinute = perSender;
    made.fleetLimit = fleet;
    made.unreviewedLimit = unreviewed;
    made.allNewPerMinute = all;
    return made;
}

struct Scenario {
    const char* name;
    VehicleAdmission::Rules rules;
    std::vector<Step> steps;
};

std::vector<int> numbers(const std::vector<UniqueID>& ids) {
    std::vector<int> found;
    for (const UniqueID& id : ids) {
        found.push_back(std::stoi(id.toText().substr(24)));
    }
    return found;
}

void run(VehicleAdmission& admission, int64_t& now, const Step& step) {
    if (step.op == Step::CHECK || step.op == Step::REFUSALS || step.op == Step::CROWD || step.op == Step::REPEAT ||
        step.op == Step::DATAGRAM) {
        now = step.atMs;
    }
    std::vector<int> listedNow;
    for (const VehicleAdmission::Candidate& candidate : admission.getCandidates()) {
        listedNow.push_back(numbers({candidate.id}).front());
    }
    switch (step.op) {
    case Step::CHECK:
        EXPECT_EQ(admission.check(message(step.sender, step.vehicle, step.kind)), step.expected);
        break;
    case Step::DATAGRAM: {
        CallbackInfo info(step.sender, 5000);
        std::string text = step.text;
        CallbackMessageParser().parse(info, text.data());
        EXPECT_EQ(admission.check(info), step.expected);
        break;
    }
    case Step::CROWD: {
        int admittedCount = 0;
        for (int i = 0; i < step.count; ++i) {
            const std::string sender = step.sender != nullptr ? step.sender : crowdAddress(step.firstSender + i);
            const VehicleAdmission::Verdict verdict = admission.check(message(sender.c_str(), step.vehicle + i));
            ASSERT_TRUE(verdict == NEW || verdict == REFUSED) << i;
            admittedCount += verdict == NEW;
        }
        EXPECT_EQ(admittedCount, step.vehicles.front());
        break;
    }
    case Step::REPEAT:
        for (int i = 0; i < step.count; ++i) {
            EXPECT_EQ(admission.check(message(step.sender, step.vehicle)), step.expected) << i;
        }
        break;
    case Step::ADMIT:
        admission.admit(idOf(step.vehicle));
        break;
    case Step::REVIEW:
        admission.review(idOf(step.vehicle));
        break;
    case Step::FORGET:
        admission.forget(idOf(step.vehicle));
        break;
    case Step::STORED: {
        std::vector<UniqueID> ids;
        for (int vehicle : step.vehicles) {
            ids.push_back(idOf(vehicle));
        }
        admission.setKnown(ids);
        break;
    }
    case Step::REFUSALS:
        EXPECT_EQ(admission.getRecentRefusals().count, static_cast<uint64_t>(step.count));
        break;
    case Step::CANDIDATES:
        EXPECT_EQ(listedNow, step.vehicles);
        break;
    case Step::LISTED:
        EXPECT_EQ(std::count(listedNow.begin(), listedNow.end(), step.vehicle), step.count);
        break;
    case Step::LISTED_OF: {
        size_t count = 0;
        for (const VehicleAdmission::Candidate& candidate : admission.getCandidates()) {
            count += step.sender == nullptr || candidate.address == step.sender;
        }
        EXPECT_EQ(count, static_cast<size_t>(step.count));
        break;
    }
    case Step::UNREVIEWED_OF:
        EXPECT_EQ(numbers(admission.unreviewedOf(step.sender)), step.vehicles);
        for (int vehicle : step.vehicles) {
            EXPECT_TRUE(admission.isUnreviewed(idOf(vehicle))) << vehicle;
        }
        break;
    case Step::UNREVIEWED_SENDERS: {
        std::string text;
        for (const VehicleAdmission::UnreviewedSender& sender : admission.getUnreviewedSenders()) {
            text += (text.empty() ? "" : " ") + sender.address + ":" + std::to_string(sender.vehicles);
        }
        EXPECT_EQ(text, step.text);
        break;
    }
    case Step::SENDERS_AT_MOST:
        EXPECT_LE(admission.getSenderCount(), static_cast<size_t>(step.count));
        break;
    case Step::KNOWN_COUNT:
        EXPECT_EQ(admission.getKnownCount(), static_cast<size_t>(step.count));
        break;
    }
}

} // namespace

// Vehicle 1 is stored; the others are new. The limits are small so that the
// rows show where each one bites.
TEST(VehicleAdmission, NewIdsAreTakenOnlyWithinTheRules) {
    const char* const A = "10.0.0.1";
    const char* const B = "10.0.0.2";
    const std::vector<Scenario> scenarios = {
        {"open: per sender and fleet limits",
         rules(VehicleAdmission::OPEN, 3, 5),
         {fix(0, A, 1, KNOWN),
          event(0, A, 1, 1, KNOWN),  // events of a known vehicle pass
          fix(0, A, 2, NEW),
          fix(0, A, 2, UNREVIEWED),
          fix(1, A, 3, NEW),
          fix(2, A, 4, NEW),
          fix(3, A, 5, REFUSED),  // fourth new one within the minute
          fix(4, B, 5, NEW),      // another sender has its own allowance
          fix(5, B, 6, REFUSED),  // the fleet holds five
          event(6, B, 7, 1, REFUSED),  // an event never makes a vehicle
          event(7, B, 8, CallbackInfo::EVENT_OPTIONAL_INFO, REFUSED),
          fix(60000, A, 9, REFUSED)}},  // still full a minute later
        {"open: the minute slides",
         rules(VehicleAdmission::OPEN, 2, 100),
         {fix(0, A, 2, NEW),
          fix(30000, A, 3, NEW),
          fix(59999, A, 4, REFUSED),
          fix(60000, A, 4, NEW),  // the first one left the minute
          fix(60001, A, 5, REFUSED),
          fix(90000, A, 5, NEW)}},
        {"known vehicles only",
         rules(VehicleAdmission::KNOWN_ONLY, 60, 20000),
         {fix(0, A, 1, KNOWN), fix(0, A, 2, REFUSED), fix(1, "10.0.0.3", 2, REFUSED)}},
        {"an id that is no GUID makes no vehicle and is counted",
         rules(VehicleAdmission::OPEN, 60),
         {datagram(0, A, fixText("NOT-A-GUID"), REFUSED),
          datagram(0, A, fixText("NOT-A-GUID"), REFUSED),
          datagram(0, A, "Bogus,100", REFUSED),  // no id field at all
          knownCount(1),
          refusalsAt(1, 3),
          datagram(2, A, fixText("00000000-0000-4000-8000-000000000007"), NEW),
          knownCount(2)}},
        {"reviewed and unreviewed vehicles",
         rules(VehicleAdmission::OPEN, 60),
         {fix(0, A, 2, NEW),
          fix(0, A, 2, UNREVIEWED),
          event(0, A, 2, PANIC, UNREVIEWED),
          fix(0, A, 1, KNOWN),  // stored before this start
          fix(0, B, 3, NEW),
          fix(0, B, 5, NEW),
          unreviewedOf(A, {2}),
          unreviewedOf(B, {3, 5}),
          unreviewedSenders("10.0.0.2:2 10.0.0.1:1"),
          reviewed(2),  // the operator edited it
          fix(1, A, 2, KNOWN),
          unreviewedOf(A, {}),
          admitted(4),  // by hand
          fix(1, B, 4, KNOWN),
          forgotten(3),  // deleted for good
          unreviewedOf(B, {5}),
          admitted(5),  // admitting an unreviewed vehicle reviews it
          fix(2, B, 5, KNOWN),
          fix(2, B, 3, NEW),  // new again
          unreviewedOf(B, {3})}},
        {"churning other senders does not reset an allowance",
         rules(VehicleAdmission::OPEN, 3),
         {fix(0, A, 2, NEW),
          fix(0, A, 3, NEW),
          fix(0, A, 4, NEW),
          fix(0, A, 5, REFUSED),
          // More senders than the table holds: the first ones fill it, the
          // rest are refused while everyone there is active.
          crowd(1000, 0, 1000, 2000, static_cast<int>(VehicleAdmission::MAX_SENDERS) - 1),
          fix(2000, A, 6, REFUSED),
          sendersAtMost(static_cast<int>(VehicleAdmission::MAX_SENDERS))}},
        {"the sender table is evicted once its senders are quiet",
         rules(VehicleAdmission::OPEN, 60),
         {crowd(0, 0, 1000, 1100, static_cast<int>(VehicleAdmission::MAX_SENDERS)),
          crowd(59999, 5000, 5000, 10, 0),
          crowd(60000, 10000, 10000, 1100, static_cast<int>(VehicleAdmission::MAX_SENDERS)),
          sendersAtMost(static_cast<int>(VehicleAdmission::MAX_SENDERS))}},
        {"forged senders cannot fill the fleet with unreviewed vehicles",
         rules(VehicleAdmission::OPEN, 60, 1000000, 50),
         {crowd(0, 0, 1000, 200, 50),
          fix(1, A, 1, KNOWN),
          crowd(120000, 1000, 5000, 200, 0),  // the cap holds after the minute
          reviewed(1000),
          crowd(120001, 2000, 9000, 200, 1)}},
        {"all senders together keep to one per-minute limit",
         rules(VehicleAdmission::OPEN, 60, 1000000, 1000000, 30),
         {crowd(0, 0, 1000, 100, 30), crowd(59999, 200, 2000, 10, 0), crowd(60000, 300, 3000, 100, 30)}},
        {"candidates: ids seen once cannot push out one seen often",
         rules(VehicleAdmission::KNOWN_ONLY, 60),
         {repeat(0, A, 2, 5, REFUSED),
          crowd(1, 0, 1000, 500, 0),
          listed(2, true),
          listedOf(nullptr, static_cast<int>(VehicleAdmission::MAX_CANDIDATES)),
          crowdFrom(2, B, 5000, 300, 0),  // one sender, many ids
          listed(2, true),
          listedOf(B, static_cast<int>(VehicleAdmission::MAX_CANDIDATES_PER_SENDER)),
          listedOf(nullptr, static_cast<int>(VehicleAdmission::MAX_CANDIDATES)),
          // Not seen for long, it gives way to a new id.
          crowd(VehicleAdmission::CANDIDATE_STALE_MS + 2, 9000, 9000, 200, 0),
          listed(2, false)}},
        {"candidates: a list of repeated candidates takes no id seen once",
         rules(VehicleAdmission::KNOWN_ONLY, 60),
         {crowd(0, 0, 1000, 200, 0),
          crowd(1, 0, 1000, 200, 0),  // each seen twice
          crowd(2, 500, 5000, 100, 0),
          listed(1000, true),
          listed(1199, true),
          listed(5000, false)}},
        {"an admitted vehicle leaves the candidate list",
         rules(VehicleAdmission::OPEN, 1),
         {fix(0, A, 2, NEW),
          fix(0, A, 3, REFUSED),
          candidatesAre({3}),
          fix(60000, A, 3, NEW),
          candidatesAre({}),
          fix(60001, A, 4, REFUSED),
          candidatesAre({4}),
          admitted(4),
          candidatesAre({}),
          fix(60002, A, 4, KNOWN),
          // Admitted elsewhere (another desk): it comes with the stored fleet.
          fix(60003, A, 5, REFUSED),
          candidatesAre({5}),
          stored({1, 4, 5}),
          candidatesAre({}),
          fix(60004, A, 5, KNOWN)}},
        {"refusals count for exactly one minute",
         rules(VehicleAdmission::KNOWN_ONLY, 60),
         {event(0, A, 2, 1, REFUSED), refusalsAt(59999, 1), refusalsAt(60000, 0)}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        int64_t now = 0;
        VehicleAdmission admission;
        admission.setClocks([&now] { return now; }, [&now] { return static_cast<std::time_t>(now / 1000); });
        admission.setRules(scenario.rules);
        admission.setKnown({idOf(1)});
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i));
            run(admission, now, scenario.steps[i]);
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
