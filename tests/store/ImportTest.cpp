// velmora-receiver --import copies a desk's app.db into the store: the
// texts and numbers app.db holds; twice adds nothing; a grown file adds
// only what it gained. app.db is made by the console's own storing code.

#include "tests/support/ReceiverProcess.h"
#include "tests/store/StoreFixture.h"

#include "db/AlarmRecord.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfo.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"

#include <sqlite3.h>

#include <cstdlib>
#include <functional>
#include <thread>
#include <filesystem>

using namespace velmora;

namespace {

using Rows = std::vector<std::vector<std::string>>;
const char* const NULL_TEXT = "<NULL>";

const char* const ID_A = "0a0a0a0a-0000-4000-8000-00000000000a";
const char* const ID_B = "0b0b0b0b-0000-4000-8000-00000000000b";

Rows sqliteRows(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    Rows rows;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            row.emplace_back(text != nullptr ? text : NULL_TEXT);
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

Rows storeRows(PgConnection& store, const std::string& sql)
{
    const PgResult result = store.execute(sql);
    Rows rows;
    for (int r = 0; r < result.getRowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < result.getColumnCount(); ++c) {
            row.emplace_back(result.isNull(r, c) ? NULL_TEXT : result.getText(r, c));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

/// The writer's queue is bounded: wait for room as the console does.
bool queued(const std::function<bool()>& put)
{
    for (int i = 0; i < 5000; ++i) {
        if (put()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void logEvent(const char* id, const std::string& name, int kind, const std::string& title)
{
    std::string text = name + "," + std::to_string(kind) + ",0, ," + title + ",0,131859729,863518, ,0, ," + id;
    CallbackInfo info("10.1.2.3", 1);
    CallbackMessageParser().parse(info, text.data());
    ASSERT_TRUE(queued([&] { return EventLogger::getInstance().log(info); }));
}

void storeVehicle(const char* id, const std::string& name, const std::string& edited, const std::string& latitude,
                  bool deleted)
{
    VehicleInfo vehicle{UniqueID(id)};
    vehicle.setName(name);
    vehicle.setEditedName(edited);
    vehicle.setLastUpdatedTime("2026-01-31 17:05:09");
    vehicle.setLastUpdatedLatitude(latitude);
    vehicle.setLastUpdatedLongitude(latitude.empty() ? "" : "-8.541700");
    vehicle.setDeleted(deleted);
    vehicle.setCompany("Acme, Inc.");
    vehicle.setDriver("Zoë");
    vehicle.setImagePath("/home/op/pictures/truck.png");
    vehicle.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
    ASSERT_TRUE(DBManager::getInstance().enqueue(vehicle));
}

void storeAlarm(int32_t id, const char* vehicle, int kind, bool closed)
{
    AlarmRecord alarm;
    alarm.id = id;
    alarm.vehicleId = UniqueID(vehicle);
    alarm.vehicleName = "Truck A";
    alarm.eventType = kind;
    alarm.priority = kind == 13 ? 1 : 2;
    alarm.deviceTitle = "Button";
    alarm.address = "10.1.2.3";
    alarm.received = "2026-01-31 17:05:09";
    alarm.lastReceived = "2026-01-31 17:06:00";
    alarm.repeatCount = 3;
    if (closed) {
        alarm.acknowledged = "2026-01-31 17:07:00";
        alarm.acknowledgedBy = "op";
        alarm.closed = "2026-01-31 17:08:00";
        alarm.closedBy = "op";
        alarm.notes = "2026-01-31 17:08:00 op: called the driver";
    }
    alarm.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
    ASSERT_TRUE(DBManager::getInstance().enqueue(alarm));
}

class ImportTest : public test::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-import-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_appDb = m_folder + "/app.db";
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    /// Runs the import as the real program; its log.
    std::string runImport(const std::string& path)
    {
        test::ReceiverProcess import({"--store", conninfo(), "--import", path}, m_folder + "/import.log");
        m_status = import.waitForExit(std::chrono::seconds(60));
        return import.log();
    }

    /// Every stored row, in a fixed order, for before/after comparisons.
    Rows everything()
    {
        Rows rows = storeRows(m_store, "SELECT * FROM vehicle_info ORDER BY id");
        for (const char* sql : {"SELECT id, address, name, time, event_type, device_title, vehicle_id, origin_id "
                                "FROM event_info ORDER BY id",
                                "SELECT id, gps_data, update_time, vehicle_id, received, origin_id FROM gps_data "
                                "ORDER BY id",
                                "SELECT * FROM alarm_info ORDER BY id"}) {
            const Rows more = storeRows(m_store, sql);
            rows.insert(rows.end(), more.begin(), more.end());
        }
        return rows;
    }

    std::string m_folder;
    std::string m_appDb;
    int m_status = -1;
};

} // namespace

TEST_F(ImportTest, CopiesAppDbOnceAndThenOnlyWhatItGained)
{
    DBManager& manager = DBManager::getInstance();
    manager.open(m_appDb.c_str(), 5000);
    storeVehicle(ID_A, "Truck A", "Alpha", "47.376900", false);
    storeVehicle(ID_B, "Truck B", "", "", true);
    for (int i = 0; i < 25; ++i) {
        logEvent(ID_A, "Truck A", i % 14, "Door " + std::to_string(i));
    }
    logEvent(ID_A, "Truck A", 13, "Button");
    for (int i = 0; i < 23456; ++i) {
        const std::string sentence = "$GPRMC," + std::to_string(i);
        ASSERT_TRUE(queued([&] {
            return GPSDataContainer::getInstance().insert(i % 1000 == 0 ? "" : "2026-01-30 23:59:59",
                                                          UniqueID(i % 2 == 0 ? ID_A : ID_B), sentence.c_str());
        }));
    }
    manager.shutdown();
    // Alarms after the events, so each names the newest of its kind.
    manager.open(m_appDb.c_str(), 5000);
    storeAlarm(1, ID_A, 13, false);
    storeAlarm(2, ID_A, 11, true);
    manager.shutdown();

    const std::string first = runImport(m_appDb);
    ASSERT_EQ(m_status, 0) << first;
    EXPECT_NE(first.find("fixes: 23456 of 23456 (100%)"), std::string::npos) << first;
    EXPECT_NE(first.find("2 vehicles, 26 events, 23456 fixes, 2 alarms added"), std::string::npos) << first;

    // The same texts and numbers as app.db.
    EXPECT_EQ(storeRows(m_store, "SELECT id, name, edited_name, to_char(last_updated_time, 'YYYY-MM-DD HH24:MI:SS'), "
                                 "to_char(last_updated_latitude, 'FM990.000000'), "
                                 "to_char(last_updated_longitude, 'FM990.000000'), CASE WHEN deleted THEN 1 ELSE 0 END, "
                                 "company, driver, image_path FROM vehicle_info ORDER BY id"),
              sqliteRows(m_appDb, "SELECT id, name, edited_name, last_updated_time, NULLIF(last_updated_latitude, ''), "
                                  "NULLIF(last_updated_longitude, ''), deleted, company, driver, image_path "
                                  "FROM vehicle_info ORDER BY id"));
    EXPECT_EQ(storeRows(m_store, "SELECT address, name, to_char(time, 'YYYY-MM-DD HH24:MI:SS'), event_type, "
                                 "device_title, vehicle_id FROM event_info ORDER BY origin_id"),
              sqliteRows(m_appDb, "SELECT address, name, time, event_type, device_title, vehicle_id FROM event_info "
                                  "ORDER BY id"));
    EXPECT_EQ(storeRows(m_store, "SELECT gps_data, to_char(update_time, 'YYYY-MM-DD HH24:MI:SS'), vehicle_id "
                                 "FROM gps_data ORDER BY origin_id"),
              sqliteRows(m_appDb, "SELECT gps_data, update_time, vehicle_id FROM gps_data ORDER BY id"));
    // An alarm's event is the store's copy of its event in app.db.
    EXPECT_EQ(storeRows(m_store, "SELECT a.origin_id, e.origin_id, a.vehicle_name, a.event_type, a.priority, "
                                 "to_char(a.received, 'YYYY-MM-DD HH24:MI:SS'), a.repeat_count, "
                                 "to_char(a.closed, 'YYYY-MM-DD HH24:MI:SS'), a.closed_by, a.notes "
                                 "FROM alarm_info a LEFT JOIN event_info e ON e.id = a.event_id ORDER BY a.origin_id"),
              sqliteRows(m_appDb, "SELECT id, event_id, vehicle_name, event_type, priority, received, repeat_count, "
                                  "closed, closed_by, notes FROM alarm_info ORDER BY id"));
    EXPECT_EQ(number("SELECT COUNT(*) FROM alarm_info WHERE closed IS NULL"), 1);

    // Twice adds nothing.
    const Rows once = everything();
    const std::string second = runImport(m_appDb);
    ASSERT_EQ(m_status, 0) << second;
    EXPECT_NE(second.find("0 vehicles, 0 events, 0 fixes, 0 alarms added"), std::string::npos) << second;
    EXPECT_EQ(everything(), once);

    // The desk went on: only the new rows come over.
    manager.open(m_appDb.c_str(), 5000);
    logEvent(ID_B, "Truck B", 2, "Late");
    ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-02-01 00:00:01", UniqueID(ID_B), "$GPRMC,late"));
    manager.shutdown();
    const std::string third = runImport(m_appDb);
    ASSERT_EQ(m_status, 0) << third;
    EXPECT_NE(third.find("0 vehicles, 1 events, 1 fixes, 0 alarms added"), std::string::npos) << third;
    EXPECT_EQ(number("SELECT COUNT(*) FROM gps_data"), 23457);
    EXPECT_EQ(number("SELECT COUNT(DISTINCT origin_id) FROM gps_data"), 23457);
}

TEST_F(ImportTest, AMissingFileChangesNothing)
{
    const std::string log = runImport(m_folder + "/no-such-app.db");
    EXPECT_EQ(m_status, 1) << log;
    EXPECT_NE(log.find("import failed"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/no-such-app.db"));
    EXPECT_EQ(number("SELECT COUNT(*) FROM import_origin"), 0);
}
