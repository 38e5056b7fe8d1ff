// A desk's fleet follows the store: rows taken as they now are, a fix only
// when newer than the one shown, the page told what came, changed, moved
// or went, and never a command that calls the console back (the desks
// would echo one another's renames).

#include "tests/app/hub/HubFixture.h"
#include "tests/support/QtWait.h"

#include "app/desk/DeskFleet.h"
#include "app/hub/FixFrames.h"
#include "store/StoreText.h"

#include <QRegularExpression>

using namespace velmora;
using namespace velmora::test;

namespace {

const char* const A = "0a000000-0000-4000-8000-00000000000a";
const char* const B = "0b000000-0000-4000-8000-00000000000b";

StoredVehicle vehicle(const char* id, const std::string& name, bool deleted = false) {
    StoredVehicle v;
    UniqueID::parse(id, v.id);
    v.name = name;
    v.lastUpdatedTime = 1311768000;
    v.hasPosition = true;
    v.latitude = 47.5;
    v.longitude = 8.5;
    v.deleted = deleted;
    return v;
}

StoredFix fix(const char* id, int64_t fixId, int64_t received, const char* latitude) {
    StoredFix f;
    f.id = fixId;
    UniqueID::parse(id, f.vehicle);
    f.sentence = std::string("$GPRMC,120000,A,") + latitude + ",N,00830.000,E,1,90,310126,,";
    f.time = 1311768000 + received;
    f.received = received;
    return f;
}

StoredEvent event(const char* id, const std::string& name) {
    StoredEvent e;
    UniqueID::parse(id, e.vehicle);
    e.name = name;
    e.kind = 13;
    e.title = "PANIC";
    e.time = 1311768000;
    return e;
}

/// The page functions called, in order ("insertVehicle moveTo ...").
std::string calls(Journal& journal) {
    std::string names;
    static const QRegularExpression call(QStringLiteral("^page (\\w+)\\("));
    for (const std::string& line : journal) {
        const QRegularExpressionMatch match = call.match(QString::fromStdString(line));
        if (match.hasMatch()) {
            names += (names.empty() ? "" : " ") + match.captured(1).toStdString();
        }
    }
    journal.clear();
    return names;
}

class DeskFleetTest : public ::testing::Test {
protected:
    void SetUp() override { VehicleInfoContainer::getInstance().clear(); }
    void TearDown() override { VehicleInfoContainer::getInstance().clear(); }

    VehicleInfo* record(const char* id) {
        UniqueID parsed;
        UniqueID::parse(id, parsed);
        return VehicleInfoContainer::getInstance().find(parsed);
    }

    Journal journal;
    RecordingPage page{journal};
    ScriptedOperator desk{journal};
    ConsoleHub hub{page, desk, VehicleInfoContainer::getInstance(), Setup::getInstance()};
    FixFrames frames{page};
    DeskFleet fleet{page, VehicleInfoContainer::getInstance(), frames};
};

} // namespace

TEST_F(DeskFleetTest, TheFleetFollowsTheStoresRowsAndFixes) {
    frames.setShow([this](const UniqueID& id, const GPSInfo* f) { hub.showFrame(id, f); });
    struct Step {
        const char* name;
        std::vector<StoredVehicle> load;
        FeedReader::Changes changes;
        const char* calls; ///< the page functions called, frame included
    };
    auto changes = [](std::vector<StoredVehicle> vehicles, std::vector<StoredFix> fixes,
                      std::vector<StoredEvent> events = {}, std::vector<UniqueID> gone = {}) {
        FeedReader::Changes c;
        c.vehicles = std::move(vehicles);
        c.fixes = std::move(fixes);
        c.events = std::move(events);
        c.deletedVehicles = std::move(gone);
        return c;
    };
    UniqueID b;
    UniqueID::parse(B, b);
    const std::vector<Step> steps = {
        {"the snapshot: a removed vehicle is kept, not shown", {vehicle(A, "Car A"), vehicle(B, "Car B", true)}, {},
         "insertVehicle insertOptionalInfo insertUserDefinedInfo sortVehicleList"},
        {"a fix moves the vehicle in the next frame", {}, changes({}, {fix(A, 10, 100, "4736.000")}),
         "updateVehicle moveTo"},
        {"an older fix, and the same one again, are not shown", {},
         changes({}, {fix(A, 9, 90, "4710.000"), fix(A, 10, 100, "4736.000")}), ""},
        {"a rename at another desk: names only, nothing that calls back", {},
         changes({[] {
                      StoredVehicle v = vehicle(A, "Car A");
                      v.editedName = "Ambulance";
                      v.info1 = "Shift A";
                      return v;
                  }()},
                 {}),
         "updateOptionalInfo insertUserDefinedInfo updateVehicleName"},
        {"the same row again changes nothing", {},
         changes({[] {
                      StoredVehicle v = vehicle(A, "Car A");
                      v.editedName = "Ambulance";
                      v.info1 = "Shift A";
                      return v;
                  }()},
                 {}),
         ""},
        {"an event goes to the list under the operator's name", {}, changes({}, {}, {event(A, "Car A")}),
         "updateEventInfo"},
        {"events and fixes of a removed vehicle are dropped", {},
         changes({}, {fix(B, 11, 110, "4731.000")}, {event(B, "Car B")}), ""},
        {"Remove at another desk", {},
         changes({[] {
                      StoredVehicle v = vehicle(A, "Car A", true);
                      v.editedName = "Ambulance";
                      v.info1 = "Shift A";
                      return v;
                  }()},
                 {}),
         "deleteVehicle"},
        {"Delete at another desk", {}, changes({}, {}, {}, {b}), "deleteVehicle"},
        {"a new vehicle is announced", {}, changes({vehicle(B, "Car B2")}, {fix(B, 12, 120, "4732.000")}),
         "insertVehicle insertOptionalInfo updateVehicle moveTo"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (!step.load.empty()) {
            fleet.load(step.load, {});
        } else {
            fleet.apply(step.changes);
        }
        frames.flush();
        EXPECT_EQ(calls(journal), step.calls);
    }
    ASSERT_NE(record(A), nullptr);
    EXPECT_TRUE(record(A)->getDeleted());
    EXPECT_EQ(record(A)->getEditedName(), "Ambulance");
    // The fix's position, in the six-decimal text a fix gives the record.
    EXPECT_EQ(record(A)->getLastUpdatedLatitude(), "47.600000");
    ASSERT_NE(record(B), nullptr);
    EXPECT_EQ(record(B)->getName(), "Car B2");
    EXPECT_EQ(record(B)->getLastUpdatedLatitude(), "47.533333");
    EXPECT_EQ(fleet.getFixesShown(), 2u);
    EXPECT_EQ(fleet.getEventsShown(), 1u);
}

// A reload takes the store's fleet as it is: vehicles gone meanwhile leave
// the page, the newest fix shown is not set back by the row's older position,
// and fixes newer than the rows move their vehicles.
TEST_F(DeskFleetTest, AReloadTakesTheStoresFleetAsItIs) {
    fleet.load({vehicle(A, "Car A"), vehicle(B, "Car B")}, {});
    fleet.apply([] {
        FeedReader::Changes c;
        c.fixes = {fix(A, 1, 10, "4800.000")};
        return c;
    }());
    journal.clear();
    fleet.load({vehicle(A, "Car A")}, {});
    EXPECT_EQ(record(B), nullptr);
    EXPECT_EQ(record(A)->getLastUpdatedLatitude(), "48.000000");
    EXPECT_EQ(calls(journal), "deleteVehicle sortVehicleList");
    // A fix newer than the rows comes with the load; the one shown already
    // is not shown again.
    fleet.load({vehicle(A, "Car A")}, {fix(A, 1, 10, "4800.000"), fix(A, 2, 20, "4810.000")});
    EXPECT_EQ(record(A)->getLastUpdatedLatitude(), "48.166667");
    EXPECT_EQ(fleet.getFixesShown(), 2u);
}
