#include "store/PgConnection.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"
#include "support/PgCluster.h"

#include <gtest/gtest.h>

using namespace velmora;

TEST(StoreSchema, MigratesAnEmptyDatabase)
{
    test::PgCluster cluster;
    ASSERT_TRUE(cluster.isUp()) << cluster.why();
    const std::string database = cluster.createDatabase();
    ASSERT_FALSE(database.empty()) << cluster.why();
    PgConnection connection;
    connection.open(cluster.conninfo(database), "store_tests");
    EXPECT_EQ(StoreSchema::migrate(connection, "store_tests"), 0);
    EXPECT_EQ(StoreSchema::readVersion(connection), StoreSchema::VERSION);
    EXPECT_EQ(StoreSchema::migrate(connection, "store_tests"), StoreSchema::VERSION);
}
