#include "db/DBManager.h"
#include "db/EventLog.h"
#include "db/EventLogger.h"
#include "db/GPSData.h"
#include "db/GPSDataContainer.h"
#include "db/RowSet.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "db/ZoneRecord.h"
#include "foundation/thread/ScopedLock.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/GermanLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using velmora::test::queryRows;
using velmora::test::Rows;

namespace {

class RecordsTest : public test::ManagerFixture {};

} // namespace

TEST(RecordCutTest, FixedFieldsKeepTheirFirstWholeCharacters)
{
    struct Row {
        std::string given;
        std::string kept;
    };
    const std::string s32(32, 'a');
    const Row rows[] = {
        {"", ""},
        {s32, s32},
        {s32 + "b", s32},
        {std::string(40, 'n'), std::string(32, 'n')},
        // A two-byte character across the limit is dropped whole.
        {std::string(31, 'a') + "é", std::string(31, 'a')},
        {std::string(30, 'a') + "é", std::string(30, 'a') + "é"},
        // A four-byte character split at any point.
        {std::string(29, 'a') + "😀", std::string(29, 'a')},
        {std::string(28, 'a') + "😀x", std::string(28, 'a') + "😀"},
        // Not UTF-8 at all: cut by bytes.
        {std::string(40, '\x80'), std::string(32, '\x80')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.given);
        EventLog event;
        event.setName(row.given.c_str());
        EXPECT_EQ(std::string(event.getName()), row.kept);
    }
}

TEST(RecordCopyTest, QueueCopyCarriesEveryFieldAndDamagedCopiesAreRefused)
{
    VehicleInfo vehicle;
    vehicle.setName("n");
    vehicle.setEditedName("e");
    vehicle.setLastUpdatedTime("t");
    vehicle.setLastUpdatedLatitude("la");
    vehicle.setLastUpdatedLongitude("lo");
    vehicle.setDeleted(true);
    vehicle.setCompany("c");
    vehicle.setMaker("m");
    vehicle.setModel("mo");
    vehicle.setRegistration("r");
    vehicle.setDriver("d");
    vehicle.setLicense("li");
    vehicle.setInfo1("i1");
    vehicle.setInfo2("i2");
    vehicle.setImagePath("p");
    vehicle.setOperation(AbstractDatabaseRecord::OPERATION_UPDATE);
    std::string bytes;
    vehicle.serialize(bytes);

    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    AbstractDatabaseRecord::Reader in(data, bytes.size());
    int32_t kind = -1;
    int32_t operation = -1;
    ASSERT_TRUE(AbstractDatabaseRecord::readHeader(in, kind, operation));
    EXPECT_EQ(kind, AbstractDatabaseRecord::KIND_VEHICLE);
    EXPECT_EQ(operation, AbstractDatabaseRecord::OPERATION_UPDATE);
    VehicleInfo copy(AbstractDatabaseRecord::nullId());
    ASSERT_TRUE(copy.deserializeFields(in));
    std::string again;
    copy.setOperation(AbstractDatabaseRecord::OPERATION_UPDATE);
    copy.serialize(again);
    EXPECT_EQ(again, bytes);

    // Every shortened copy fails rather than yielding a half record.
    for (size_t length = 8; length < bytes.size(); ++length) {
        AbstractDatabaseRecord::Reader cut(data, length);
        ASSERT_TRUE(AbstractDatabaseRecord::readHeader(cut, kind, operation));
        VehicleInfo partial(AbstractDatabaseRecord::nullId());
        EXPECT_FALSE(partial.deserializeFields(cut)) << length;
    }
}

TEST_F(RecordsTest, LoggedEventCarriesTheMessageCutToItsFields)
{
    struct Row {
        std::string name;
        std::string title;
        std::string storedName;
        std::string storedTitle;
    };
    const Row rows[] = {
        {std::string(40, 'v'), std::string(32, 't'), std::string(32, 'v'), std::string(32, 't')},
        {"bus 7", std::string(33, 't'), "bus 7", std::string(32, 't')},
    };
    for (const Row& row : rows) {
        CallbackInfo info = eventMessage(row.name, 13);
        info.setDeviceTitle(row.title);
        ASSERT_TRUE(EventLogger::getInstance().log(info));
    }
    // Storing leaves the list alone: it holds only what the last read gave.
    EXPECT_EQ(EventLogger::getInstance().getCount(), 0);
    reopen();
    const Rows stored = queryRows(m_path, "SELECT address, name, time, event_type, device_title "
                                          "FROM event_info ORDER BY id;");
    ASSERT_EQ(stored.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(stored[i], (std::vector<std::string>{"10.0.0.7", rows[i].storedName,
                                                       "2026-01-31 17:05:09", "13",
                                                       rows[i].storedTitle}));
    }
}

TEST_F(RecordsTest, NullColumnsReadAsEmpty)
{
    DBManager::getInstance().shutdown();
    test::executeSql(m_path, "INSERT INTO event_info (address, name, time, event_type, "
                             "device_title, vehicle_id) VALUES (NULL, NULL, NULL, NULL, NULL, "
                             "'not an id');"
                             "INSERT INTO gps_data (gps_data, update_time, vehicle_id) VALUES "
                             "(NULL, NULL, NULL);");
    openManager();
    ASSERT_EQ(DBManager::getInstance().loadEvents(nullptr), 1);
    const EventLog& event = EventLogger::getInstance().getList().front();
    EXPECT_STREQ(event.getTime(), "");
    EXPECT_STREQ(event.getName(), "");
    EXPECT_EQ(event.getEventType(), 0);
    EXPECT_TRUE(event.getVehicleId() == AbstractDatabaseRecord::nullId());
    ASSERT_EQ(DBManager::getInstance().loadGPSData(nullptr), 1);
    EXPECT_STREQ(GPSDataContainer::getInstance().getList().front().getGpsData(), "");
}

TEST_F(RecordsTest, InsertOfAKnownIdKeepsTheContainersRecord)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    EXPECT_EQ(container.find(UniqueID()), nullptr);
    const UniqueID id;
    VehicleInfo* first = container.create(id, "first", "2026-01-31 17:05:09");
    ASSERT_TRUE(first->insert(container));
    EXPECT_EQ(container.find(id), first);

    VehicleInfo second(id);
    second.setName("second");
    EXPECT_TRUE(second.insert(container)); // queued; the file refuses the duplicate
    EXPECT_EQ(container.find(id), first);
    EXPECT_EQ(container.find(id)->getName(), "first");
    EXPECT_EQ(container.getCount(), 1);
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT name FROM vehicle_info;"), (Rows{{"first"}}));
}

TEST_F(RecordsTest, UpdateCopiesIntoTheContainersRecordOnlyWhenItIsAnother)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const UniqueID id;
    VehicleInfo* held = container.create(id, "bus", "2026-01-31 17:05:09");
    ASSERT_TRUE(held->insert(container));

    held->setInfo1("own change");
    ASSERT_TRUE(held->update(container));
    EXPECT_EQ(container.find(id), held);
    EXPECT_EQ(held->getInfo1(), "own change");

    VehicleInfo other(id);
    other.setName("bus");
    other.setInfo2("from elsewhere");
    ASSERT_TRUE(other.update(container));
    EXPECT_EQ(held->getInfo2(), "from elsewhere");
    EXPECT_EQ(held->getInfo1(), "");
    EXPECT_EQ(held->getOperation(), AbstractDatabaseRecord::OPERATION_UPDATE);

    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT info1, info2 FROM vehicle_info;"),
              (Rows{{"", "from elsewhere"}}));
}

// The queued copy is taken at the call: later changes to the caller's record
// do not reach the file unless stored again.
TEST_F(RecordsTest, QueuedCopyIsIndependentOfTheCallersRecord)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    const UniqueID id;
    {
        ScopedLock lock(DBManager::getLock());
        VehicleInfo* vehicle = container.create(id, "as queued", "2026-01-31 17:05:09");
        ASSERT_TRUE(vehicle->insert(container));
        vehicle->setName("changed later");
    }
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryRows(m_path, "SELECT name FROM vehicle_info;"), (Rows{{"as queued"}}));
}

TEST_F(RecordsTest, RefusedStoresReturnFalseAndChangeNothingElse)
{
    DBManager& manager = DBManager::getInstance();
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    ASSERT_EQ(manager.loadEvents(nullptr), 0);
    {
        ScopedLock lock(DBManager::getLock());
        while (EventLogger::getInstance().log(eventMessage("filler"))) {
        }
        EXPECT_FALSE(EventLogger::getInstance().log(eventMessage("refused")));
        EXPECT_FALSE(GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", UniqueID(), "$"));
        // A refused vehicle still enters the container, so the console keeps
        // showing it; it reaches the file with its next stored update.
        const UniqueID id;
        VehicleInfo* vehicle = container.create(id, "refused bus", "2026-01-31 17:05:09");
        EXPECT_FALSE(vehicle->insert(container));
        EXPECT_EQ(container.find(id), vehicle);
    }
    EXPECT_EQ(EventLogger::getInstance().getCount(), 0);
    manager.shutdown();
    EXPECT_EQ(count("event_info"), std::to_string(DBManager::QUEUE_MAX_COUNT));
    EXPECT_EQ(queryRows(m_path, "SELECT COUNT(*) FROM event_info WHERE name='refused';"),
              (Rows{{"0"}}));
    EXPECT_EQ(count("vehicle_info"), "0");
}

// Zones go through the writer like every record and come back the same,
// whatever the locale; their outlines are stored with decimal points.
TEST_F(RecordsTest, ZonesStoredAndReadBack)
{
    velmora::test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    DBManager& manager = DBManager::getInstance();
    EXPECT_EQ(manager.lastZoneId(), 0);

    Zone depot = Zone::circle(3, "Depot", {47.376887, 8.541694}, 250.5);
    depot.setAlarmOnExit(true);
    depot.setDwellSeconds(45);
    Zone strip = Zone::polygon(7, "O'Hare ‘Süd’",
                               {{10.25, 179.5}, {10.25, -179.5}, {-11.125, -179.5}, {-11.125, 179.5}});
    strip.setAlarmOnEntry(false);
    strip.setAlarmOnExit(true);
    strip.setSpeedLimitKmh(30);
    Zone school = Zone::circle(9, "School", {-33.8688, 151.2093}, 120.0);
    for (const Zone* zone : {&depot, &strip, &school}) {
        ZoneRecord record = ZoneRecord::of(*zone);
        record.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
        ASSERT_TRUE(manager.enqueue(record));
    }
    reopen();
    EXPECT_EQ(queryRows(m_path, "SELECT id, shape, geometry FROM zone_info ORDER BY id;"),
              (Rows{{"3", "circle", "47.376887 8.541694 250.5"},
                    {"7", "polygon", "10.25 179.5,10.25 -179.5,-11.125 -179.5,-11.125 179.5"},
                    {"9", "circle", "-33.8688 151.2093 120"}}));
    std::vector<ZoneRecord> rows;
    ASSERT_EQ(manager.loadZones(rows), 3);
    EXPECT_EQ(manager.lastZoneId(), 9);
    const Zone* expected[] = {&depot, &strip, &school};
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        Zone back;
        ASSERT_TRUE(rows[i].toZone(back));
        EXPECT_EQ(back.getId(), expected[i]->getId());
        EXPECT_EQ(back.getName(), expected[i]->getName());
        EXPECT_TRUE(back.sameGeometry(*expected[i]));
        EXPECT_EQ(back.getAlarmOnEntry(), expected[i]->getAlarmOnEntry());
        EXPECT_EQ(back.getAlarmOnExit(), expected[i]->getAlarmOnExit());
        EXPECT_EQ(back.getDwellSeconds(), expected[i]->getDwellSeconds());
        EXPECT_EQ(back.getSpeedLimitKmh(), expected[i]->getSpeedLimitKmh());
    }

    // An edit (new name and outline) replaces the row; a delete removes it;
    // an UPDATE of a zone whose INSERT never arrived stores it whole.
    Zone moved = Zone::polygon(3, "Depot West", {{47.0, 8.0}, {47.0, 8.01}, {47.01, 8.005}});
    ZoneRecord update = ZoneRecord::of(moved);
    update.setOperation(AbstractDatabaseRecord::OPERATION_UPDATE);
    ASSERT_TRUE(manager.enqueue(update));
    ZoneRecord gone = ZoneRecord::of(strip);
    gone.setOperation(AbstractDatabaseRecord::OPERATION_DELETE);
    ASSERT_TRUE(manager.enqueue(gone));
    ZoneRecord late = ZoneRecord::of(Zone::circle(12, "Late", {1.5, 2.5}, 10.0));
    late.setOperation(AbstractDatabaseRecord::OPERATION_UPDATE);
    ASSERT_TRUE(manager.enqueue(late));
    reopen();
    EXPECT_EQ(queryRows(m_path, "SELECT id, name, shape, geometry FROM zone_info ORDER BY id;"),
              (Rows{{"3", "Depot West", "polygon", "47 8,47 8.01,47.01 8.005"},
                    {"9", "School", "circle", "-33.8688 151.2093 120"},
                    {"12", "Late", "circle", "1.5 2.5 10"}}));

    // A row edited by hand into something that is no zone is read, and
    // refused as a zone.
    manager.shutdown();
    test::executeSql(m_path, "INSERT INTO zone_info (id, shape, geometry) VALUES (20, 'circle', '47,5 8 100');");
    openManager();
    ASSERT_EQ(manager.loadZones(rows), 4);
    Zone untouched = Zone::circle(1, "keep", {1, 1}, 5.0);
    EXPECT_FALSE(rows.back().toZone(untouched));
    EXPECT_EQ(untouched.getName(), "keep");
}

// Window thread and script thread store records while the writer runs and
// the containers are loaded: run under TSan to check the locking.
TEST_F(RecordsTest, StoresFromSeveralThreadsWhileReading)
{
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    std::vector<UniqueID> ids(4);
    for (const UniqueID& id : ids)
        ASSERT_TRUE(container.create(id, "v", "2026-01-31 17:05:09")->insert(container));
    // Each store either reaches the file or says it did not.
    std::atomic<int> refusedFixes{0};
    std::atomic<int> refusedEvents{0};
    auto producer = [&](int seed) {
        for (int i = 0; i < 400; ++i) {
            const UniqueID& id = ids[static_cast<size_t>((seed + i) % 4)];
            if (!GPSDataContainer::getInstance().insert("2026-01-31 17:05:09", id, "$GPRMC"))
                ++refusedFixes;
            // Events come from the window thread alone (formatting their time
            // goes through the C library's time zone state).
            if (seed == 0 && !EventLogger::getInstance().log(eventMessage("e")))
                ++refusedEvents;
            VehicleInfo update(id);
            update.setName("v" + std::to_string(seed));
            update.update(container);
        }
    };
    std::thread a(producer, 0);
    std::thread b(producer, 1);
    for (int i = 0; i < 5; ++i) {
        DBManager::getInstance().loadEvents(nullptr);
        ScopedLock lock(GPSDataContainer::getInstance().getLock());
        DBManager::getInstance().loadGPSData(ids[0].toText().c_str());
    }
    a.join();
    b.join();
    DBManager::getInstance().shutdown();
    EXPECT_EQ(count("gps_data"), std::to_string(800 - refusedFixes.load()));
    EXPECT_EQ(count("event_info"), std::to_string(400 - refusedEvents.load()));
    EXPECT_EQ(count("vehicle_info"), "4");
}
