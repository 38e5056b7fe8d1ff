#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/CallbackInfo.h"
#include "tests/db/ManagerFixture.h"
#include "tests/db/StatementFaults.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

using namespace velmora;
using velmora::test::queryRows;
using velmora::test::queryValue;
using velmora::test::Rows;

namespace {

using Clock = std::chrono::steady_clock;

class DBManagerTest : public test::ManagerFixture {};

const Rows kSchema = {
    {"event_info",
     "CREATE TABLE event_info (id INTEGER PRIMARY KEY AUTOINCREMENT,address TEXT,name TEXT,time "
     "DATETIME,event_type INTEGER,device_title TEXT, vehicle_id TEXT,foreign key(vehicle_id) "
     "references vehicle_info(id))"},
    {"event_info_idx", "CREATE UNIQUE INDEX event_info_idx ON event_info(id)"},
    {"event_info_vehicle_idx", "CREATE INDEX event_info_vehicle_idx ON event_info(vehicle_id)"},
    {"vehicle_info",
     "CREATE TABLE vehicle_info (id TEXT PRIMARY KEY,name TEXT,edited_name TEXT,last_updated_time "
     "DATETIME,last_updated_latitude TEXT,last_updated_longitude TEXT, deleted INTEGER, company "
     "TEXT, maker TEXT, model TEXT,registration TEXT, driver TEXT, license TEXT, info1 TEXT, "
     "info2 TEXT, image_path TEXT)"},
    {"vehicle_info_idx", "CREATE UNIQUE INDEX vehicle_info_idx ON vehicle_info(id)"},
    {"gps_data",
     "CREATE TABLE gps_data (id INTEGER PRIMARY KEY AUTOINCREMENT,gps_data TEXT,update_time "
     "DATETIME,vehicle_id TEXT,foreign key(vehicle_id) references vehicle_info(id))"},
    {"gps_data_idx", "CREATE UNIQUE INDEX gps_data_idx ON gps_data(id)"},
    {"gps_data_vehicle_idx", "CREATE INDEX gps_data_vehicle_idx ON gps_data(vehicle_id)"},
    {"optional_info",
     "CREATE TABLE optional_info (id INTEGER PRIMARY KEY AUTOINCREMENT,key_info TEXT NOT NULL, "
     "value_info TEXT NOT NULL DEFAULT '', vehicle_id TEXT, foreign key(vehicle_id) references "
     "vehicle_info(id))"},
    {"optional_info_idx", "CREATE UNIQUE INDEX optional_info_idx ON optional_info(id)"},
    // The console's own table, after the four the devices' data lives in.
    {"alarm_info",
     "CREATE TABLE alarm_info (id INTEGER PRIMARY KEY,event_id INTEGER,vehicle_id TEXT,vehicle_name TEXT,"
     "event_type INTEGER,priority INTEGER,device_title TEXT,address TEXT,received DATETIME,last_received DATETIME,"
     "repeat_count INTEGER NOT NULL DEFAULT 0,acknowledged DATETIME,acknowledged_by TEXT,closed DATETIME,"
     "closed_by TEXT,notes TEXT NOT NULL DEFAULT '')"},
    {"alarm_info_received_idx", "CREATE INDEX alarm_info_received_idx ON alarm_info(received)"},
    {"zone_info",
     "CREATE TABLE zone_info (id INTEGER PRIMARY KEY,name TEXT NOT NULL DEFAULT '',shape TEXT NOT NULL,"
     "geometry TEXT NOT NULL,alarm_on_entry INTEGER NOT NULL DEFAULT 1,alarm_on_exit INTEGER NOT NULL DEFAULT 0,"
     "dwell_seconds INTEGER NOT NULL DEFAULT 30,speed_limit_kmh INTEGER NOT NULL DEFAULT 0)"},
};

const char* const kSchemaQuery =
    "SELECT name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY rowid;";

bool logEvent(const std::string& name)
{
    CallbackInfo info("10.0.0.7", 5000);
    info.setVehicleName(name);
    info.setTime(DateTime(2026, 1, 31, 17, 5, 9));
    return EventLogger::getInstance().log(info);
}

// Polls the file until table holds at least expected rows; the time it took.
bool waitForRows(const std::string& path, const char* table, int expected,
                 std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (std::stoi(queryValue(path, std::string("SELECT COUNT(*) FROM ") + table)) >= expected)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Waits until the writer has finished its first (empty) batch and sleeps, so
// that what a test queues next is not taken by that first batch.
void letWriterSettle()
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!DBManager::getInstance().isWriterWaiting() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(DBManager::getInstance().isWriterWaiting());
}

} // namespace

TEST_F(DBManagerTest, NewFileGetsItsTablesAndIndexesExactly)
{
    EXPECT_EQ(queryRows(m_path, kSchemaQuery), kSchema);
}

TEST_F(DBManagerTest, FileLackingOnlyOptionalInfoGetsOnlyThat)
{
    DBManager::getInstance().shutdown();
    std::filesystem::remove(m_path);
    // Older, different table texts: kept as they are.
    test::executeSql(m_path, "CREATE TABLE event_info (id INTEGER PRIMARY KEY, marker TEXT);"
                             "CREATE TABLE vehicle_info (id TEXT PRIMARY KEY, marker TEXT);"
                             "CREATE TABLE gps_data (id INTEGER PRIMARY KEY, marker TEXT);");
    openManager();
    EXPECT_EQ(queryRows(m_path, kSchemaQuery),
              (Rows{{"event_info", "CREATE TABLE event_info (id INTEGER PRIMARY KEY, marker TEXT)"},
                    {"vehicle_info", "CREATE TABLE vehicle_info (id TEXT PRIMARY KEY, marker TEXT)"},
                    {"gps_data", "CREATE TABLE gps_data (id INTEGER PRIMARY KEY, marker TEXT)"},
                    kSchema[8], kSchema[9], kSchema[10], kSchema[11], kSchema[12]}));
}

TEST_F(DBManagerTest, PathLongerThan259BytesIsUsedWhole)
{
    DBManager::getInstance().shutdown();
    std::string dir = m_dir.path();
    while (dir.size() < 300)
        dir += "/a-rather-long-folder-name-for-testing";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/app.db";
    ASSERT_GT(path.size(), 259u);
    DBManager::getInstance().open(path.c_str(), 5000);
    EXPECT_TRUE(logEvent("far away"));
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryValue(path, "SELECT name FROM event_info;"), "far away");
}

TEST_F(DBManagerTest, TimeTextsPassThroughDatetime)
{
    struct Row {
        const char* given;
        const char* stored;
        const char* readBack;
    };
    const Row rows[] = {
        {"2026-01-31 17:05:09", "2026-01-31 17:05:09", "2026-01-31 17:05:09"},
        {"2026-01-31", "2026-01-31 00:00:00", "2026-01-31 00:00:00"},
        {"", test::kNull, ""},
        {"31/01/2026 17:05", test::kNull, ""},
        {"it's", test::kNull, ""},
    };
    const UniqueID vehicle;
    for (const Row& row : rows)
        ASSERT_TRUE(GPSDataContainer::getInstance().insert(row.given, vehicle, "$GPRMC,1"));
    reopen();
    const Rows stored = queryRows(m_path, "SELECT update_time FROM gps_data ORDER BY id;");
    ASSERT_EQ(DBManager::getInstance().loadGPSData(vehicle.toText().c_str()), 5);
    const GPSDataContainer::List& list = GPSDataContainer::getInstance().getList();
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].given);
        EXPECT_EQ(stored[i][0], rows[i].stored);
        EXPECT_STREQ(list[i].getUpdateTime(), rows[i].readBack);
    }
}

TEST_F(DBManagerTest, FullQueueRefusesAtOnce)
{
    DBManager& manager = DBManager::getInstance();
    {
        // Holding the manager lock keeps the writer out of its batch.
        ScopedLock lock(DBManager::getLock());
        for (int i = 0; i < DBManager::QUEUE_MAX_COUNT; ++i)
            ASSERT_TRUE(logEvent("n" + std::to_string(i))) << i;
        const auto start = Clock::now();
        EXPECT_FALSE(logEvent("one too many"));
        EXPECT_FALSE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", UniqueID(), "$"));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    }
    manager.shutdown();
    EXPECT_EQ(count("event_info"), "2048");
    EXPECT_EQ(count("gps_data"), "0");
}

TEST_F(DBManagerTest, WriterWakesWhenQueueIsHalfFull)
{
    // The writer sleeps 5 s between batches; half the message limit must not
    // wait for that.
    const int half = DBManager::QUEUE_MAX_COUNT / 2;
    letWriterSettle();
    for (int i = 0; i < half; ++i)
        ASSERT_TRUE(logEvent("e" + std::to_string(i)));
    EXPECT_TRUE(waitForRows(m_path, "event_info", half, std::chrono::milliseconds(3500)));
}

TEST_F(DBManagerTest, WriterWakesWhenHalfTheBytesAreQueued)
{
    // Few but large vehicle records: half the byte limit before half the count.
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const std::string big(1200, 'x');
    const int records = static_cast<int>(DBManager::QUEUE_CAPACITY / 2 / big.size()) + 2;
    ASSERT_LT(records, DBManager::QUEUE_MAX_COUNT / 2);
    letWriterSettle();
    for (int i = 0; i < records; ++i) {
        VehicleInfo* vehicle = container.create(UniqueID(), "v", "2026-01-31 17:05:09");
        vehicle->setInfo2(big);
        ASSERT_TRUE(vehicle->insert(container));
    }
    // The writer wakes once the bytes pass half (about 90% of these records).
    EXPECT_TRUE(waitForRows(m_path, "vehicle_info", records * 9 / 10,
                            std::chrono::milliseconds(3500)));
}

TEST_F(DBManagerTest, BurstAboveTheQueueLimitIsStoredNotRefused)
{
    // About 3,000 records a second for two seconds: three times what the
    // queue holds. Paced as a device fleet would send them, slow enough that
    // a writer on a loaded machine (sanitizers, parallel builds) keeps up.
    const int total = 6000;
    int refused = 0;
    const UniqueID vehicle;
    for (int i = 0; i < total; ++i) {
        if (!GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", vehicle, "$GPRMC"))
            ++refused;
        if (i % 30 == 29)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DBManager::getInstance().shutdown();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(count("gps_data"), std::to_string(total));
}

TEST_F(DBManagerTest, ShutdownWritesEverythingQueuedAndRefusesLaterRecords)
{
    DBManager& manager = DBManager::getInstance();
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const UniqueID id;
    VehicleInfo* vehicle = container.create(id, "bus 7", "2026-01-31 17:05:09");
    ASSERT_TRUE(vehicle->insert(container));
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(logEvent("e" + std::to_string(i)));
        ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", id, "$GPRMC"));
    }
    const auto start = Clock::now();
    manager.shutdown();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(count("event_info"), "300");
    EXPECT_EQ(count("gps_data"), "300");
    EXPECT_EQ(count("vehicle_info"), "1");

    EXPECT_FALSE(logEvent("too late"));
    EXPECT_FALSE(vehicle->update(container));
    EXPECT_FALSE(manager.isOpen());
    EXPECT_THROW(manager.loadEvents(nullptr), DatabaseException);
}

TEST_F(DBManagerTest, UpdateFindsTheRowInsertedInTheSameBatch)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const UniqueID id;
    {
        ScopedLock lock(DBManager::getLock());
        VehicleInfo* vehicle = container.create(id, "first", "2026-01-31 17:05:09");
        ASSERT_TRUE(vehicle->insert(container));
        vehicle->setEditedName("renamed");
        vehicle->setLastUpdatedLatitude("37.123456");
        ASSERT_TRUE(vehicle->update(container));
    }
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT name, edited_name, last_updated_latitude, deleted FROM "
                                "vehicle_info;"),
              (Rows{{"first", "renamed", "37.123456", "0"}}));
}

// A vehicle whose INSERT never reached the queue is stored by its next
// change; a vehicle deleted for good takes its fixes and events along and
// leaves the other vehicles' rows alone.
TEST_F(DBManagerTest, UpdateOfAnUnstoredVehicleInsertsItAndEraseDeletesEverything)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    UniqueID lost;
    UniqueID kept;
    ASSERT_TRUE(UniqueID::parse("11111111-2222-4333-8444-555555555555", lost));
    ASSERT_TRUE(UniqueID::parse("66666666-7777-4888-8999-aaaaaaaaaaaa", kept));
    {
        ScopedLock lock(DBManager::getLock());
        VehicleInfo* never = container.create(lost, "never inserted", "2026-01-31 17:05:09");
        ASSERT_TRUE(container.adopt(never));
        never->setLastUpdatedLatitude("37.123456");
        // Stored as given, quotes and all; the flag as a number.
        never->setDriver("O'Brien 100% \"x\"");
        never->setDeleted(true);
        ASSERT_TRUE(never->update(container));
        VehicleInfo* other = container.create(kept, "kept", "2026-01-31 17:05:09");
        ASSERT_TRUE(other->insert(container));
        for (const UniqueID* id : {&lost, &kept}) {
            ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:10", *id, "$GPRMC,1"));
            CallbackInfo event("10.0.0.7", 5000);
            event.setVehicleID(*id);
            event.setEventType(1);
            ASSERT_TRUE(EventLogger::getInstance().log(event));
        }
    }
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT name, last_updated_latitude, driver, typeof(deleted), deleted, "
                                "last_updated_time FROM vehicle_info ORDER BY name;"),
              (Rows{{"kept", "", "", "integer", "0", "2026-01-31 17:05:09"},
                    {"never inserted", "37.123456", "O'Brien 100% \"x\"", "integer", "1", "2026-01-31 17:05:09"}}));

    DBManager::getInstance().open(m_path.c_str(), 5000);
    ASSERT_TRUE(container.find(lost)->erase());
    DBManager::getInstance().shutdown();
    const std::string lostText = lost.toText();
    for (const char* table : {"vehicle_info WHERE id", "gps_data WHERE vehicle_id", "event_info WHERE vehicle_id"}) {
        EXPECT_EQ(queryRows(m_path, std::string("SELECT count(*) FROM ") + table + " = '" + lostText + "';"),
                  (Rows{{"0"}}))
            << table;
    }
    EXPECT_EQ(queryRows(m_path, "SELECT (SELECT count(*) FROM vehicle_info), (SELECT count(*) FROM gps_data), "
                                "(SELECT count(*) FROM event_info);"),
              (Rows{{"1", "1", "1"}}));
}

// A statement that fails inside a batch is skipped; the rest of the batch is
// committed and the manager lock is free again.
TEST_F(DBManagerTest, FailingStatementsAreSkippedNotTheBatch)
{
    DBManager& manager = DBManager::getInstance();
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const uint64_t failedBefore = manager.getFailedCount();
    const UniqueID id;
    VehicleInfo* huge = nullptr;
    {
        ScopedLock lock(DBManager::getLock());
        ASSERT_TRUE(logEvent("before"));
        VehicleInfo* vehicle = container.create(id, "bus", "2026-01-31 17:05:09");
        ASSERT_TRUE(vehicle->insert(container));
        // The same id again: the database refuses the duplicate key.
        VehicleInfo twin(id);
        twin.setName("twin");
        ASSERT_TRUE(twin.insert(container));
        // Far longer than any fixed statement size: stored whole.
        huge = container.create(UniqueID(), "huge", "2026-01-31 17:05:09");
        huge->setInfo1(std::string(4000, 'i'));
        ASSERT_TRUE(huge->insert(container));
        ASSERT_TRUE(logEvent("after"));
    }
    // Shutdown takes the manager lock after the writer's last batch: it
    // would never return if a failed batch had kept the lock.
    manager.shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT name FROM event_info ORDER BY id;"),
              (Rows{{"before"}, {"after"}}));
    EXPECT_EQ(queryRows(m_path, "SELECT id, name, length(info1) FROM vehicle_info ORDER BY rowid;"),
              (Rows{{id.toText(), "bus", "0"}, {huge->getId().toText(), "huge", "4000"}}));
    EXPECT_EQ(manager.getFailedCount() - failedBefore, 1u);
    openManager();
    EXPECT_EQ(manager.loadEvents(nullptr), 2);
}

TEST_F(DBManagerTest, FullDiskSkipsWhatDoesNotFitAndGoesOn)
{
    DBManager& manager = DBManager::getInstance();
    const uint64_t failedBefore = manager.getFailedCount();
    const int offered = 300;
    {
        ScopedLock lock(DBManager::getLock());
        // A page limit at the current size stands in for a full disk.
        manager.getDatabase().execute("PRAGMA max_page_count = 1;"); // clamps to the current size
        // Fixes among the events: the writer's compiled statements are run
        // again too when SQLite rolls the transaction back.
        for (int i = 0; i < offered; ++i) {
            if (i % 2 == 0)
                ASSERT_TRUE(logEvent("event number " + std::to_string(i)));
            else
                ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:10", UniqueID(), "$GPRMC,1"));
        }
    }
    // The final batch writes what fits, skips the rest and commits.
    manager.shutdown();
    const int stored = std::stoi(count("event_info")) + std::stoi(count("gps_data"));
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, offered);
    EXPECT_EQ(manager.getFailedCount() - failedBefore, static_cast<uint64_t>(offered - stored));

    // A new connection has room again; the file is sound.
    openManager();
    ASSERT_TRUE(logEvent("room again"));
    manager.shutdown();
    EXPECT_EQ(std::stoi(count("event_info")) + std::stoi(count("gps_data")), stored + 1);
    EXPECT_EQ(queryValue(m_path, "PRAGMA integrity_check;"), "ok");
}

TEST_F(DBManagerTest, LoadEventsWithAndWithoutCondition)
{
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(EventLogger::getInstance().log(eventMessage("v" + std::to_string(i), i)));
    reopen();
    DBManager& manager = DBManager::getInstance();
    struct Row {
        const char* condition;
        int expected;
    };
    const Row rows[] = {
        {nullptr, 5},
        {"event_type >= 3", 2},
        {"name = 'v1'", 1},
        {"time >= '2026-01-31 00:00:00' AND time <= '2026-01-31 23:59:59'", 5},
        {"name = 'nobody'", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.condition != nullptr ? row.condition : "(all)");
        EXPECT_EQ(manager.loadEvents(row.condition), row.expected);
        EXPECT_EQ(EventLogger::getInstance().getCount(), row.expected);
    }
    manager.loadEvents(nullptr);
    const EventLogger::List& list = EventLogger::getInstance().getList();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].getId(), i + 1);
        EXPECT_EQ(list[i].getEventType(), i);
        EXPECT_STREQ(list[i].getAddress(), "10.0.0.7");
        EXPECT_STREQ(list[i].getTime(), "2026-01-31 17:05:09");
        EXPECT_STREQ(list[i].getDeviceTitle(), "CAM 1");
    }
    // A failing read throws and keeps nothing half-done on the lock.
    EXPECT_THROW(manager.loadEvents("no_such_column = 1"), DatabaseException);
    EXPECT_EQ(manager.loadEvents("id = 3"), 1);
}

TEST_F(DBManagerTest, LoadGpsDataPerVehicle)
{
    const UniqueID first;
    const UniqueID second;
    const UniqueID silent;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", first,
                                                           ("$GPRMC," + std::to_string(i)).c_str()));
    ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:10", second, "$GPRMC,x"));
    reopen();
    DBManager& manager = DBManager::getInstance();
    EXPECT_EQ(manager.loadGPSData(first.toText().c_str()), 3);
    const GPSDataContainer::List& list = GPSDataContainer::getInstance().getList();
    EXPECT_STREQ(list[2].getGpsData(), "$GPRMC,2");
    EXPECT_TRUE(list[2].getVehicleId() == first);
    EXPECT_EQ(manager.loadGPSData(nullptr), 4);
    EXPECT_EQ(manager.loadGPSData(silent.toText().c_str()), 0);
    EXPECT_EQ(GPSDataContainer::getInstance().getCount(), 0);
    EXPECT_EQ(manager.loadGPSData("it's not an id"), 0);
    // A condition narrows the rows; it stays inside its parentheses, so an
    // OR in it cannot reach the rows of other vehicles.
    const std::string latest = "id = (SELECT MAX(id) FROM gps_data WHERE vehicle_id = '" + first.toText() + "')";
    struct Row {
        const UniqueID* vehicle;
        const char* condition;
        int expected;
    };
    const Row rows[] = {
        {&first, nullptr, 3},
        {&first, "update_time >= '2026-01-31 17:05:10'", 0},
        {nullptr, "update_time >= '2026-01-31 17:05:10'", 1},
        {&first, "id > 1 OR 1", 3},
        {&first, latest.c_str(), 1},
    };
    for (const Row& row : rows) {
        const std::string id = row.vehicle != nullptr ? row.vehicle->toText() : std::string();
        SCOPED_TRACE(row.condition != nullptr ? row.condition : "no condition");
        EXPECT_EQ(manager.loadGPSData(row.vehicle != nullptr ? id.c_str() : nullptr, row.condition), row.expected);
    }
    EXPECT_STREQ(list.back().getGpsData(), "$GPRMC,2");
    EXPECT_THROW(manager.loadGPSData(first.toText().c_str(), "no_such_column = 1"), DatabaseException);
}

TEST_F(DBManagerTest, VehiclesLoadedAtOpenWithDeletedOnlyWhenOne)
{
    DBManager::getInstance().shutdown();
    struct Row {
        const char* id;
        const char* deleted;
        bool expected;
    };
    const Row rows[] = {
        {"00000000-0000-0000-0000-000000000001", "0", false},
        {"00000000-0000-0000-0000-000000000002", "1", true},
        {"00000000-0000-0000-0000-000000000003", "2", false},
        {"00000000-0000-0000-0000-000000000004", "NULL", false},
    };
    std::string sql;
    for (const Row& row : rows)
        sql += std::string("INSERT INTO vehicle_info (id, name, deleted) VALUES ('") + row.id +
               "', NULL, " + row.deleted + ");";
    test::executeSql(m_path, sql);
    openManager();
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    ASSERT_EQ(container.getCount(), 4);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        VehicleInfo* vehicle = container.find(UniqueID(row.id));
        ASSERT_NE(vehicle, nullptr);
        EXPECT_EQ(vehicle->getDeleted(), row.expected);
        EXPECT_EQ(vehicle->getName(), "");
    }
}

TEST_F(DBManagerTest, QuotesAndPercentSignsRoundTripInEveryTextColumn)
{
    const char* const values[] = {"it's", "100%", "%s%d%q%n", "''", "a'b'%'c", "Ünïcode ✓"};
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    std::vector<UniqueID> ids;
    for (const char* value : values) {
        const std::string v = value;
        VehicleInfo* vehicle = container.create(UniqueID(), v, "2026-01-31 17:05:09");
        vehicle->setEditedName(v + "e");
        vehicle->setLastUpdatedLatitude(v + "lat");
        vehicle->setLastUpdatedLongitude(v + "lon");
        vehicle->setCompany(v + "c");
        vehicle->setMaker(v + "m");
        vehicle->setModel(v + "mo");
        vehicle->setRegistration(v + "r");
        vehicle->setDriver(v + "d");
        vehicle->setLicense(v + "l");
        vehicle->setInfo1(v + "1");
        vehicle->setInfo2(v + "2");
        vehicle->setImagePath(v + "p");
        ASSERT_TRUE(vehicle->insert(container));
        ids.push_back(vehicle->getId());

        CallbackInfo info = eventMessage(v);
        info.setAddress(v);
        info.setDeviceTitle(v + "t");
        info.setVehicleID(vehicle->getId());
        ASSERT_TRUE(EventLogger::getInstance().log(info));
        ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09",
                                                           vehicle->getId(), value));
    }
    reopen(); // loads the vehicles again from the file
    DBManager& manager = DBManager::getInstance();
    ASSERT_EQ(manager.loadEvents(nullptr), static_cast<int>(std::size(values)));
    ASSERT_EQ(manager.loadGPSData(nullptr), static_cast<int>(std::size(values)));
    for (size_t i = 0; i < std::size(values); ++i) {
        const std::string v = values[i];
        SCOPED_TRACE(v);
        const VehicleInfo* vehicle = container.find(ids[i]);
        ASSERT_NE(vehicle, nullptr);
        EXPECT_EQ(vehicle->getName(), v);
        EXPECT_EQ(vehicle->getEditedName(), v + "e");
        EXPECT_EQ(vehicle->getLastUpdatedTime(), "2026-01-31 17:05:09");
        EXPECT_EQ(vehicle->getLastUpdatedLatitude(), v + "lat");
        EXPECT_EQ(vehicle->getLastUpdatedLongitude(), v + "lon");
        EXPECT_EQ(vehicle->getCompany(), v + "c");
        EXPECT_EQ(vehicle->getMaker(), v + "m");
        EXPECT_EQ(vehicle->getModel(), v + "mo");
        EXPECT_EQ(vehicle->getRegistration(), v + "r");
        EXPECT_EQ(vehicle->getDriver(), v + "d");
        EXPECT_EQ(vehicle->getLicense(), v + "l");
        EXPECT_EQ(vehicle->getInfo1(), v + "1");
        EXPECT_EQ(vehicle->getInfo2(), v + "2");
        EXPECT_EQ(vehicle->getImagePath(), v + "p");

        const EventLog& event = EventLogger::getInstance().getList()[i];
        EXPECT_EQ(std::string(event.getAddress()), v.substr(0, 15));
        EXPECT_EQ(std::string(event.getName()), v);
        EXPECT_EQ(std::string(event.getDeviceTitle()), v + "t");
        EXPECT_TRUE(event.getVehicleId() == ids[i]);
        EXPECT_EQ(std::string(GPSDataContainer::getInstance().getList()[i].getGpsData()), v);
    }
}

// Waits until the writer has counted at least expected more failures.
bool waitForFailures(uint64_t before, uint64_t expected)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (DBManager::getInstance().getFailedCount() - before >= expected)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(DBManagerTest, LongRecordsAreStoredWholeAndSoAreTheirLaterUpdates)
{
    // Optional information and image paths have no length limit; a vehicle
    // whose statement outgrew a fixed size was never stored again, so a
    // removed vehicle came back at the next start.
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    auto fill = [](VehicleInfo& v, size_t size) {
        v.setEditedName(std::string(size, 'e'));
        v.setCompany(std::string(size, 'c'));
        v.setMaker(std::string(size, 'm'));
        v.setModel(std::string(size, 'o'));
        v.setRegistration(std::string(size, 'r'));
        v.setDriver(std::string(size, 'd'));
        v.setLicense(std::string(size, 'l'));
        v.setInfo1(std::string(size, '1'));
        v.setInfo2(std::string(size, '2'));
        v.setImagePath(std::string(size * 3 / 4, 'p') + ".png");
    };
    const UniqueID bornLong;
    const UniqueID grownLong;
    VehicleInfo* first = container.create(bornLong, "long from the start", "2026-01-31 17:05:09");
    fill(*first, 4000);
    ASSERT_TRUE(first->insert(container));
    VehicleInfo* second = container.create(grownLong, "short at first", "2026-01-31 17:05:09");
    ASSERT_TRUE(second->insert(container));
    reopen();
    second = container.find(grownLong);
    ASSERT_NE(second, nullptr);
    fill(*second, 4000);
    second->setLastUpdatedLatitude("37.387458");
    ASSERT_TRUE(second->update(container));
    reopen();
    second = container.find(grownLong);
    ASSERT_NE(second, nullptr);
    second->setDeleted(true);
    ASSERT_TRUE(second->update(container));
    reopen();

    for (const UniqueID& id : {bornLong, grownLong}) {
        const VehicleInfo* v = container.find(id);
        ASSERT_NE(v, nullptr);
        SCOPED_TRACE(v->getName());
        EXPECT_EQ(v->getEditedName(), std::string(4000, 'e'));
        EXPECT_EQ(v->getCompany(), std::string(4000, 'c'));
        EXPECT_EQ(v->getMaker(), std::string(4000, 'm'));
        EXPECT_EQ(v->getModel(), std::string(4000, 'o'));
        EXPECT_EQ(v->getRegistration(), std::string(4000, 'r'));
        EXPECT_EQ(v->getDriver(), std::string(4000, 'd'));
        EXPECT_EQ(v->getLicense(), std::string(4000, 'l'));
        EXPECT_EQ(v->getInfo1(), std::string(4000, '1'));
        EXPECT_EQ(v->getInfo2(), std::string(4000, '2'));
        EXPECT_EQ(v->getImagePath(), std::string(3000, 'p') + ".png");
    }
    EXPECT_FALSE(container.find(bornLong)->getDeleted());
    EXPECT_TRUE(container.find(grownLong)->getDeleted());
    EXPECT_EQ(container.find(grownLong)->getLastUpdatedLatitude(), "37.387458");
}

TEST_F(DBManagerTest, UpdateKeepsQuotesAndPercentSignsInEveryTextColumn)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const UniqueID id;
    ASSERT_TRUE(container.create(id, "plain", "2026-01-31 17:05:09")->insert(container));
    reopen();
    VehicleInfo* vehicle = container.find(id);
    ASSERT_NE(vehicle, nullptr);
    const std::string v = "O'Brien's 100% %s%d%q ''";
    vehicle->setName(v + "n");
    vehicle->setEditedName(v + "e");
    vehicle->setLastUpdatedLatitude(v + "lat");
    vehicle->setLastUpdatedLongitude(v + "lon");
    vehicle->setCompany(v + "c");
    vehicle->setMaker(v + "m");
    vehicle->setModel(v + "mo");
    vehicle->setRegistration(v + "r");
    vehicle->setDriver(v + "d");
    vehicle->setLicense(v + "l");
    vehicle->setInfo1(v + "1");
    vehicle->setInfo2(v + "2");
    vehicle->setImagePath(v + "p");
    vehicle->setDeleted(true);
    ASSERT_TRUE(vehicle->update(container));
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT id, name, edited_name, last_updated_time, last_updated_latitude, "
                                "last_updated_longitude, deleted, company, maker, model, registration, "
                                "driver, license, info1, info2, image_path FROM vehicle_info;"),
              (Rows{{id.toText(), v + "n", v + "e", "2026-01-31 17:05:09", v + "lat", v + "lon", "1",
                     v + "c", v + "m", v + "mo", v + "r", v + "d", v + "l", v + "1", v + "2", v + "p"}}));
}

// SQLite may roll the whole transaction back when a statement fails (a full
// disk, an I/O error, an interrupt); the writer then begins again and runs
// what the batch had stored so far once more. Whatever happens, each record
// ends stored once or counted failed once.
TEST_F(DBManagerTest, WriterRecoveryStoresEachRecordOnceOrCountsItFailedOnce)
{
    constexpr int EVERY = -1; // a rule for every statement of the batch
    struct Fault {
        int event; // the record whose statement fails, or EVERY
        int run;   // on its run-th run (1: the first); 0: on every run
    };
    struct Row {
        const char* label;
        std::vector<Fault> rollBacks;
        int refusedBegin; // the n-th BEGIN from the batch's own on; 0: none; -1: every one
        std::vector<int> stored;
    };
    const Row rows[] = {
        {"one rollback, the rest replayed", {{3, 1}}, 0, {0, 1, 2, 4, 5, 6, 7}},
        {"rollback at the first statement", {{0, 1}}, 0, {1, 2, 3, 4, 5, 6, 7}},
        {"rollback at the last statement", {{7, 1}}, 0, {0, 1, 2, 3, 4, 5, 6}},
        {"two rollbacks in one batch", {{2, 1}, {5, 1}}, 0, {0, 1, 3, 4, 6, 7}},
        {"rolled back again while replaying", {{4, 1}, {1, 2}}, 0, {5, 6, 7}},
        {"no new transaction: the rest waits for the next batch", {{3, 1}}, 2, {4, 5, 6, 7}},
        // At shutdown a batch that cannot begin ends the writing, counted.
        // Every BEGIN is refused: the writer's own interval may run a batch
        // before shutdown does, and that one must not take the only refusal.
        {"the batch's own BEGIN refused at shutdown", {}, -1, {}},
        {"every statement rolled back", {{EVERY, 0}}, 0, {}},
    };
    constexpr int OFFERED = 8;
    DBManager& manager = DBManager::getInstance();
    int rowNumber = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string prefix = "r" + std::to_string(rowNumber++) + "e";
        if (!manager.isOpen())
            openManager();
        const uint64_t writtenBefore = manager.getWrittenCount();
        const uint64_t failedBefore = manager.getFailedCount();
        {
            test::StatementFaults faults;
            for (const Fault& fault : row.rollBacks)
                faults.rollBackOn(fault.event == EVERY ? std::string("INSERT INTO event_info")
                                                       : "'" + prefix + std::to_string(fault.event) + "'",
                                  fault.run);
            if (row.refusedBegin < 0)
                faults.refuseEveryBegin();
            else if (row.refusedBegin != 0)
                faults.refuseBegin(row.refusedBegin);
            {
                // One batch: the writer cannot start it before all are queued.
                ScopedLock lock(DBManager::getLock());
                for (int i = 0; i < OFFERED; ++i)
                    ASSERT_TRUE(logEvent(prefix + std::to_string(i)));
            }
            // Shutdown writes everything queued, in as many batches as it takes.
            manager.shutdown();
            EXPECT_EQ(faults.getInterrupted(), static_cast<int>(row.rollBacks.size() == 1 &&
                                                                        row.rollBacks[0].event == EVERY
                                                                    ? OFFERED
                                                                    : row.rollBacks.size()));
        }
        Rows expected;
        for (int i : row.stored)
            expected.push_back({prefix + std::to_string(i)});
        EXPECT_EQ(queryRows(m_path, "SELECT name FROM event_info WHERE name LIKE '" + prefix +
                                        "%' ORDER BY id;"),
                  expected);
        EXPECT_EQ(manager.getWrittenCount() - writtenBefore, row.stored.size());
        EXPECT_EQ(manager.getFailedCount() - failedBefore, OFFERED - row.stored.size());
    }
    EXPECT_EQ(queryValue(m_path, "PRAGMA integrity_check;"), "ok");
}

TEST_F(DBManagerTest, BatchInWhichEveryStatementFailsStillEndsItsTransaction)
{
    DBManager& manager = DBManager::getInstance();
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const UniqueID id;
    ASSERT_TRUE(container.create(id, "bus", "2026-01-31 17:05:09")->insert(container));
    reopen();
    letWriterSettle();
    const uint64_t failedBefore = manager.getFailedCount();
    const int half = DBManager::QUEUE_MAX_COUNT / 2;
    {
        // Half the queue wakes the writer for a batch of duplicate keys only.
        ScopedLock lock(DBManager::getLock());
        for (int i = 0; i < half; ++i) {
            VehicleInfo twin(id);
            twin.setName("twin");
            ASSERT_TRUE(twin.insert(container));
        }
    }
    ASSERT_TRUE(waitForFailures(failedBefore, half));
    // The next batch must be able to begin: nothing was left open.
    ASSERT_TRUE(logEvent("after"));
    manager.shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT name FROM event_info;"), (Rows{{"after"}}));
    EXPECT_EQ(queryRows(m_path, "SELECT name FROM vehicle_info;"), (Rows{{"bus"}}));
    EXPECT_EQ(manager.getFailedCount() - failedBefore, static_cast<uint64_t>(half));
}

TEST_F(DBManagerTest, ReadsOnAClosedDatabaseThrow)
{
    DBManager& manager = DBManager::getInstance();
    ASSERT_TRUE(logEvent("stored"));
    ASSERT_TRUE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", UniqueID(), "$GPRMC"));
    reopen();
    ASSERT_EQ(manager.loadEvents(nullptr), 1);
    ASSERT_EQ(manager.loadGPSData(nullptr), 1);
    manager.shutdown();
    // "No rows" would be a failure reported as success; what an earlier read
    // left behind is not shown as the answer either.
    EXPECT_THROW(manager.loadEvents(nullptr), DatabaseException);
    EXPECT_EQ(EventLogger::getInstance().getCount(), 0);
    EXPECT_THROW(manager.loadGPSData(nullptr), DatabaseException);
    EXPECT_EQ(GPSDataContainer::getInstance().getCount(), 0);
    EXPECT_THROW(manager.loadVehicles(), DatabaseException);
    try {
        manager.loadEvents("id = 1");
        ADD_FAILURE() << "no exception";
    } catch (const DatabaseException& e) {
        EXPECT_STRNE(e.getMessage(), "");
        EXPECT_NE(e.getErrorCode(), 0);
    }
}

TEST_F(DBManagerTest, OpenThatFailsThrowsStartsNoWriterAndRefusesRecords)
{
    DBManager& manager = DBManager::getInstance();
    manager.shutdown();
    const std::string plainFile = m_dir.file("plain.txt");
    const std::string notADatabase(5000, '#');
    {
        std::ofstream out(plainFile, std::ios::binary);
        out << notADatabase;
    }
    const std::string folder = m_dir.file("folder");
    std::filesystem::create_directory(folder);
    struct Row {
        const char* label;
        std::string path;
    };
    std::vector<Row> rows = {
        {"a path under a regular file", plainFile + "/app.db"},
        {"a folder where the file should be", folder},
        {"a file that is not a database", plainFile},
    };
    // Permissions do not stop root, so this row only means something (and is
    // only asked) when the suite does not run as root.
    const std::string locked = m_dir.file("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (geteuid() != 0)
        rows.push_back({"an unwritable folder", locked + "/app.db"});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_THROW(manager.open(row.path.c_str(), 0), DatabaseException);
        EXPECT_FALSE(manager.isOpen());
        EXPECT_FALSE(manager.isRunning());
        EXPECT_FALSE(logEvent("refused"));
        EXPECT_FALSE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", UniqueID(), "$GPRMC"));
        VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
        EXPECT_FALSE(container.create(UniqueID(), "refused", "2026-01-31 17:05:09")->insert(container));
        EXPECT_THROW(manager.loadEvents(nullptr), DatabaseException);
        manager.shutdown(); // harmless after a failed open
    }
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    // The file that is not a database is left exactly as it was.
    std::ifstream in(plainFile, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), notADatabase);
    EXPECT_FALSE(std::filesystem::exists(folder + "/app.db"));

    // A good path afterwards works as ever.
    openManager();
    EXPECT_TRUE(manager.isOpen());
    EXPECT_TRUE(logEvent("stored"));
    manager.shutdown();
    EXPECT_EQ(count("event_info"), "1");
}
