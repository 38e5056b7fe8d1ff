// The console's watch rules below the window: what ConsoleHub hears reaches
// them at the console's clock, removed vehicles are not watched, the
// settings come from setup.db (written and read in a German locale), and
// zones the page reports are checked, stored in app.db, drawn and loaded
// again.
#include "tests/app/hub/HubFixture.h"

#include "app/hub/RuleSettings.h"
#include "app/hub/WatchHub.h"
#include "db/DBManager.h"
#include "rules/AlarmKinds.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/SqliteRows.h"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

UniqueID idOf(const std::string& text) {
    UniqueID id;
    UniqueID::parse(text.c_str(), id);
    return id;
}

class WatchHubTest : public HubTest {
public:
    void SetUp() override {
        HubTest::SetUp();
        hub.setClock([this] { return now; });
        hub.setWatch(&watch);
        watch.setRequestListener([this](const AlarmRequest& r) { requests.push_back(r); });
    }

    /// The requests so far as "RAISE 1000 <vehicle> <time>" lines, emptied.
    std::vector<std::string> taken() {
        std::vector<std::string> out;
        for (const AlarmRequest& r : requests) {
            out.push_back(std::string(r.step == AlarmRequest::RAISE ? "RAISE " : "NOTE ") + std::to_string(r.kind) +
                          " " + r.vehicle.toText() + " " + std::to_string(r.time - START));
        }
        requests.clear();
        return out;
    }

    static constexpr std::time_t START = 1796839200;
    std::time_t now = START;
    WatchHub watch{page, Setup::getInstance()};
    std::vector<AlarmRequest> requests;
};

} // namespace

// Silence is measured at the console's clock (the fixes carry a device time
// of 1998), a removed vehicle is forgotten, and a vehicle's own silent time
// from its editor holds from then on.
TEST_F(WatchHubTest, TheRulesHearTheConsolesVehiclesAtItsClock) {
    {
        GermanLocale german;
        ASSERT_TRUE(german.isActive()) << german.why();
        WatchSettings settings;
        settings.silentMinutes = 1;
        RuleSettings::store(Setup::getInstance().getDatabase(), settings);
    }
    watch.loadSettings();
    device(fixDatagram("Truck A", ID_A, FIX_SANTA_CLARA));
    device(fixDatagram("Truck B", ID_B, FIX_SANTA_CLARA));
    desk.answers = {true};
    hub.removeVehicle(ID_B);
    device(eventDatagram("Truck B", ID_B, 3, "after removal"));

    struct Step {
        const char* what;
        std::time_t at;
        char action; // t tick, e event of A, f fix of A, v edit A (own time 0)
        std::vector<std::string> requests;
    };
    const std::string a = idOf(ID_A).toText();
    const Step steps[] = {
        {"heard 30 s ago: nothing", 30, 't', {}},
        {"a minute without a message: Silent, for A only", 60, 't', {"RAISE 1000 " + a + " 60"}},
        {"still quiet: no second alarm", 90, 't', {}},
        {"an event is heard", 95, 'e', {}},
        {"the next check notes it", 96, 't', {"NOTE 1000 " + a + " 95"}},
        {"heard for a minute and more", 160, 'f', {}},
        {"quiet again: a new alarm", 221, 't', {"RAISE 1000 " + a + " 221"}},
        {"its editor gives it 0 minutes (never) and it is heard", 230, 'v', {}},
        {"the note of the return", 231, 't', {"NOTE 1000 " + a + " 230"}},
        {"an hour later: never silent now", 3600, 't', {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        now = START + step.at;
        if (step.action == 't') {
            watch.tick(now);
        } else if (step.action == 'e') {
            device(eventDatagram("Truck A", ID_A, 1, "Door"));
        } else if (step.action == 'f') {
            device(fixDatagram("Truck A", ID_A, FIX_NO_COURSE));
        } else {
            RuleSettings::storeVehicleSilentMinutes(Setup::getInstance(), idOf(ID_A), 0);
            desk.answers = {true};
            hub.editVehicle(ID_A);
            device(fixDatagram("Truck A", ID_A, FIX_NO_COURSE));
        }
        EXPECT_EQ(taken(), step.requests);
    }
    EXPECT_EQ(watch.getRules().getSilentMinutes(idOf(ID_A)), 0);
    EXPECT_EQ(watch.getRules().getSilentMinutes(idOf(ID_B)), 1) << "B follows the setting, unwatched";
}

// The settings in setup.db, written and read in a German locale: defaults
// on a new file, values out of range fall back, each vehicle's own time
// read in one go; a vehicle's own time dropped is gone.
TEST_F(WatchHubTest, SettingsInSetupDb) {
    GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    velmora::Setup& setup = velmora::Setup::getInstance();
    EXPECT_EQ(RuleSettings::load(setup), (WatchSettings{10, 0, 10}));
    struct Row {
        const char* label;
        WatchSettings stored;
        WatchSettings read;
        bool fits;
    };
    const Row rows[] = {
        {"values within range", {45, 120, 30}, {45, 120, 30}, true},
        {"zero is never, none and at once", {0, 0, 0}, {0, 0, 0}, true},
        {"the largest", {10080, 1000, 3600}, {10080, 1000, 3600}, true},
        {"out of range falls back to the defaults", {10081, 1001, 3601}, {10, 0, 10}, false},
        {"negative too", {-1, -5, -1}, {10, 0, 10}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        RuleSettings::store(setup.getDatabase(), row.stored);
        EXPECT_EQ(RuleSettings::load(setup), row.read);
        EXPECT_EQ(RuleSettings::check(row.stored).isEmpty(), row.fits);
    }
    EXPECT_EQ(queryText(dir.file("setup.db"), "select value from setup where key = 'setup/SpeedLimitKmh'"), "-5");

    RuleSettings::storeVehicleSilentMinutes(setup, idOf(ID_A), 25);
    RuleSettings::storeVehicleSilentMinutes(setup, idOf(ID_B), 0);
    setup.getDatabase().setString((std::string(RuleSettings::KEY_VEHICLE_SILENT_PREFIX) + "not-an-id").c_str(), "5");
    setup.getDatabase().setString(RuleSettings::vehicleKey(idOf("11111111-2222-4333-8444-555555555555")).c_str(),
                                  "2,5");
    const std::map<UniqueID, int32_t> own = RuleSettings::loadVehicleSilentMinutes(setup);
    EXPECT_EQ(own, (std::map<UniqueID, int32_t>{{idOf(ID_A), 25}, {idOf(ID_B), 0}}));
    EXPECT_EQ(RuleSettings::vehicleSilentMinutes(setup, idOf(ID_A)), 25);
    RuleSettings::storeVehicleSilentMinutes(setup, idOf(ID_A), -1);
    EXPECT_EQ(RuleSettings::vehicleSilentMinutes(setup, idOf(ID_A)), -1);
    EXPECT_EQ(queryText(dir.file("setup.db"),
                        "select count(*) from setup where key = '" + RuleSettings::vehicleKey(idOf(ID_A)) + "'"),
              "0");
}

// What the page reports as a drawn or moved zone is read, never trusted:
// text that is no zone is refused; a zone is stored (dot numbers in a German
// locale), drawn, changed and deleted, and a restart loads what is left.
TEST_F(WatchHubTest, ZonesFromThePageAreCheckedStoredAndLoadedAgain) {
    GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    struct Drawn {
        const char* shape;
        const char* geometry;
        int32_t id;
    };
    const Drawn drawn[] = {
        {"circle", "37.387458 -121.97236 200", 1},
        {"polygon", "1 2,3 4", 0},                // two corners
        {"circle", "91 0 10", 0},                 // beyond the pole
        {"circle", "37,5 -121,9 200", 0},         // decimal commas
        {"square", "1 1,1 2,2 2", 0},             // no such shape
        {"polygon", "10 179.5,10 -179.5,11 -179.5,11 179.5", 2},
        {"polygon", "1 1,1 2,2 2');alert(1);('", 0},
    };
    for (const Drawn& d : drawn) {
        SCOPED_TRACE(d.geometry);
        journal.clear();
        EXPECT_EQ(watch.zoneDrawn(d.shape, d.geometry), d.id);
        EXPECT_EQ(lines("page putZone(").size(), d.id != 0 ? 1u : 0u);
    }
    ASSERT_EQ(watch.getZones().size(), 2u);
    EXPECT_EQ(watch.findZone(1)->getName(), "Zone 1");
    EXPECT_TRUE(watch.findZone(2)->contains({10.5, -179.9}));

    journal.clear();
    EXPECT_FALSE(watch.zoneEdited("9", "circle", "37 -121 100")) << "no such zone";
    EXPECT_FALSE(watch.zoneEdited("1x", "circle", "37 -121 100"));
    EXPECT_FALSE(watch.zoneEdited("1", "circle", "37 -121 0")) << "no radius";
    EXPECT_EQ(lines("page putZone(1, 'Zone 1', 'circle', '37.387458 -121.97236 200'").size(), 1u)
        << "the page shows the zone as it is again";
    Zone renamed = *watch.findZone(1);
    renamed.setName("Yard 'North'");
    renamed.setDwellSeconds(0);
    ASSERT_TRUE(watch.changeZone(renamed));
    ASSERT_TRUE(watch.zoneEdited("1", "circle", "37.4 -121.97 300.5"));
    EXPECT_EQ(watch.findZone(1)->getName(), "Yard 'North'") << "a move keeps the name and settings";
    EXPECT_EQ(watch.findZone(1)->getDwellSeconds(), 0);
    EXPECT_DOUBLE_EQ(watch.findZone(1)->getRadius(), 300.5);
    journal.clear();
    EXPECT_TRUE(watch.removeZone(2));
    EXPECT_FALSE(watch.removeZone(2));
    EXPECT_EQ(journal, (Journal{"page removeZone(2);"}));

    restart();
    EXPECT_EQ(queryText(appDb(), "select id, name, shape, geometry, dwell_seconds from zone_info"),
              "1|Yard 'North'|circle|37.4 -121.97 300.5|0");
    WatchHub again(page, Setup::getInstance());
    again.loadZones();
    ASSERT_EQ(again.getZones().size(), 1u);
    EXPECT_EQ(again.findZone(1)->getName(), "Yard 'North'");
    journal.clear();
    again.pageLoaded();
    EXPECT_EQ(journal, (Journal{"page putZone(1, 'Yard \\'North\\'', 'circle', '37.4 -121.97 300.5', 1, 0, 0, 0);"}));
    EXPECT_EQ(again.zoneDrawn("circle", "1 1 10"), 2) << "ids follow the highest stored";
}
