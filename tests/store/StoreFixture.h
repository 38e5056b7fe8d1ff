#pragma once

// A fresh store for each test: a throw-away cluster, a database of the
// test's own with the schema made, and a connection to it.

#include "store/PgConnection.h"
#include "store/StoreSchema.h"
#include "tests/support/PgCluster.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace velmora::test {

class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_cluster = std::make_unique<PgCluster>();
        ASSERT_TRUE(m_cluster->isUp()) << m_cluster->why();
        m_database = m_cluster->createDatabase();
        ASSERT_FALSE(m_database.empty()) << m_cluster->why();
        m_store.open(conninfo(), "store_tests");
        StoreSchema::migrate(m_store, "store_tests");
    }

    std::string conninfo() const { return m_cluster->conninfo(m_database); }

    /// The single value of a query, as text ("" for NULL).
    std::string value(const std::string& sql) { return m_store.execute(sql).getString(0, 0); }
    int64_t number(const std::string& sql) { return m_store.execute(sql).getInt64(0, 0); }

    std::unique_ptr<PgCluster> m_cluster;
    std::string m_database;
    PgConnection m_store;
};

} // namespace velmora::test
