#include "db/AlarmRecord.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/thread/ScopedLock.h"
#include "tests/db/ManagerFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using velmora::test::queryRows;
using velmora::test::Rows;

namespace {

class HeldChangesTest : public test::ManagerFixture {};

AlarmRecord alarmChange(int32_t id, AbstractDatabaseRecord::Operation operation, int32_t repeats,
                        const std::string& closed) {
    AlarmRecord record;
    record.id = id;
    record.vehicleName = "Truck " + std::to_string(id);
    record.eventType = 13;
    record.priority = 1;
    record.received = "2026-01-31 17:05:09";
    record.lastReceived = "2026-01-31 17:05:09";
    record.repeatCount = repeats;
    record.closed = closed;
    record.setOperation(operation);
    return record;
}

} // namespace

// Alarm changes made while the writer's queue is full are held, never
// dropped: an INSERT followed by its UPDATEs becomes the row with the
// newest values, changes of alarms stored before go in order, and the
// stop writes all of them after what was queued.
TEST_F(HeldChangesTest, AlarmChangesOnAFullQueueAreHeldAndWrittenAtTheStop) {
    using Op = AbstractDatabaseRecord::Operation;
    DBManager& manager = DBManager::getInstance();
    // Alarm 1 is stored before the queue fills.
    ASSERT_TRUE(manager.keep(alarmChange(1, AbstractDatabaseRecord::OPERATION_INSERT, 0, "")));
    reopen();
    struct Row {
        int32_t id;
        Op operation;
        int32_t repeats;
        const char* closed;
    };
    const Row changes[] = {
        {2, AbstractDatabaseRecord::OPERATION_INSERT, 0, ""},
        {1, AbstractDatabaseRecord::OPERATION_UPDATE, 4, ""},
        {2, AbstractDatabaseRecord::OPERATION_UPDATE, 1, ""},
        {3, AbstractDatabaseRecord::OPERATION_INSERT, 0, ""},
        {2, AbstractDatabaseRecord::OPERATION_UPDATE, 2, "2026-01-31 17:10:00"},
        {1, AbstractDatabaseRecord::OPERATION_UPDATE, 5, "2026-01-31 17:11:00"},
    };
    {
        // Holding the manager lock keeps the writer out of its batch.
        ScopedLock lock(DBManager::getLock());
        for (int i = 0; i < DBManager::QUEUE_MAX_COUNT; ++i)
            ASSERT_TRUE(EventLogger::getInstance().log(eventMessage("n" + std::to_string(i)))) << i;
        ASSERT_FALSE(EventLogger::getInstance().log(eventMessage("one too many")));
        for (const Row& row : changes)
            EXPECT_TRUE(manager.keep(alarmChange(row.id, row.operation, row.repeats, row.closed))) << row.id;
        EXPECT_EQ(manager.getHeldCount(), 3u) << "one held change per alarm";
    }
    manager.shutdown();
    EXPECT_EQ(manager.getHeldCount(), 0u);
    EXPECT_EQ(count("event_info"), std::to_string(DBManager::QUEUE_MAX_COUNT));
    EXPECT_EQ(queryRows(m_path, "SELECT id, repeat_count, IFNULL(closed, '-') FROM alarm_info ORDER BY id;"),
              (Rows{{"1", "5", "2026-01-31 17:11:00"}, {"2", "2", "2026-01-31 17:10:00"}, {"3", "0", "-"}}));
    // Refused once the stop began, and said so.
    EXPECT_FALSE(manager.keep(alarmChange(4, AbstractDatabaseRecord::OPERATION_INSERT, 0, "")));
}

// A vehicle deleted for good loses its rows in steps; a vehicle of the same
// id that sends again after the delete keeps what it sends then, and other
// vehicles keep theirs.
TEST_F(HeldChangesTest, ALargeEraseGoesInStepsAndSparesWhatCameAfter) {
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    UniqueID victim;
    UniqueID other;
    ASSERT_TRUE(UniqueID::parse("11111111-2222-4333-8444-555555555555", victim));
    ASSERT_TRUE(UniqueID::parse("66666666-7777-4888-8999-aaaaaaaaaaaa", other));
    const int fixes = DBManager::ERASE_CHUNK_ROWS * 2 + 3;
    ASSERT_TRUE(container.create(victim, "victim", "2026-01-31 17:05:09")->insert(container));
    ASSERT_TRUE(container.create(other, "other", "2026-01-31 17:05:09")->insert(container));
    // A slow writer (a sanitizer build) refuses records while its queue is
    // full; these wait for room, as a device's next fix would come.
    const auto insert = [](const char* time, const UniqueID& vehicle, const char* sentence) {
        while (!GPSDataContainer::getInstance().insert(time, vehicle, sentence))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    for (int i = 0; i < fixes; ++i) {
        insert("2026-01-31 17:05:10", victim, "$GPRMC,1");
    }
    insert("2026-01-31 17:05:10", other, "$GPRMC,2");
    reopen();
    ASSERT_EQ(count("gps_data"), std::to_string(fixes + 1));

    ASSERT_TRUE(container.find(victim)->erase());
    container.remove(victim);
    // Sent again at once: a new vehicle of that id, with its new fix.
    ASSERT_TRUE(container.create(victim, "victim again", "2026-01-31 18:00:00")->insert(container));
    insert("2026-01-31 18:00:01", victim, "$GPRMC,3");
    DBManager::getInstance().shutdown();
    EXPECT_EQ(DBManager::getInstance().getErasesPending(), 0u);
    EXPECT_EQ(queryRows(m_path, "SELECT v.name, g.gps_data FROM gps_data g JOIN vehicle_info v ON v.id = g.vehicle_id "
                                "ORDER BY g.id;"),
              (Rows{{"other", "$GPRMC,2"}, {"victim again", "$GPRMC,3"}}));
}
