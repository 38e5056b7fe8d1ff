#include "tests/app/hub/HubFixture.h"

#include "tests/support/GermanLocale.h"

#include "mapview/MapCommands.h"
#include "mapview/MapView.h"
#include "mapview/TrackHistory.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

using namespace velmora;
using namespace velmora::test;

namespace {

using Step = std::function<void(HubTest&)>;

Step fix(const std::string& name, const std::string& id, const std::string& sentence) {
    return [=](HubTest& t) { t.device(fixDatagram(name, id, sentence)); };
}
Step event(const std::string& name, const std::string& id, int kind, const std::string& title) {
    return [=](HubTest& t) { t.device(eventDatagram(name, id, kind, title)); };
}
Step info(const std::string& name, const std::string& id, const std::map<std::string, std::string>& pairs) {
    return [=](HubTest& t) { t.device(infoDatagram(name, id, pairs)); };
}
Step removal(const std::string& id, bool yes) {
    return [=](HubTest& t) {
        t.desk.answers.push_back(yes);
        t.hub.removeVehicle(id);
    };
}
Step deletion(const std::string& id, bool yes) {
    return [=](HubTest& t) {
        t.desk.answers.push_back(yes);
        t.hub.deleteVehicle(id);
    };
}
Step rename(const std::string& id, const std::string& name) {
    return [=](HubTest& t) { t.hub.changeName(id, name); };
}
/// What the rows expect starts after this step.
Step seen() {
    return [](HubTest& t) { t.journal.clear(); };
}

const std::string TIME = "2026-01-31 17:05:09";
/// Another place: 48.117300 N, 11.516667 E.
const std::string FIX_MUNICH = "$GPRMC,134600,A,4807.0380,N,01131.0000,E,22.4,84.4,230394,,*1A";
const std::map<std::string, std::string> FULL_INFO = {
    {"Company", "North Depot"}, {"Maker", "Volvo"},   {"Model", "FH16"},   {"Registration", "ZH 1"},
    {"Driver", "O'Brien\\Co"},  {"License", "L-1"},   {"Colour", "red"},
};

std::string moveSantaClara(const std::string& id) {
    return "page moveTo(37.387458, -121.972360, 0.130000, 13, 45, 30, 309.620000, '" + id + "');";
}
std::string insertNew(const std::string& id, const std::string& name) {
    return "page insertVehicle(0, '', '', '" + id + "', '" + name + "', '" + TIME + "')";
}
std::string insertNewInfo(const std::string& id, const std::string& name) {
    return "page insertOptionalInfo(0, '" + id + "', '" + name + "', '', '', '', '', '', '')";
}

struct Check {
    std::string sql;
    std::string expected;
};

struct DeviceRow {
    const char* name;
    std::vector<Step> steps;
    Journal journal;
    std::vector<Check> stored;
};

} // namespace

// What each device message does: commands to the page (exact texts, in
// order) and what app.db holds once everything queued is written.
TEST_F(HubTest, DeviceMessagesShowAndStoreWhatTheRulesSay) {
    const std::string A = ID_A;
    const std::string vehicleA = "select name, edited_name, last_updated_time, last_updated_latitude, "
                                 "last_updated_longitude, deleted from vehicle_info where id='" + A + "'";
    const DeviceRow rows[] = {
        {"the first fix creates the vehicle (flag 0) and moves it",
         {fix("Truck 1", A, FIX_SANTA_CLARA)},
         {insertNew(A, "Truck 1"), insertNewInfo(A, "Truck 1"), moveSantaClara(A)},
         {{vehicleA, "Truck 1||" + TIME + "|37.387458|-121.972360|0"},
          {"select gps_data || '|' || update_time from gps_data where vehicle_id='" + A + "'",
           "$GPRMC,134530,A,3723.2475,N,12158.3416,W,0.13,309.62,120598,,|" + TIME}}},
        {"a later fix updates name and time, then moves",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(), fix("Truck 1b", A, FIX_MUNICH)},
         {"page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1b', '" + TIME + "')",
          "page moveTo(48.117300, 11.516667, 22.400000, 13, 46, 0, 84.400000, '" + A + "');"},
         {{vehicleA, "Truck 1b||" + TIME + "|48.117300|11.516667|0"},
          {"select count(*) from gps_data", "2"}}},
        {"an event of a vehicle never seen in a fix is dropped",
         {event("Ghost", ID_B, 13, "PANIC")},
         {},
         {{"select count(*) from event_info", "0"}, {"select count(*) from vehicle_info", "0"}}},
        {"an event of a known vehicle is stored and shown",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(), event("Truck 1", A, 13, "PANIC")},
         {"page updateEventInfo(13, 'Truck 1', '" + TIME + "', 'PANIC', '" + A + "')"},
         {{"select name || '|' || event_type || '|' || device_title || '|' || address || '|' || time "
           "from event_info where vehicle_id='" + A + "'",
           "Truck 1|13|PANIC|192.0.2.7|" + TIME}}},
        {"an event carries the operator's name",
         {fix("Truck 1", A, FIX_SANTA_CLARA), rename(A, "Dispatch 7"), seen(), event("Truck 1", A, 3, "IN1")},
         {"page updateEventInfo(3, 'Dispatch 7', '" + TIME + "', 'IN1', '" + A + "')"},
         {{"select name from event_info", "Dispatch 7"}}},
        {"a deleted vehicle is silent and unchanged, but its fixes are stored",
         {fix("Truck 1", A, FIX_SANTA_CLARA), removal(A, true), seen(), fix("Truck 1b", A, FIX_MUNICH),
          event("Truck 1", A, 13, "PANIC"), info("Truck 1", A, FULL_INFO)},
         {},
         {{vehicleA, "Truck 1||" + TIME + "|37.387458|-121.972360|1"},
          {"select count(*) from gps_data where vehicle_id='" + A + "'", "2"},
          {"select count(*) from event_info", "0"},
          {"select company from vehicle_info", ""}}},
        {"removal answered No keeps the vehicle",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(), removal(A, false), fix("Truck 1", A, FIX_SANTA_CLARA)},
         {"desk ask Do you want to delete this Vehicle?", "page enableTooltip()",
          "page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')",
          moveSantaClara(A)},
         {{"select deleted from vehicle_info", "0"}}},
        {"removal of an id that names no vehicle changes nothing",
         {removal(ID_B, true), removal("not a vehicle", true)},
         {"desk ask Do you want to delete this Vehicle?", "page enableTooltip()",
          "desk ask Do you want to delete this Vehicle?", "page enableTooltip()"},
         {{"select count(*) from vehicle_info", "0"}}},
        {"a fix with an empty sentence creates the vehicle but neither moves nor stores a fix",
         {[A](HubTest& t) { t.device(datagram("Truck 1", 100, A, "GPS", "")); }},
         {insertNew(A, "Truck 1"), insertNewInfo(A, "Truck 1")},
         {{"select count(*) from vehicle_info", "1"}, {"select count(*) from gps_data", "0"}}},
        {"a fix without a position is stored but does not move the vehicle to 0/0",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(), fix("Truck 1", A, FIX_VOID)},
         {"page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')"},
         {{"select last_updated_latitude || ',' || last_updated_longitude from vehicle_info",
           "37.387458,-121.972360"},
          {"select count(*) from gps_data", "2"}}},
        {"a fix off the globe is stored as received but moves nothing",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(),
          fix("Truck 1", A, "$GPRMC,134531,A,1e300,N,12158.3416,W,0.13,309.62,120598,,"),
          fix("Truck 1", A, "$GPRMC,134532,A,3723.2475,N,18100.0000,W,0.13,309.62,120598,,"),
          fix("Truck 1", A, "$GPRMC,134533,A,9100.0000,S,12158.3416,W,0.13,309.62,120598,,")},
         {"page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')",
          "page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')",
          "page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')"},
         {{"select last_updated_latitude || ',' || last_updated_longitude from vehicle_info",
           "37.387458,-121.972360"},
          {"select count(*) from gps_data", "4"}}},
        {"a receiver without a fix (status V at 0/0) is stored but does not move the vehicle",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(),
          fix("Truck 1", A, gprmc("GPRMC,134532,V,0000.0000,N,00000.0000,E,0.00,0.00,120598,,N")),
          fix("Truck 1", A, gprmc("GPRMC,134533,v ,0000.0000,S,00000.0000,W,,,120598,,N"))},
         {"page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')",
          "page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')"},
         {{"select last_updated_latitude || ',' || last_updated_longitude from vehicle_info",
           "37.387458,-121.972360"},
          {"select count(*) from gps_data where gps_data like '%0000.0000,%'", "2"}}},
        {"a first fix without a fix creates the vehicle with no position",
         {fix("Truck 1", A, gprmc("GPRMC,134532,V,0000.0000,N,00000.0000,E,0.00,0.00,120598,,N"))},
         {insertNew(A, "Truck 1"), insertNewInfo(A, "Truck 1")},
         {{vehicleA, "Truck 1||" + TIME + "|||0"}, {"select count(*) from gps_data", "1"}}},
        {"status A at 0/0 is a real place, and status V elsewhere a position",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(),
          fix("Truck 1", A, gprmc("GPRMC,134532,A,0000.0000,N,00000.0000,E,1.00,90.00,120598,,A")),
          fix("Truck 1", A, gprmc("GPRMC,134533,V,0000.0060,N,00000.0000,E,1.00,90.00,120598,,N"))},
         {"page updateVehicle('37.387458', '-121.972360', '" + A + "', 'Truck 1', '" + TIME + "')",
          "page moveTo(0.000000, 0.000000, 1.000000, 13, 45, 32, 90.000000, '" + A + "');",
          "page updateVehicle('0.000000', '0.000000', '" + A + "', 'Truck 1', '" + TIME + "')",
          "page moveTo(0.000100, 0.000000, 1.000000, 13, 45, 33, 90.000000, '" + A + "');"},
         {{"select last_updated_latitude || ',' || last_updated_longitude from vehicle_info", "0.000100,0.000000"}}},
        {"a vehicle that never had a position gets name and time, never an empty position",
         {[A](HubTest& t) { t.device(datagram("Ghost", 100, A, "GPS", "")); }, seen(),
          [A](HubTest& t) { t.device(datagram("Ghost 2", 100, A, "GPS", "")); }},
         {"page insertVehicle(1, '', '', '" + A + "', 'Ghost 2', '" + TIME + "')"},
         {{"select name from vehicle_info", "Ghost 2"}}},
        {"delete asks, then takes the vehicle and all it sent out of app.db",
         {fix("Truck 1", A, FIX_SANTA_CLARA), event("Truck 1", A, 13, "PANIC"), seen(), deletion(A, false),
          deletion(A, true), deletion(A, true)},
         {"desk ask Do you want to delete Truck 1 with all its stored positions and events? This cannot be undone.",
          "page enableTooltip()",
          "desk ask Do you want to delete Truck 1 with all its stored positions and events? This cannot be undone.",
          "page deleteVehicle('" + A + "')", "page enableTooltip()", "page enableTooltip()"},
         {{"select count(*) from vehicle_info", "0"},
          {"select count(*) from gps_data", "0"},
          {"select count(*) from event_info", "0"}}},
        {"messages judged before a Delete and handled after it do not bring the vehicle back",
         {[A](HubTest& t) {
              t.hub.setAdmission(&t.admission);
              t.admission.admit(UniqueID(A.c_str()));
          },
          fix("Truck 1", A, FIX_SANTA_CLARA), seen(), deletion(A, true), fix("Truck 1", A, FIX_MUNICH),
          event("Truck 1", A, 13, "PANIC"), info("Truck 1", A, FULL_INFO)},
         {"desk ask Do you want to delete Truck 1 with all its stored positions and events? This cannot be undone.",
          "page deleteVehicle('" + A + "')", "page enableTooltip()"},
         {{"select count(*) from vehicle_info", "0"},
          {"select count(*) from gps_data", "0"},
          {"select count(*) from event_info", "0"},
          {"select count(*) from optional_info", "0"}}},
        {"a fix without course turns the icon nowhere (-1)",
         {fix("Truck 1", A, FIX_NO_COURSE)},
         {insertNew(A, "Truck 1"), insertNewInfo(A, "Truck 1"),
          "page moveTo(37.387458, -121.972360, 0.000000, 13, 45, 31, -1.000000, '" + A + "');"},
         {}},
        {"optional information before the first fix is dropped, after it is kept",
         {info("Truck 1", A, FULL_INFO), fix("Truck 1", A, FIX_SANTA_CLARA), seen(),
          info("Truck 1 (ZH)", A, FULL_INFO)},
         {"page updateOptionalInfo('" + A +
          "', 'Truck 1 (ZH)', 'North Depot', 'Volvo', 'FH16', 'ZH 1', 'O\\'Brien\\\\Co', 'L-1')"},
         {{"select name || '|' || company || '|' || maker || '|' || model || '|' || registration || '|' || "
           "driver || '|' || license from vehicle_info",
           "Truck 1 (ZH)|North Depot|Volvo|FH16|ZH 1|O'Brien\\Co|L-1"}}},
        {"keys a device leaves out keep what it sent before",
         {fix("Truck 1", A, FIX_SANTA_CLARA), info("Truck 1", A, FULL_INFO), seen(),
          info("Truck 1", A, {{"Driver", "Night shift"}})},
         {"page updateOptionalInfo('" + A +
          "', 'Truck 1', 'North Depot', 'Volvo', 'FH16', 'ZH 1', 'Night shift', 'L-1')"},
         {{"select company || '|' || driver from vehicle_info", "North Depot|Night shift"}}},
        {"kinds below the fix's 100, also past the known 13 and negative ones, are events",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(), event("Truck 1", A, 14, "K14"), event("Truck 1", A, 57, "K57"),
          event("Truck 1", A, 99, "K99"), event("Truck 1", A, -1, "KM1"), event("Truck 1", A, -40, "KM40")},
         {"page updateEventInfo(14, 'Truck 1', '" + TIME + "', 'K14', '" + A + "')",
          "page updateEventInfo(57, 'Truck 1', '" + TIME + "', 'K57', '" + A + "')",
          "page updateEventInfo(99, 'Truck 1', '" + TIME + "', 'K99', '" + A + "')",
          "page updateEventInfo(-1, 'Truck 1', '" + TIME + "', 'KM1', '" + A + "')",
          "page updateEventInfo(-40, 'Truck 1', '" + TIME + "', 'KM40', '" + A + "')"},
         {{"select group_concat(event_type || ':' || device_title, ' ') from (select * from event_info order by id)",
           "14:K14 57:K57 99:K99 -1:KM1 -40:KM40"}}},
        {"a kind the console does not know does nothing",
         {fix("Truck 1", A, FIX_SANTA_CLARA), seen(),
          [A](HubTest& t) { t.device(datagram("Truck 1", 102, A, " ", "x")); }},
         {},
         {{"select count(*) from event_info", "0"}, {"select count(*) from gps_data", "1"}}},
    };
    for (const DeviceRow& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        for (const Step& step : row.steps) {
            step(*this);
        }
        EXPECT_EQ(journal, row.journal);
        restart();
        for (const Check& check : row.stored) {
            EXPECT_EQ(queryText(appDb(), check.sql), check.expected) << check.sql;
        }
    }
}

// After a restart the page gets its size, the time-out from setup.db and the
// fleet as stored in one call, deleted vehicles left out, paths with forward
// slashes; then the sort.
TEST_F(HubTest, PageLoadedSendsTheStoredFleet) {
    device(fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA));
    device(fixDatagram("Van 2", ID_B, FIX_MUNICH));
    EXPECT_TRUE(hub.updateOptionalInfo(ID_A, "images\\fleet\\truck.png", "Night: 'Hans'", "Day"));
    device(infoDatagram("Truck 1", ID_A, FULL_INFO));
    desk.answers.push_back(true);
    hub.removeVehicle(ID_B);
    Setup::getInstance().getDatabase().setInt(Setup::KEY_TIMEOUT_DURATION, 25);
    restart();
    journal.clear();

    hub.onPageLoaded(1280, 800);
    const Journal expected = {
        "page setPageSize(1280, 800);",
        "page resetTimeout(25);",
        "page beginFleetLoad();",
        "page insertFleet([['37.387458', '-121.972360', '" + ID_A + "', 'Truck 1', '" + TIME +
            "', 'North Depot', 'Volvo', 'FH16', 'ZH 1', 'O\\'Brien\\\\Co', 'L-1', 'images/fleet/truck.png', "
            "'Night: \\'Hans\\'', 'Day']]);",
        "page endFleetLoad();",
        "page sortVehicleList();",
        "page fitFleet();",
    };
    EXPECT_EQ(journal, expected);
}

// The map's view: the one the operator left, kept in setup.db across a
// restart; none kept (or none readable) fits the fleet.
TEST_F(HubTest, PageLoadedShowsTheKeptViewOrFitsTheFleet) {
    struct Row {
        const char* name;
        std::function<void(HubTest&)> before;
        const char* command;
    };
    const Row rows[] = {
        {"first start", [](HubTest&) {}, "page fitFleet();"},
        {"view left by the operator",
         [](HubTest& t) { t.hub.mapViewChanged(MapView{47.3769, 8.5417, 12}); },
         "page setMapView(47.376900, 8.541700, 12);"},
        {"the latest of two views",
         [](HubTest& t) {
             t.hub.mapViewChanged(MapView{47.3769, 8.5417, 12});
             t.hub.mapViewChanged(MapView{-33.8688, 151.2093, 9});
         },
         "page setMapView(-33.868800, 151.209300, 9);"},
        {"a kept text the map cannot show",
         [](HubTest&) { Setup::getInstance().getDatabase().setString(MapView::KEY, "47.37 8.54 30"); },
         "page fitFleet();"},
        {"no settings file",
         [](HubTest&) { Setup::getInstance().close(); },
         "page fitFleet();"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Setup::getInstance().close();
        std::filesystem::remove(dir.file("setup.db"));
        Setup::getInstance().open(dir.file("setup.db").c_str());
        row.before(*this);
        journal.clear();
        hub.onPageLoaded(1280, 800);
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.back(), row.command);
        Setup::getInstance().close();
        Setup::getInstance().open(dir.file("setup.db").c_str());
    }
}

// Where the page starts before the fleet is in: the kept view, else the
// bounds of the stored vehicles that have a position (a removed vehicle and
// one that never sent a position left out), else the world.
TEST_F(HubTest, ThePageStartsAtTheKeptViewOrTheStoredFleet) {
    const std::string C = "3c2b1a09-8f7e-4d6c-9b5a-493827161504";
    const std::string D = "7d6c5b4a-3928-4716-a5f4-e3d2c1b0a998";
    const std::string SYDNEY = gprmc("GPRMC,120000,A,3352.1280,S,15112.5580,E,0.0,0.0,120598,,A");
    struct Row {
        const char* name;
        std::vector<Step> steps;
        const char* expected;
    };
    const Row rows[] = {
        {"no vehicle", {}, "world"},
        {"one vehicle", {fix("Truck 1", ID_A, FIX_SANTA_CLARA)},
         "bounds 37.387458 -121.972360 37.387458 -121.972360"},
        {"many",
         {fix("Truck 1", ID_A, FIX_SANTA_CLARA), fix("Van 2", ID_B, FIX_MUNICH), fix("Ghost", C, FIX_VOID),
          fix("Gone", D, SYDNEY), removal(D, true)},
         "bounds 37.387458 -121.972360 48.117300 11.516667"},
        {"a kept view",
         {fix("Truck 1", ID_A, FIX_SANTA_CLARA), [](HubTest& t) { t.hub.mapViewChanged(MapView{47.3769, 8.5417, 12}); }},
         "view 47.376900 8.541700 12"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        Setup::getInstance().close();
        std::filesystem::remove(dir.file("setup.db"));
        Setup::getInstance().open(dir.file("setup.db").c_str());
        for (const Step& step : row.steps) {
            step(*this);
        }
        restart();
        PageDocument::Config config;
        hub.startView(config);
        char text[160] = "world";
        if (config.hasStartView) {
            std::snprintf(text, sizeof text, "view %.6f %.6f %d", config.startLatitude, config.startLongitude,
                          config.startZoom);
        } else if (config.hasStartBounds) {
            std::snprintf(text, sizeof text, "bounds %.6f %.6f %.6f %.6f", config.startSouth, config.startWest,
                          config.startNorth, config.startEast);
        }
        EXPECT_EQ(std::string(text), row.expected);
    }
}

TEST_F(HubTest, PageLoadedWithoutSettingsUsesTheDefaultTimeout) {
    Setup::getInstance().close();
    hub.onPageLoaded(800, 600);
    EXPECT_EQ(lines("page resetTimeout"), Journal{"page resetTimeout(10);"});
}

namespace {

struct RequestRow {
    const char* name;
    std::deque<bool> answers;
    std::deque<std::string> images;
    std::function<void(ConsoleHub&)> request;
    Journal journal;
    std::string storedImagePath;
};

} // namespace

// The page's requests: the tooltip is hidden before a window opens and
// enabled again after the edit window and the removal question.
TEST_F(HubTest, PageRequestsOpenTheirWindowAndAnswerThePage) {
    const std::string A = ID_A;
    const RequestRow rows[] = {
        {"log", {}, {}, [](ConsoleHub& h) { h.showLog(); }, {"page hideTooltip()", "desk showLog"}, ""},
        {"setup", {}, {}, [](ConsoleHub& h) { h.showSetup(); }, {"page hideTooltip()", "desk showSetup"}, ""},
        {"edit ended with OK",
         {true},
         {},
         [A](ConsoleHub& h) { h.editVehicle(A); },
         {"desk editVehicle " + A, "page updateUserDefinedInfo('" + A + "', 'Truck 1', '', '', '')",
          "page enableTooltip()"},
         ""},
        {"edit cancelled", {false}, {}, [A](ConsoleHub& h) { h.editVehicle(A); },
         {"desk editVehicle " + A, "page enableTooltip()"}, ""},
        {"edit of an id that names no vehicle", {true}, {}, [](ConsoleHub& h) { h.editVehicle(ID_B); },
         {"desk editVehicle " + ID_B, "page enableTooltip()"}, ""},
        {"image chosen",
         {},
         {"/srv/fleet\\O'Neil.png"},
         [A](ConsoleHub& h) { h.chooseImage(A); },
         {"desk chooseImage", "page updateImgPath('" + A + "', '/srv/fleet\\\\O\\'Neil.png')"},
         "/srv/fleet\\O'Neil.png"},
        {"image dialog cancelled", {}, {}, [A](ConsoleHub& h) { h.chooseImage(A); }, {"desk chooseImage"}, ""},
        {"image for an id that names no vehicle", {}, {"/tmp/x.png"}, [](ConsoleHub& h) { h.chooseImage(ID_B); },
         {"desk chooseImage"}, ""},
        {"time-out changed in Setup", {}, {}, [](ConsoleHub& h) { h.timeoutChanged(30); },
         {"page resetTimeout(30);"}, ""},
    };
    for (const RequestRow& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        device(fixDatagram("Truck 1", A, FIX_SANTA_CLARA));
        journal.clear();
        desk.answers = row.answers;
        desk.images = row.images;
        row.request(hub);
        EXPECT_EQ(journal, row.journal);
        restart();
        EXPECT_EQ(queryText(appDb(), "select image_path from vehicle_info"), row.storedImagePath);
    }
}

// Renames come from the page's list editor (and from the page itself when
// two vehicles share a name).
TEST_F(HubTest, RenamesFollowTheDeviceNameRule) {
    struct Row {
        const char* name;
        std::vector<std::string> renames;
        std::string storedEditedName;
        Journal journal;
    };
    const Row rows[] = {
        {"a new name is the operator's name", {"Dispatch 7"}, "Dispatch 7", {}},
        {"the device's own name clears the operator's", {"Dispatch 7", "Truck 1"}, "", {}},
        {"the empty name shows the device's name again and keeps the operator's",
         {"Dispatch 7", ""},
         "Dispatch 7",
         {"page updateVehicleName('" + ID_A + "', 'Truck 1')"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        device(fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA));
        journal.clear();
        for (const std::string& name : row.renames) {
            hub.changeName(ID_A, name);
        }
        hub.changeName(ID_B, "nobody");
        EXPECT_EQ(journal, row.journal);
        restart();
        EXPECT_EQ(queryText(appDb(), "select edited_name from vehicle_info"), row.storedEditedName);
    }
    EXPECT_FALSE(hub.updateOptionalInfo(ID_B, "a.png", "1", "2"));
}

// The tracking line draws the stored fixes the database returned, and stops
// at the last one with a position.
TEST_F(HubTest, TrackingLineDrawsTheStoredFixes) {
    device(fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA));
    device(fixDatagram("Truck 1", ID_A, FIX_VOID));
    device(fixDatagram("Truck 1", ID_A, FIX_MUNICH));
    device(fixDatagram("Van 2", ID_B, FIX_NO_COURSE));
    restart();
    // Five minutes after the fixes (their receivers' dates say nothing
    // useful, so the device clock is taken as UTC).
    hub.setClock([] { return std::time_t{1769879409}; });

    journal.clear();
    hub.showTrackingLine(ID_A);
    EXPECT_EQ(journal, (Journal{"desk chooseTrackingLine " + ID_A, "page enableTooltip()"}));

    journal.clear();
    desk.durations = {{1, "1 Hours"}};
    hub.showTrackingLine(ID_A);
    const Journal expected = {
        "desk chooseTrackingLine " + ID_A,
        "page showTrackingMap()",
        "page insertGpsInfo(37.387458, -121.972360, 309.620000, 0.130000, '2026-01-31 17:05:09');",
        "page insertGpsInfo(48.117300, 11.516667, 84.400000, 22.400000, '2026-01-31 17:05:09');",
        "page showTrackingLine(48.117300, 11.516667);",
        "page enableTooltip()",
    };
    EXPECT_EQ(journal, expected);
}

namespace {

// A fix of a device that keeps UTC+01:00, age seconds before now, at a place
// that tells it apart.
std::string fixAged(const std::string& id, std::time_t now, int age, int place) {
    const std::time_t utc = now - age;
    const std::time_t local = utc + 3600;
    tm u{}, l{};
    gmtime_r(&utc, &u);
    gmtime_r(&local, &l);
    char body[128];
    std::snprintf(body, sizeof body, "GPRMC,%02d%02d%02d.00,A,48%07.4f,N,01130.0000,E,12.0,90.0,%02d%02d%02d,,",
                  u.tm_hour, u.tm_min, u.tm_sec, place * 0.6, u.tm_mday, u.tm_mon + 1, u.tm_year % 100);
    return fixDatagram("Truck 1", id, gprmc(body),
                       DateTime(l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec));
}

} // namespace

// "The last 1 Hours / 3 Days / 7 Days" counts back from now in the device's
// own clock: exactly the fixes at or after the start are sent, in stored
// order; a duration without any fix tells the operator and sends nothing;
// ids that name no vehicle, or a removed one, open no window.
TEST_F(HubTest, TrackingLineSendsExactlyTheFixesOfTheChosenDuration) {
    const std::time_t now = 1769879109; // 2026-01-31 17:05:09 UTC
    // Stored in this order, each at its age: one second inside, on and
    // outside each boundary, two more, and one ten minutes after now (a
    // device clock ahead of the console's: there is no upper bound).
    const std::vector<int> ages = {604801, 3601, 259200, 10,     604800,  3599,
                                   259201, 2592000, 3600, -600,  604799, 259199};
    for (size_t i = 0; i < ages.size(); ++i) {
        device(fixAged(ID_A, now, ages[i], static_cast<int>(i)));
    }
    device(fixDatagram("Van 2", ID_B, FIX_SANTA_CLARA));
    hub.changeName(ID_A, "Dispatch 7");
    restart();
    auto inside = [&](int hours, std::time_t at) {
        Journal sent;
        int lastPlace = -1;
        for (size_t i = 0; i < ages.size(); ++i) {
            const std::time_t fixTime = now - ages[i];
            if (fixTime >= at - hours * 3600) {
                MapCommands::TrackFix fix{48.0 + static_cast<double>(i) * 0.01, 11.5, 90.0, 12.0,
                                          TrackHistory::timeText(fixTime + 3600)};
                sent.push_back("page " + MapCommands::insertGpsInfo(fix).toStdString());
                lastPlace = static_cast<int>(i);
            }
        }
        if (lastPlace >= 0) {
            sent.insert(sent.begin(), "page showTrackingMap()");
            sent.push_back("page " + MapCommands::showTrackingLine(48.0 + lastPlace * 0.01, 11.5).toStdString());
        }
        return sent;
    };
    struct Row {
        const char* name;
        std::string id;
        std::time_t at;
        std::optional<IOperator::TrackingDuration> duration;
        size_t fixes;
        std::string told;
    };
    const Row rows[] = {
        {"1 Hours", ID_A, now, IOperator::TrackingDuration{1, "1 Hours"}, 4, ""},
        {"3 Days", ID_A, now, IOperator::TrackingDuration{72, "3 Days"}, 7, ""},
        {"7 Days", ID_A, now, IOperator::TrackingDuration{168, "7 Days"}, 10, ""},
        {"1 Hours, a day later", ID_A, now + 86400, IOperator::TrackingDuration{1, "1 Hours"}, 0,
         "No positions of Dispatch 7 in the last 1 Hours."},
        {"3 Hours, a month later", ID_A, now + 2592000, IOperator::TrackingDuration{3, "3 Hours"}, 0,
         "No positions of Dispatch 7 in the last 3 Hours."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        journal.clear();
        hub.setClock([&row] { return row.at; });
        desk.durations = {*row.duration};
        hub.showTrackingLine(row.id);
        Journal expected = {"desk chooseTrackingLine " + row.id};
        const Journal sent = inside(row.duration->hours, row.at);
        EXPECT_EQ(sent.empty() ? 0 : sent.size() - 2, row.fixes);
        expected.insert(expected.end(), sent.begin(), sent.end());
        if (!row.told.empty()) {
            expected.push_back("desk tell " + row.told);
        }
        expected.push_back("page enableTooltip()");
        EXPECT_EQ(journal, expected);
    }
    // Nobody to show: no window, no command but the tooltips back on.
    desk.answers = {true};
    hub.removeVehicle(ID_B);
    for (const std::string& id : {ID_B, std::string("it's not an id"), std::string()}) {
        SCOPED_TRACE(id);
        journal.clear();
        desk.durations = {{168, "7 Days"}};
        hub.showTrackingLine(id);
        EXPECT_EQ(journal, Journal{"page enableTooltip()"});
    }
}

// Under a locale with decimal commas the numbers read from the device, sent
// to the page and stored are still C's.
TEST_F(HubTest, NumbersIgnoreAGermanLocale) {
    {
        GermanLocale german;
        ASSERT_TRUE(german.isActive()) << german.why();
        device(fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA));
        device(fixDatagram("Truck 1", ID_A, FIX_MUNICH));
    }

    const std::vector<std::string> moves = lines("page moveTo");
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], moveSantaClara(ID_A));
    EXPECT_EQ(lines("page updateVehicle"),
              Journal{"page updateVehicle('37.387458', '-121.972360', '" + ID_A + "', 'Truck 1', '" + TIME + "')"});
    restart();
    EXPECT_EQ(queryText(appDb(), "select last_updated_latitude || ' ' || last_updated_longitude from vehicle_info"),
              "48.117300 11.516667");
}

// A burst far larger than the database queue is stored whole: the writer
// takes the queue a batch at a time and the console waits for room rather
// than dropping fixes.
TEST_F(HubTest, ABurstLargerThanTheQueueLosesNoFix) {
    constexpr int FIXES = 6000;
    static_assert(FIXES * 2 > DBManager::QUEUE_MAX_COUNT * 2, "the burst must overflow the queue");
    for (int i = 0; i < FIXES; ++i) {
        device(fixDatagram("Truck 1", i % 2 ? ID_A : ID_B, i % 3 ? FIX_SANTA_CLARA : FIX_MUNICH));
    }
    restart();
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), FIXES);
    EXPECT_EQ(queryCount(appDb(), "select count(*) from vehicle_info"), 2);
}
