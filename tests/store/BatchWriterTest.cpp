#include "tests/store/StoreFixture.h"

#include "store/BatchWriter.h"
#include "store/FleetReader.h"
#include "store/StoreBatch.h"
#include "store/StoreText.h"

using namespace velmora;

namespace {

class BatchWriterTest : public test::StoreFixture {
protected:
    StoreBatch fixes(uint64_t number, const UniqueID& vehicle, int count)
    {
        StoreBatch batch;
        batch.number = number;
        for (int i = 0; i < count; ++i) {
            batch.fixes.push_back({StoreText::nowMicros(), vehicle, StoreText::NO_TIME,
                                   "$GPRMC," + std::to_string(number) + "," + std::to_string(i)});
        }
        return batch;
    }

    StoreBatch panic(uint64_t number, const UniqueID& vehicle, int count)
    {
        StoreBatch batch;
        batch.number = number;
        for (int i = 0; i < count; ++i) {
            batch.events.push_back({StoreText::nowMicros(), vehicle, "10.0.0.1", "Bus", 0, 13, "Panic"});
        }
        StoreBatch::AlarmRaise raise;
        raise.vehicle = vehicle;
        raise.vehicleName = "Bus";
        raise.kind = 13;
        raise.priority = 1;
        raise.first = 1700000000;
        raise.last = 1700000000 + count;
        raise.count = count;
        raise.event = 0;
        batch.raise(raise);
        return batch;
    }
};

} // namespace

TEST_F(BatchWriterTest, ABatchWrittenAgainIsRecognisedAndNeverStoredTwice)
{
    const UniqueID receiver;
    const UniqueID vehicle;
    BatchWriter writer(receiver, "receiver-1");
    writer.prepare(m_store);
    EXPECT_FALSE(writer.write(m_store, fixes(5, vehicle, 3)).duplicate);
    // The same batch again (its commit's answer was lost), from the same
    // writer or from a new one after a restart, and an older number.
    EXPECT_TRUE(writer.write(m_store, fixes(5, vehicle, 3)).duplicate);
    BatchWriter restarted(receiver, "receiver-1");
    restarted.prepare(m_store);
    EXPECT_TRUE(restarted.write(m_store, fixes(5, vehicle, 3)).duplicate);
    EXPECT_TRUE(restarted.write(m_store, fixes(4, vehicle, 3)).duplicate);
    EXPECT_EQ(number("SELECT COUNT(*) FROM gps_data"), 3);
    EXPECT_FALSE(restarted.write(m_store, fixes(6, vehicle, 2)).duplicate);
    // Another receiver's numbers are its own.
    BatchWriter other(UniqueID(), "receiver-2");
    other.prepare(m_store);
    EXPECT_FALSE(other.write(m_store, fixes(5, vehicle, 1)).duplicate);
    EXPECT_EQ(number("SELECT COUNT(*) FROM gps_data"), 6);
    EXPECT_EQ(number("SELECT COUNT(DISTINCT gps_data) FROM gps_data"), 5);
}

TEST_F(BatchWriterTest, AnAlarmRepeatsWhileOpenAndOpensAgainOnceClosed)
{
    const UniqueID vehicle;
    BatchWriter writer(UniqueID(), "receiver-1");
    writer.prepare(m_store);
    writer.write(m_store, panic(1, vehicle, 3));
    EXPECT_EQ(value("SELECT id || ':' || repeat_count FROM alarm_info"), "1:2");
    // The alarm names the first event of the three.
    EXPECT_EQ(value("SELECT event_id = (SELECT MIN(id) FROM event_info) FROM alarm_info"), "t");
    writer.write(m_store, panic(2, vehicle, 1));
    EXPECT_EQ(value("SELECT id || ':' || repeat_count FROM alarm_info"), "1:3");
    EXPECT_EQ(value("SELECT to_char(last_received, 'YYYY-MM-DD HH24:MI:SS') FROM alarm_info"),
              StoreText::formatTime(1700000003));

    // A desk closes it: the next panic is a new alarm.
    m_store.execute("UPDATE alarm_info SET closed = now(), closed_by = 'op'");
    writer.write(m_store, panic(3, vehicle, 1));
    EXPECT_EQ(number("SELECT COUNT(*) FROM alarm_info"), 2);
    EXPECT_EQ(number("SELECT repeat_count FROM alarm_info WHERE closed IS NULL"), 0);
    EXPECT_EQ(number("SELECT COUNT(*) FROM change_feed WHERE kind = 'alarm'"), 3);
}

TEST_F(BatchWriterTest, VehicleStatesWriteOnlyTheirFieldsAndALoadTakesTheFixesNewerThanTheRows)
{
    const UniqueID kept;
    const UniqueID removed;
    StoreBatch made;
    made.number = 1;
    made.newVehicles.push_back({kept, "Truck 7", 1700000000});
    made.newVehicles.push_back({removed, "Van 2", 1700000000});
    BatchWriter writer(UniqueID(), "receiver-1");
    writer.prepare(m_store);
    writer.write(m_store, made);
    m_store.query("UPDATE vehicle_info SET deleted = true, company = 'Old' WHERE id = $1", {removed.toText()});
    m_store.query("UPDATE vehicle_info SET edited_name = 'Seven', company = 'Acme' WHERE id = $1", {kept.toText()});

    StoreBatch moved;
    moved.number = 2;
    for (const UniqueID& id : {kept, removed}) {
        StoreBatch::VehicleState& state = moved.vehicle(id);
        state.fields = StoreBatch::POSITION | StoreBatch::TIME | StoreBatch::DRIVER;
        state.latitude = 47.3769004;
        state.longitude = -8.5417;
        state.time = 1700000100;
        state.info[4] = "Ann";
    }
    writer.write(m_store, moved);
    const std::vector<StoredVehicle> vehicles = FleetReader::loadVehicles(m_store, {kept, removed});
    ASSERT_EQ(vehicles.size(), 2u);
    const StoredVehicle& a = vehicles[0].id == kept ? vehicles[0] : vehicles[1];
    const StoredVehicle& b = vehicles[0].id == kept ? vehicles[1] : vehicles[0];
    EXPECT_EQ(a.name, "Truck 7");
    EXPECT_EQ(a.editedName, "Seven");
    EXPECT_EQ(a.company, "Acme");
    EXPECT_EQ(a.driver, "Ann");
    ASSERT_TRUE(a.hasPosition);
    // Six decimals, as app.db's text holds it.
    EXPECT_EQ(a.latitude, 47.3769);
    EXPECT_EQ(a.longitude, -8.5417);
    EXPECT_EQ(a.lastUpdatedTime, 1700000100);
    EXPECT_FALSE(b.hasPosition);
    EXPECT_EQ(b.driver, "");
    EXPECT_EQ(b.company, "Old");
    EXPECT_EQ(b.lastUpdatedTime, 1700000000);
    // The rows' positions lag the fixes: a load takes each vehicle's newest
    // fix of the last minute besides (by the time received, not the order
    // written), none of a removed vehicle, none older.
    const int64_t now = StoreText::nowMicros();
    StoreBatch heard;
    heard.number = 3;
    heard.fixes.push_back({now - 120000000, kept, StoreText::NO_TIME, "$GPRMC,old"});
    heard.fixes.push_back({now - 2000000, kept, StoreText::NO_TIME, "$GPRMC,newest"});
    heard.fixes.push_back({now - 5000000, kept, StoreText::NO_TIME, "$GPRMC,newer"});
    heard.fixes.push_back({now - 1000000, removed, StoreText::NO_TIME, "$GPRMC,removed"});
    writer.write(m_store, heard);
    const std::vector<StoredFix> recent = FleetReader::loadRecentFixes(m_store, 60);
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].vehicle, kept);
    EXPECT_EQ(recent[0].sentence, "$GPRMC,newest");
}
