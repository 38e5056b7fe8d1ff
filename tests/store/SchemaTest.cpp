#include "store/PgConnection.h"
#include "store/PgTransaction.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"
#include "store/StoreText.h"
#include "tests/support/PgCluster.h"

#include <gtest/gtest.h>

#include <thread>

using namespace velmora;

namespace {

std::string columnType(PgConnection& connection, const std::string& table, const std::string& column)
{
    return connection
        .query("SELECT data_type FROM information_schema.columns WHERE table_name = $1 AND column_name = $2",
               {table, column})
        .getString(0, 0);
}

} // namespace

TEST(StoreSchema, AnEmptyDatabaseIsMigratedOnceWithTheServersTypesEvenWhenTwoProgramsStartTogether)
{
    test::PgCluster cluster;
    ASSERT_TRUE(cluster.isUp()) << cluster.why();
    const std::string database = cluster.createDatabase();
    ASSERT_FALSE(database.empty()) << cluster.why();
    PgConnection first;
    PgConnection second;
    first.open(cluster.conninfo(database), "store_tests");
    second.open(cluster.conninfo(database), "store_tests");
    EXPECT_EQ(StoreSchema::readVersion(first), 0);
    int foundByFirst = -1;
    int foundBySecond = -1;
    std::string failure;
    std::thread other([&] {
        try {
            foundBySecond = StoreSchema::migrate(second, "second");
        } catch (const StoreException& e) {
            failure = e.getMessage();
        }
    });
    try {
        foundByFirst = StoreSchema::migrate(first, "first");
    } catch (const StoreException& e) {
        ADD_FAILURE() << e.getMessage();
    }
    other.join();
    EXPECT_EQ(failure, "");
    // One of them made it, the other found it made.
    EXPECT_EQ(std::min(foundByFirst, foundBySecond), 0);
    EXPECT_EQ(std::max(foundByFirst, foundBySecond), StoreSchema::VERSION);
    EXPECT_EQ(first.execute("SELECT COUNT(*) FROM schema_version").getInt64(0, 0), StoreSchema::VERSION);

    EXPECT_EQ(columnType(first, "vehicle_info", "id"), "uuid");
    EXPECT_EQ(columnType(first, "vehicle_info", "last_updated_time"), "timestamp with time zone");
    EXPECT_EQ(columnType(first, "vehicle_info", "last_updated_latitude"), "double precision");
    EXPECT_EQ(columnType(first, "event_info", "id"), "bigint");
    EXPECT_EQ(columnType(first, "gps_data", "vehicle_id"), "uuid");
    EXPECT_EQ(columnType(first, "alarm_info", "acknowledged"), "timestamp with time zone");
    EXPECT_EQ(first.execute("SELECT value FROM shared_setting WHERE key = 'setup/AlarmPriority/13'").getString(0, 0),
              "1");
}

TEST(StoreSchema, ANewerSchemaIsRefusedWithItsVersionAndLeftAsItIs)
{
    test::PgCluster cluster;
    ASSERT_TRUE(cluster.isUp()) << cluster.why();
    PgConnection connection;
    connection.open(cluster.conninfo(cluster.createDatabase()), "store_tests");
    StoreSchema::migrate(connection, "store_tests");
    const int newer = StoreSchema::VERSION + 1;
    connection.query("INSERT INTO schema_version (version, program) VALUES ($1, 'a later program')", {newer});
    connection.execute("CREATE TABLE made_by_later (a int)");
    try {
        StoreSchema::migrate(connection, "velmora-receiver");
        FAIL() << "a newer schema was taken";
    } catch (const StoreException& e) {
        EXPECT_EQ(e.getKind(), StoreException::SCHEMA);
        const std::string text = e.getMessage();
        EXPECT_NE(text.find("version " + std::to_string(newer)), std::string::npos) << text;
        EXPECT_NE(text.find("newer than this program"), std::string::npos) << text;
        EXPECT_NE(text.find("update velmora-receiver"), std::string::npos) << text;
    }
    EXPECT_EQ(StoreSchema::readVersion(connection), newer);
    EXPECT_EQ(connection.execute("SELECT to_regclass('made_by_later') IS NOT NULL").getBool(0, 0), true);
}

TEST(StoreSchema, FixDaysAreMadeOnDemandAndRetentionDropsOnlyWholeOlderDays)
{
    test::PgCluster cluster;
    ASSERT_TRUE(cluster.isUp()) << cluster.why();
    PgConnection connection;
    connection.open(cluster.conninfo(cluster.createDatabase()), "store_tests");
    StoreSchema::migrate(connection, "store_tests");
    const int64_t day = StoreText::daysFromCivil(2026, 3, 30);
    // A row for a day without its partition is refused.
    EXPECT_THROW(connection.execute("INSERT INTO gps_data (vehicle_id, received) "
                                    "VALUES (gen_random_uuid(), '2026-03-30 12:00+00')"),
                 StoreException);
    StoreSchema::ensureFixDays(connection, {day - 2, day - 1, day, day});
    StoreSchema::ensureFixDays(connection, {day});
    EXPECT_EQ(StoreSchema::listFixDays(connection), (std::vector<int64_t>{day - 2, day - 1, day}));
    EXPECT_EQ(StoreSchema::fixPartitionName(day), "gps_data_20260330");
    connection.execute("INSERT INTO gps_data (vehicle_id, received) SELECT gen_random_uuid(), d FROM "
                       "(VALUES ('2026-03-28 00:00+00'::timestamptz), ('2026-03-29 23:59:59.999+00'), "
                       "('2026-03-30 00:00+00'), ('2026-03-30 23:00+00')) AS v(d)");
    EXPECT_EQ(connection.execute("SELECT COUNT(*) FROM gps_data_20260330").getInt64(0, 0), 2);

    EXPECT_EQ(StoreSchema::dropFixDaysBefore(connection, day - 1), 1);
    EXPECT_EQ(StoreSchema::listFixDays(connection), (std::vector<int64_t>{day - 1, day}));
    EXPECT_EQ(connection.execute("SELECT COUNT(*) FROM gps_data").getInt64(0, 0), 3);
    EXPECT_EQ(connection.execute("SELECT MIN(received) FROM gps_data").getString(0, 0), "2026-03-29 23:59:59.999+00");
}
