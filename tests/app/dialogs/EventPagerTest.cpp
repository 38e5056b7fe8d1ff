#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/EventLogger.h"
#include "db/EventPager.h"
#include "foundation/thread/ScopedLock.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

using Key = std::tuple<int32_t, std::string, std::string, int32_t, std::string, std::string>;

Key keyOf(const EventLog& event)
{
    return {event.getId(), event.getName(), event.getTime(), event.getEventType(), event.getDeviceTitle(),
            event.getVehicleId().toText()};
}

/// Every event matching condition, read whole by the manager.
std::vector<Key> wholeList(const char* condition)
{
    DBManager::getInstance().loadEvents(condition);
    EventLogger& logger = EventLogger::getInstance();
    ScopedLock lock(logger.getLock());
    std::vector<Key> keys;
    for (const EventLog& event : logger.getList())
        keys.push_back(keyOf(event));
    return keys;
}

class EventPagerTest : public DatabaseFixture {};

// Any page in any order, the neighbours by keyset and the far pages counted
// from either end, must be the slices of the list read whole; so must the
// walk over the whole search in runs of any size.
TEST_F(EventPagerTest, PagesInAnyOrderAreSlicesOfTheWholeList)
{
    const std::string ids[] = {"0b6d7a8e-1c2d-4e5f-8a9b-0c1d2e3f4a5b", "1f2e3d4c-5b6a-4978-8695-a4b3c2d1e0f9",
                               "2a3b4c5d-6e7f-4081-9293-a4b5c6d7e8f9"};
    for (int size : {0, 1, 99, 100, 101, 250, 10000}) {
        SCOPED_TRACE(size);
        fresh();
        std::mt19937 random(static_cast<unsigned>(size) + 17u);
        std::vector<EventRow> rows;
        for (int i = 0; i < size; ++i) {
            char time[32];
            std::snprintf(time, sizeof time, "2011-07-%02d %02d:00:00", 20 + static_cast<int>(random() % 6),
                          static_cast<int>(random() % 24));
            rows.push_back({"n" + std::to_string(i), std::string(time), static_cast<int>(random() % 14),
                            "t" + std::to_string(i % 7), ids[random() % 3]});
        }
        insertEvents(m_path, rows);
        openManager();
        EventPager::ensureIndex();

        const std::string conditions[] = {
            "",
            "vehicle_id = '" + ids[1] + "' AND time between '1970-01-01 00:00:00' AND '2100-12-31 24:59:59' ",
            "time between '2011-07-22 00:00:00' AND '2011-07-24 23:59:59' ",
            "vehicle_id = '" + ids[2] + "' AND time between '2011-07-21 00:00:00' AND '2011-07-23 23:59:59' ",
            // Conditions of any shape keep their meaning inside the pager's own.
            "event_type = 3 OR event_type = 5",
        };
        for (const std::string& condition : conditions) {
            SCOPED_TRACE(condition);
            const std::vector<Key> all = wholeList(condition.empty() ? nullptr : condition.c_str());
            EventPager pager;
            ASSERT_EQ(pager.search(condition.empty() ? nullptr : condition.c_str()), static_cast<int>(all.size()));
            const int pageCount = static_cast<int>((all.size() + 99) / 100);
            ASSERT_EQ(pager.getPageCount(), pageCount);

            std::vector<int> order;
            for (int p = 1; p <= pageCount; ++p)
                order.push_back(p);
            for (int p = pageCount; p >= 1; --p)
                order.push_back(p);
            for (int i = 0; i < 30 && pageCount > 0; ++i)
                order.push_back(1 + static_cast<int>(random() % static_cast<unsigned>(pageCount)));
            order.insert(order.end(), {0, -1, pageCount + 1, 1, pageCount + 1, pageCount, pageCount});
            std::vector<EventLog> page;
            for (int p : order) {
                pager.loadPage(p, page);
                std::vector<Key> shown;
                for (const EventLog& event : page)
                    shown.push_back(keyOf(event));
                std::vector<Key> expected;
                if (p >= 1 && p <= pageCount) {
                    const size_t start = static_cast<size_t>(p - 1) * 100;
                    expected.assign(all.begin() + static_cast<long>(start),
                                    all.begin() + static_cast<long>(std::min(all.size(), start + 100)));
                }
                ASSERT_EQ(shown, expected) << "page " << p;
            }

            for (int chunk : {1, 7, 100, 1000, 100000}) {
                if (chunk == 1 && all.size() > 300)
                    continue;
                std::vector<Key> walked;
                size_t largest = 0;
                EXPECT_TRUE(pager.forEach(chunk, [&](const std::vector<EventLog>& run) {
                    largest = std::max(largest, run.size());
                    for (const EventLog& event : run)
                        walked.push_back(keyOf(event));
                    return true;
                }));
                EXPECT_EQ(walked, all) << "chunk " << chunk;
                EXPECT_LE(largest, static_cast<size_t>(chunk));
            }
        }
    }
}

TEST_F(EventPagerTest, AWalkStopsWhenTheVisitorSaysSoAndAClosedDatabaseThrows)
{
    insertEvents(m_path, std::vector<EventRow>(2500, EventRow{"n", "2011-07-25 10:00:00", 1, "t", "x"}));
    openManager();
    EventPager pager;
    ASSERT_EQ(pager.search(nullptr), 2500);
    int runs = 0;
    EXPECT_FALSE(pager.forEach(1000, [&](const std::vector<EventLog>&) { return ++runs < 2; }));
    EXPECT_EQ(runs, 2);

    DBManager::getInstance().shutdown();
    std::vector<EventLog> page;
    EXPECT_THROW(pager.loadPage(1, page), DatabaseException);
    EXPECT_THROW(pager.search(nullptr), DatabaseException);
    // A failed search leaves an empty one behind, never the old pages.
    EXPECT_EQ(pager.getCount(), 0);
    EXPECT_EQ(pager.getPageCount(), 0);
    pager.loadPage(1, page);
    EXPECT_TRUE(page.empty());
}

// Another process may store events at any moment, also between the
// search's own reads: the count still tells exactly the rows the pages and
// the walk show.
TEST_F(EventPagerTest, TheCountMatchesThePagesWhileAnotherProcessWrites)
{
    insertEvents(m_path, std::vector<EventRow>(150, EventRow{"n", "2011-07-25 10:00:00", 1, "t", "x"}));
    openManager();
    struct Writer {
        std::string path;
        int writes = 0;
    } writer{m_path};
    sqlite3* handle = nullptr;
    {
        ScopedLock lock(DBManager::getLock());
        handle = DBManager::getInstance().getDatabase().getHandle();
    }
    for (const char* condition : {"", "event_type = 1"}) {
        SCOPED_TRACE(condition);
        // As the statement that counts starts, before it reads anything, a
        // second connection stores 30 events more.
        writer.writes = 0;
        sqlite3_trace_v2(
            handle, SQLITE_TRACE_STMT,
            [](unsigned, void* context, void* statement, void*) {
                auto* w = static_cast<Writer*>(context);
                const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
                if (w->writes == 0 && sql != nullptr && std::strstr(sql, "COUNT(") != nullptr) {
                    ++w->writes;
                    insertEvents(w->path, std::vector<EventRow>(30, EventRow{"m", "2011-07-25 11:00:00", 1, "t", "x"}));
                }
                return 0;
            },
            &writer);
        EventPager pager;
        const int count = pager.search(condition);
        sqlite3_trace_v2(handle, 0, nullptr, nullptr);
        ASSERT_EQ(writer.writes, 1);
        int shown = 0;
        std::vector<EventLog> page;
        for (int p = 1; p <= pager.getPageCount(); ++p) {
            pager.loadPage(p, page);
            shown += static_cast<int>(page.size());
        }
        EXPECT_EQ(shown, count);
        int walked = 0;
        EXPECT_TRUE(pager.forEach(70, [&](const std::vector<EventLog>& run) {
            walked += static_cast<int>(run.size());
            return true;
        }));
        EXPECT_EQ(walked, count);
    }
}

// Row ids past 32 bits (a long-lived, busy file) still page and walk right.
TEST_F(EventPagerTest, IdsBeyondThirtyTwoBitsPageAsWell)
{
    std::string sql = "BEGIN;";
    for (int i = 0; i < 250; ++i) {
        sql += "INSERT INTO event_info (id, name, time, event_type, device_title, vehicle_id) VALUES (" +
               std::to_string(2147483600LL + i * 1000LL) + ", 'n" + std::to_string(i) +
               "', '2011-07-25 10:00:00', 1, 't', 'x');";
    }
    executeSql(m_path, sql + "COMMIT;");
    openManager();
    EventPager pager;
    ASSERT_EQ(pager.search(nullptr), 250);
    std::vector<EventLog> page;
    for (int p : {1, 2, 3, 2, 1, 2}) {
        pager.loadPage(p, page);
        ASSERT_FALSE(page.empty());
        EXPECT_EQ(std::string(page.front().getName()), "n" + std::to_string((p - 1) * 100)) << "page " << p;
        EXPECT_EQ(std::string(page.back().getName()), "n" + std::to_string(std::min(250, p * 100) - 1));
    }
    int walked = 0;
    EXPECT_TRUE(pager.forEach(30, [&](const std::vector<EventLog>& run) {
        for (const EventLog& event : run)
            EXPECT_EQ(std::string(event.getName()), "n" + std::to_string(walked++));
        return true;
    }));
    EXPECT_EQ(walked, 250);
}

// The index lets a one-vehicle search read that vehicle's rows only, and
// still in id order; the tables themselves keep their exact texts.
TEST_F(EventPagerTest, TheVehicleIndexIsUsedAndLeavesTheTablesAlone)
{
    openManager();
    EventPager::ensureIndex();
    EventPager::ensureIndex();
    DBManager::getInstance().shutdown();
    EXPECT_EQ(queryValue(m_path, "SELECT sql FROM sqlite_master WHERE name = 'event_info_vehicle_idx';"),
              "CREATE INDEX event_info_vehicle_idx ON event_info(vehicle_id)");
    EXPECT_EQ(queryValue(m_path, "SELECT sql FROM sqlite_master WHERE name = 'event_info';"),
              "CREATE TABLE event_info (id INTEGER PRIMARY KEY AUTOINCREMENT,address TEXT,name TEXT,time "
              "DATETIME,event_type INTEGER,device_title TEXT, vehicle_id TEXT,foreign key(vehicle_id) "
              "references vehicle_info(id))");
    const Rows plan = queryRows(m_path, "EXPLAIN QUERY PLAN SELECT * FROM event_info WHERE (vehicle_id = 'v' AND "
                                        "time between 'a' AND 'b' ) AND id <= 9 AND id > 3 ORDER BY id LIMIT 100;");
    std::string details;
    for (const auto& row : plan)
        details += row.back() + "\n";
    EXPECT_NE(details.find("event_info_vehicle_idx"), std::string::npos) << details;
    EXPECT_EQ(details.find("TEMP B-TREE"), std::string::npos) << details;
}

} // namespace
