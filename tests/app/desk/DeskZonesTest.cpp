// Zones at control-room desks live in the store the receiver watches with:
// a zone drawn at one desk gets its id from the store and shows on the other
// desk's page; zones added at once never share an id; a change and a
// deletion at one desk reach the other, and a change of a zone deleted
// meanwhile makes nothing again. The fleet's watch rules set in Settings at
// one desk are the store's, and the other desk's, as is a vehicle's own
// silent time set in its window. Two real desk sessions in-process over a
// throw-away cluster, each with its own hub and a page that records.

#include "tests/app/dialogs/WindowTestSupport.h"
#include "tests/app/hub/HubFixture.h"
#include "tests/support/PgCluster.h"
#include "tests/support/QStringPrinting.h"
#include "tests/support/QtWait.h"

#include "app/alarms/AlarmPanel.h"
#include "app/desk/DeskSession.h"
#include "app/dialogs/SetupDlg.h"
#include "app/dialogs/VehicleEditDlg.h"
#include "app/dialogs/ZonesDlg.h"
#include "app/hub/FixFrames.h"
#include "app/hub/RuleSettings.h"
#include "app/hub/WatchHub.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "store/PgConnection.h"
#include "store/SharedSettings.h"
#include "store/StoreException.h"
#include "store/ZoneTable.h"

#include <QLineEdit>
#include <QTableWidget>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <set>
#include <thread>

using namespace velmora;
using namespace velmora::test;

namespace {

/// One desk as VelmoraDlg puts it together, with a recording page.
struct TestDesk {
    Journal journal;
    RecordingPage page{journal};
    QWidget window;
    FixFrames frames{page};
    AlarmPanel alarms{page, &window};
    WatchHub watch{page, Setup::getInstance()};
    std::unique_ptr<DeskSession> session;
    std::vector<int32_t> made;

    TestDesk(const std::string& conninfo, const char* name) {
        qputenv("VELMORA_DESK", name);
        session = std::make_unique<DeskSession>(conninfo, page, VehicleInfoContainer::getInstance(), frames, alarms,
                                                &window);
        session->getZones().attach(watch);
        watch.setZoneMadeListener([this](int32_t id) { made.push_back(id); });
        session->start();
    }
    ~TestDesk() { session->stop(1000); }

    bool pageHas(const std::string& text) const {
        return std::any_of(journal.begin(), journal.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
};

std::string rows(PgConnection& store, const std::string& sql) {
    const PgResult result = store.execute(sql);
    std::string text;
    for (int row = 0; row < result.getRowCount(); ++row) {
        text += (row > 0 ? ";" : "") + result.getString(row, 0);
    }
    return text;
}

} // namespace

TEST(DeskZonesTest, ZonesDrawnChangedAndDeletedAtOneDeskReachTheStoreAndTheOtherDesk) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.isUp()) << cluster.why();
    const std::string database = cluster.createDatabase();
    ASSERT_FALSE(database.empty()) << cluster.why();
    const std::string conninfo = cluster.conninfo(database);

    // One desk makes the schema before the other starts.
    TestDesk first(conninfo, "desk-1");
    ASSERT_TRUE(waitUntil([&] { return first.session->isLoaded(); }, 60000));
    TestDesk second(conninfo, "desk-2");
    ASSERT_TRUE(waitUntil([&] { return second.session->isLoaded(); }, 60000));
    PgConnection store;
    store.open(conninfo, "test");

    // Drawn at desk 1: nothing is shown until the store gave the id.
    EXPECT_EQ(first.watch.zoneDrawn("circle", "47.2 8.5 500"), 0);
    EXPECT_TRUE(first.watch.getZones().empty());
    ASSERT_TRUE(waitUntil([&] { return !first.made.empty(); }));
    const int32_t drawn = first.made.front();
    EXPECT_EQ(drawn, 1);
    ASSERT_NE(first.watch.findZone(drawn), nullptr);
    EXPECT_TRUE(first.pageHas("putZone(1, 'Zone 1', 'circle', '47.2 8.5 500'"));
    EXPECT_EQ(rows(store, "SELECT id || ' ' || name || ' ' || geometry || ' ' || changed_by FROM zone_info"),
              "1 Zone 1 47.2 8.5 500 " + AlarmPanel::userName() + "@desk-1");
    EXPECT_EQ(rows(store, "SELECT count(*) FROM change_feed WHERE kind = 'zone'"), "1");
    ASSERT_TRUE(waitUntil([&] { return second.pageHas("putZone(1, 'Zone 1', 'circle', '47.2 8.5 500'"); }));
    EXPECT_EQ(second.watch.getZones().size(), 1u);
    EXPECT_TRUE(second.made.empty()) << "only the desk that drew it opens it for its name";

    // Desk 1's Zones window is open on the zone, a new name half typed; as
    // VelmoraDlg does, the hub's changes refresh it.
    auto zonesWindow = std::make_unique<ZonesDlg>(first.watch, first.page, nullptr);
    first.watch.setZonesListener([&] { zonesWindow->refresh(); });
    zonesWindow->show();
    zonesWindow->select(drawn);
    auto* nameField = zonesWindow->findChild<QLineEdit*>("zoneName");
    ASSERT_NE(nameField, nullptr);
    retype(nameField, QStringLiteral("Yard"));

    // Two writers adding at once (each on its own connection) never get one
    // id: the test holds the table until both wait for it, so their first
    // zones start at the same moment. Both desks follow to the same set.
    constexpr int EACH = 15;
    store.execute("BEGIN");
    store.execute("LOCK TABLE zone_info IN ACCESS EXCLUSIVE MODE");
    std::vector<int32_t> ids[2];
    std::thread writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = std::thread([&, w] {
            PgConnection own;
            own.open(conninfo, "test");
            for (int n = 0; n < EACH; ++n) {
                const Zone zone = Zone::circle(0, "", {10.0 + w, 10.0 + n}, 100.0);
                try {
                    ids[w].push_back(ZoneTable::add(own, zone, "writer" + std::to_string(w)).getId());
                } catch (const StoreException& e) {
                    ADD_FAILURE() << e.getMessage();
                }
            }
        });
    }
    const bool bothWait = waitUntil([&] {
        return rows(store, "SELECT count(*) FROM pg_locks WHERE NOT granted AND relation = 'zone_info'::regclass") ==
               "2";
    });
    store.execute("COMMIT");
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_TRUE(bothWait);
    std::set<int32_t> distinct(ids[0].begin(), ids[0].end());
    distinct.insert(ids[1].begin(), ids[1].end());
    distinct.insert(drawn);
    EXPECT_EQ(distinct.size(), 2u * EACH + 1);
    EXPECT_EQ(rows(store, "SELECT count(DISTINCT id) FROM zone_info"), std::to_string(2 * EACH + 1));
    for (TestDesk* desk : {&first, &second}) {
        EXPECT_TRUE(waitUntil([&] { return desk->watch.getZones().size() == 2u * EACH + 1; }))
            << desk->watch.getZones().size();
    }
    // Other zones came: the list shows them, the typing stays.
    EXPECT_EQ(zonesWindow->getTable()->rowCount(), 2 * EACH + 1);
    EXPECT_EQ(zonesWindow->selectedId(), drawn);
    EXPECT_EQ(nameField->text(), QStringLiteral("Yard"));

    // Renamed and moved at desk 2: desk 1 shows both.
    Zone renamed = *second.watch.findZone(drawn);
    renamed.setName("Depot");
    ASSERT_TRUE(second.watch.changeZone(renamed));
    ASSERT_TRUE(second.watch.zoneEdited("1", "circle", "47.2 8.5 800"));
    ASSERT_TRUE(waitUntil([&] { return first.pageHas("putZone(1, 'Depot', 'circle', '47.2 8.5 800'"); }));
    EXPECT_EQ(rows(store, "SELECT name || ' ' || geometry FROM zone_info WHERE id = 1"), "Depot 47.2 8.5 800");
    // The zone shown itself changed elsewhere: the form shows the store's.
    EXPECT_EQ(nameField->text(), QStringLiteral("Depot"));
    first.watch.setZonesListener({});
    zonesWindow.reset();

    // Deleted at desk 1: gone from the store and from desk 2's page.
    first.journal.clear();
    ASSERT_TRUE(first.watch.removeZone(drawn));
    EXPECT_TRUE(first.pageHas("removeZone(1)"));
    ASSERT_TRUE(waitUntil([&] { return second.pageHas("removeZone(1)"); }));
    EXPECT_EQ(second.watch.findZone(drawn), nullptr);
    EXPECT_EQ(rows(store, "SELECT count(*) FROM zone_info WHERE id = 1"), "0");
    // A desk that had not heard yet changes the deleted zone: it stays gone.
    EXPECT_FALSE(ZoneTable::update(store, renamed, "late@desk-3"));
    EXPECT_EQ(rows(store, "SELECT count(*) FROM zone_info WHERE id = 1"), "0");
    EXPECT_EQ(second.watch.getZones().size(), 2u * EACH);

    // The fleet's rules set in desk 2's Settings window go to the store (not
    // to its setup.db), and desk 1 follows.
    TempDir own;
    Setup::getInstance().open(own.file("setup.db").c_str());
    {
        SetupDlg dialog(nullptr, &second.session->getSettings());
        dialog.show();
        retype(dialog.findChild<QLineEdit*>("silentMinutesField"), QStringLiteral("45"));
        retype(dialog.findChild<QLineEdit*>("speedLimitField"), QStringLiteral("80"));
        click(dialog.findChild<QPushButton*>("okButton"));
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_TRUE(waitUntil([&] {
        return rows(store, "SELECT key || '=' || value FROM shared_setting WHERE key IN ('setup/SilentMinutes', "
                           "'setup/SpeedLimitKmh') ORDER BY key") == "setup/SilentMinutes=45;setup/SpeedLimitKmh=80";
    }));
    EXPECT_TRUE(waitUntil([&] { return first.session->getSettings().getRules().silentMinutes == 45; }));
    EXPECT_EQ(first.session->getSettings().getRules().speedLimitKmh, 80);
    EXPECT_EQ(RuleSettings::load(Setup::getInstance()), WatchSettings()) << "setup.db keeps only the desk's own";

    // A vehicle's own silent minutes typed in desk 2's vehicle window are the
    // store's too, and desk 1 follows; cleared, the fleet's apply again.
    VehicleInfo* truck = VehicleInfoContainer::getInstance().create(UniqueID(), "Truck 4", "2026-01-31 17:05:09");
    ASSERT_TRUE(VehicleInfoContainer::getInstance().adopt(truck));
    const UniqueID truckId = truck->getId();
    const std::string key = std::string(SharedSettings::KEY_VEHICLE_SILENT_PREFIX) + truckId.toText();
    for (const char* typed : {"25", ""}) {
        SCOPED_TRACE(typed);
        VehicleEditDlg dialog(truckId.toText(), nullptr, &second.session->getVehicleStore(),
                              &second.session->getSettings());
        dialog.show();
        QLineEdit* silent = dialog.findChild<QLineEdit*>("silentEdit");
        EXPECT_TRUE(silent->placeholderText().contains(QStringLiteral("45"))) << silent->placeholderText().toStdString();
        retype(silent, QString::fromLatin1(typed));
        click(dialog.findChild<QPushButton*>("okButton"));
        EXPECT_FALSE(dialog.isVisible());
        const bool set = *typed != '\0';
        EXPECT_TRUE(waitUntil([&] {
            return rows(store, "SELECT value FROM shared_setting WHERE key = '" + key + "'") == (set ? "25" : "");
        }));
        EXPECT_TRUE(waitUntil(
            [&] { return first.session->getSettings().getVehicleSilentMinutes(truckId) == (set ? 25 : -1); }));
    }
    EXPECT_EQ(RuleSettings::vehicleSilentMinutes(Setup::getInstance(), truckId), -1);
    Setup::getInstance().close();
}
