// The windows' history reader over both stores: the same rows written into
// a single desk's app.db and into the control room's store must give the
// same event pages, walks, tracks and alarm ranges through
// SqliteHistoryReader and PgHistoryReader, and both must be what the rows
// say (an oracle worked out here from the rows themselves).

#include "tests/store/StoreFixture.h"
#include "tests/support/TempDir.h"

#include "db/DBManager.h"
#include "foundation/Exception.h"
#include "db/SqliteHistoryReader.h"
#include "db/VehicleInfoContainer.h"
#include "store/PgHistoryReader.h"
#include "store/PgTransaction.h"
#include "store/StoreText.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <tuple>

using namespace velmora;

namespace {

const char* const VEHICLES[] = {"0a000000-0000-4000-8000-00000000000a", "0b000000-0000-4000-8000-00000000000b",
                                "0c000000-0000-4000-8000-00000000000c"};
/// The moment the tracks are asked at (UTC): 2011-07-27 12:00:00.
const std::time_t NOW = 1311768000;

struct Event {
    std::string name;
    std::string time; ///< "" for none
    int kind = 0;
    std::string title;
    int vehicle = 0;
};

struct Fix {
    int vehicle = 0;
    std::time_t utc = 0;
    /// The device clock's distance from UTC, in hours.
    int zone = 0;
};

struct StoredAlarmRow {
    int64_t id = 0;
    int vehicle = 0;
    std::time_t received = 0;
    std::time_t acknowledged = 0; ///< 0: not yet
};

using Row = std::tuple<std::string, std::string, int, std::string, std::string>;

Row rowOf(const EventLog& event)
{
    return {event.getName(), event.getTime(), event.getEventType(), event.getDeviceTitle(),
            event.getVehicleId().toText()};
}

Row rowOf(const Event& event)
{
    return {event.name, event.time, event.kind, event.title, VEHICLES[event.vehicle]};
}

std::string timeText(std::time_t utc)
{
    return StoreText::formatTime(static_cast<int64_t>(utc));
}

/// A $GPRMC sentence of a fix: the GPS receiver's UTC date and time.
std::string sentenceOf(const Fix& fix)
{
    std::tm parts{};
    gmtime_r(&fix.utc, &parts);
    char text[160];
    std::snprintf(text, sizeof text, "$GPRMC,%02d%02d%02d,A,4722.%03d,N,00832.502,E,1.5,90.0,%02d%02d%02d,,",
                  parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(fix.utc % 1000), parts.tm_mday,
                  parts.tm_mon + 1, parts.tm_year % 100);
    return text;
}

void exec(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
}

std::string quoted(const std::string& text)
{
    return text.empty() ? "NULL" : "'" + text + "'";
}

class HistoryReaderTest : public test::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        makeRows();
        writeSqlite();
        try {
            writeStore();
        } catch (const Exception& e) {
            FAIL() << e.getMessage();
        }
        m_store.close();
        m_pg = std::make_unique<PgHistoryReader>(conninfo());
    }

    void TearDown() override
    {
        DBManager::getInstance().shutdown();
        VehicleInfoContainer::getInstance().clear();
    }

    void makeRows()
    {
        std::mt19937 random(31);
        for (int i = 0; i < 537; ++i) {
            Event event;
            event.name = "n" + std::to_string(i);
            if (random() % 25 != 0) {
                char time[32];
                std::snprintf(time, sizeof time, "2011-07-%02d %02d:%02d:%02d", 20 + static_cast<int>(random() % 8),
                              static_cast<int>(random() % 24), static_cast<int>(random() % 60),
                              static_cast<int>(random() % 60));
                event.time = time;
            }
            event.kind = static_cast<int>(random() % 14);
            event.title = "title " + std::to_string(random() % 40);
            // Mostly the first vehicle, so its searches span pages too.
            event.vehicle = random() % 3 == 0 ? static_cast<int>(1 + random() % 2) : 0;
            m_events.push_back(event);
        }
        // Vehicle 0 keeps UTC+2, vehicle 1 UTC: a fix every 10 minutes of
        // the last two days, the two vehicles' fixes interleaved.
        for (int step = 0; step < 288; ++step) {
            m_fixes.push_back({0, NOW - 48 * 3600 + step * 600, 2});
            m_fixes.push_back({1, NOW - 48 * 3600 + step * 600 + 300, 0});
        }
        for (int i = 0; i < 40; ++i) {
            StoredAlarmRow alarm;
            alarm.id = i + 1;
            alarm.vehicle = i % 3;
            alarm.received = NOW - 10 * 86400 + i * 20000;
            alarm.acknowledged = i % 2 == 0 ? alarm.received + 30 + i : 0;
            m_alarms.push_back(alarm);
        }
    }

    void writeSqlite()
    {
        m_appDb = m_dir.file("app.db");
        DBManager::getInstance().open(m_appDb.c_str(), 5000);
        DBManager::getInstance().shutdown();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_appDb.c_str(), &db), SQLITE_OK);
        exec(db, "BEGIN");
        for (int v = 0; v < 3; ++v) {
            exec(db, std::string("INSERT INTO vehicle_info (id, name, edited_name, deleted) VALUES ('") + VEHICLES[v] +
                         "', 'Car " + std::to_string(v) + "', '', 0)");
        }
        for (const Event& event : m_events) {
            exec(db, "INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id) VALUES "
                     "('10.0.0.1', '" + event.name + "', " + quoted(event.time) + ", " + std::to_string(event.kind) +
                         ", '" + event.title + "', '" + VEHICLES[event.vehicle] + "')");
        }
        for (const Fix& fix : m_fixes) {
            exec(db, "INSERT INTO gps_data (gps_data, update_time, vehicle_id) VALUES ('" + sentenceOf(fix) + "', '" +
                         timeText(fix.utc + fix.zone * 3600) + "', '" + VEHICLES[fix.vehicle] + "')");
        }
        for (const StoredAlarmRow& alarm : m_alarms) {
            exec(db, "INSERT INTO alarm_info (id, vehicle_id, vehicle_name, event_type, priority, device_title, "
                     "address, received, acknowledged, acknowledged_by) VALUES (" +
                         std::to_string(alarm.id) + ", '" + VEHICLES[alarm.vehicle] + "', 'Car', " +
                         std::to_string(100 + alarm.id) + ", 1, 'PANIC', '', '" +
                         timeText(alarm.received) + "', " +
                         quoted(alarm.acknowledged != 0 ? timeText(alarm.acknowledged) : std::string()) + ", " +
                         quoted(alarm.acknowledged != 0 ? std::string("ann") : std::string()) + ")");
        }
        exec(db, "COMMIT");
        sqlite3_close(db);
        DBManager::getInstance().open(m_appDb.c_str(), 5000);
    }

    void writeStore()
    {
        const int64_t today = StoreText::dayOfMicros(StoreText::nowMicros());
        StoreSchema::ensureFixDays(m_store, {today, today + 1});
        PgTransaction transaction(m_store);
        for (int v = 0; v < 3; ++v) {
            m_store.query("INSERT INTO vehicle_info (id, name) VALUES ($1, $2)",
                          {VEHICLES[v], "Car " + std::to_string(v)});
        }
        for (const Event& event : m_events) {
            m_store.query("INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id) "
                          "VALUES ('10.0.0.1', $1, $2::timestamptz, $3, $4, $5)",
                          {event.name,
                           event.time.empty() ? PgConnection::Param::null() : PgConnection::Param(event.time),
                           event.kind, event.title, VEHICLES[event.vehicle]});
        }
        for (const Fix& fix : m_fixes) {
            m_store.query("INSERT INTO gps_data (gps_data, update_time, vehicle_id, received) "
                          "VALUES ($1, to_timestamp($2), $3, now())",
                          {sentenceOf(fix), static_cast<int64_t>(fix.utc + fix.zone * 3600), VEHICLES[fix.vehicle]});
        }
        for (const StoredAlarmRow& alarm : m_alarms) {
            m_store.query("INSERT INTO alarm_info (id, vehicle_id, vehicle_name, event_type, priority, device_title, "
                          "received, acknowledged, acknowledged_by) VALUES ($1, $2, 'Car', $6, 1, 'PANIC', "
                          "to_timestamp($3), $4::timestamptz, $5)",
                          {alarm.id, VEHICLES[alarm.vehicle], static_cast<int64_t>(alarm.received),
                           alarm.acknowledged != 0 ? PgConnection::Param(timeText(alarm.acknowledged))
                                                   : PgConnection::Param::null(),
                           alarm.acknowledged != 0 ? PgConnection::Param("ann") : PgConnection::Param::null(),
                           100 + alarm.id});
        }
        transaction.commit();
    }

    /// The events a filter takes, worked out from the rows: every one, or
    /// those with a time between the bounds (texts of one width compare as
    /// times), of the vehicle asked for.
    std::vector<Row> expected(const HistoryReader::EventFilter& filter) const
    {
        std::vector<Row> rows;
        for (const Event& event : m_events) {
            if (!filter.everything) {
                if (event.time.empty() || (!filter.from.empty() && event.time < filter.from) ||
                    (!filter.to.empty() && event.time > filter.to)) {
                    continue;
                }
                if (filter.hasVehicle && filter.vehicle.toText() != VEHICLES[event.vehicle]) {
                    continue;
                }
            }
            rows.push_back(rowOf(event));
        }
        return rows;
    }

    test::TempDir m_dir;
    std::string m_appDb;
    std::unique_ptr<PgHistoryReader> m_pg;
    std::vector<Event> m_events;
    std::vector<Fix> m_fixes;
    std::vector<StoredAlarmRow> m_alarms;
};

HistoryReader::EventFilter filterOf(bool everything, int vehicle, const std::string& from, const std::string& to)
{
    HistoryReader::EventFilter filter;
    filter.everything = everything;
    if (vehicle >= 0) {
        filter.hasVehicle = UniqueID::parse(VEHICLES[vehicle], filter.vehicle);
    }
    filter.from = from;
    filter.to = to;
    return filter;
}

} // namespace

// One table of searches and page walks, run against both stores: the
// count, every page visited (neighbours by keyset, far pages counted from
// either end) and the whole walk in runs of 7 are the same, and are the
// rows the filter takes.
TEST_F(HistoryReaderTest, BothStoresPageTheSameEventsAsTheRowsSay)
{
    struct Search {
        const char* name;
        HistoryReader::EventFilter filter;
        std::vector<int> visits; ///< pages in the order visited; -1: the last
    };
    const std::vector<Search> searches = {
        {"every event", filterOf(true, -1, "", ""), {1, 2, 3, -1, 5, 4, 1, 6}},
        {"open bounds take no event without a time", filterOf(false, -1, "", ""), {1, -1, 2}},
        {"one vehicle", filterOf(false, 0, "", ""), {1, 2, 3, 2, -1}},
        {"from a day", filterOf(false, -1, "2011-07-24 00:00:00", ""), {1, 2, -1}},
        {"to a day", filterOf(false, -1, "", "2011-07-22 23:59:59"), {-1, 1}},
        {"a day of one vehicle", filterOf(false, 1, "2011-07-23 00:00:00", "2011-07-23 23:59:59"), {1}},
        {"nothing", filterOf(false, 2, "2011-07-30 00:00:00", ""), {1}},
    };
    SqliteHistoryReader& sqlite = SqliteHistoryReader::getInstance();
    for (const Search& search : searches) {
        SCOPED_TRACE(search.name);
        const std::vector<Row> oracle = expected(search.filter);
        std::unique_ptr<HistoryReader::EventPages> pages[2] = {sqlite.eventPages(), m_pg->eventPages()};
        for (auto& reader : pages) {
            ASSERT_EQ(reader->search(search.filter), static_cast<int>(oracle.size()));
        }
        const int pageCount = pages[0]->getPageCount();
        EXPECT_EQ(pages[1]->getPageCount(), pageCount);
        for (int visit : search.visits) {
            const int page = visit < 0 ? std::max(pageCount, 1) : visit;
            std::vector<Row> shown[2];
            for (int which = 0; which < 2; ++which) {
                std::vector<EventLog> rows;
                pages[which]->loadPage(page, rows);
                for (const EventLog& row : rows) {
                    shown[which].push_back(rowOf(row));
                }
            }
            const size_t start = std::min(oracle.size(), static_cast<size_t>(page - 1) * 100);
            const std::vector<Row> slice(oracle.begin() + static_cast<std::ptrdiff_t>(start),
                                         oracle.begin() + static_cast<std::ptrdiff_t>(std::min(oracle.size(), start + 100)));
            EXPECT_EQ(shown[0], slice) << "app.db, page " << page;
            EXPECT_EQ(shown[1], slice) << "store, page " << page;
        }
        for (auto& reader : pages) {
            std::vector<Row> walked;
            EXPECT_TRUE(reader->forEach(7, [&](const std::vector<EventLog>& run) {
                for (const EventLog& row : run) {
                    walked.push_back(rowOf(row));
                }
                return true;
            }));
            EXPECT_EQ(walked, oracle);
        }
    }
}

// Tracks in the device's own clock: vehicle 0 keeps UTC+2, vehicle 1 UTC;
// "the last N hours" takes the fixes of the last N hours of real time
// either way, in stored order, the same from both stores.
TEST_F(HistoryReaderTest, BothStoresReadTheSameTracksInTheDevicesClock)
{
    SqliteHistoryReader& sqlite = SqliteHistoryReader::getInstance();
    for (int vehicle : {0, 1}) {
        for (int hours : {0, 1, 3, 24, 100}) {
            SCOPED_TRACE(std::to_string(vehicle) + " / " + std::to_string(hours) + " h");
            std::vector<std::string> oracle;
            for (const Fix& fix : m_fixes) {
                if (fix.vehicle == vehicle && (hours <= 0 || fix.utc >= NOW - hours * 3600)) {
                    oracle.push_back(sentenceOf(fix) + " @ " + timeText(fix.utc + fix.zone * 3600));
                }
            }
            UniqueID id;
            ASSERT_TRUE(UniqueID::parse(VEHICLES[vehicle], id));
            for (HistoryReader* reader : {static_cast<HistoryReader*>(&sqlite), static_cast<HistoryReader*>(m_pg.get())}) {
                std::vector<std::string> read;
                for (const GPSData& fix : reader->loadTrack(id, hours, NOW)) {
                    read.push_back(std::string(fix.getGpsData()) + " @ " + fix.getUpdateTime());
                }
                EXPECT_EQ(read, oracle);
            }
        }
    }
    // An alarm's track: both ends of a span of real time included, the
    // device's distance from UTC handed back.
    const std::pair<std::time_t, std::time_t> spans[] = {
        {NOW - 4200, NOW - 3000}, {NOW - 47 * 3600 - 1, NOW - 47 * 3600 + 1}, {NOW + 60, NOW + 1200}};
    for (int vehicle : {0, 1}) {
        for (const auto& [from, to] : spans) {
            SCOPED_TRACE(std::to_string(vehicle) + " / " + std::to_string(from - NOW) + " s");
            std::vector<std::string> oracle;
            for (const Fix& fix : m_fixes) {
                if (fix.vehicle == vehicle && fix.utc >= from && fix.utc <= to) {
                    oracle.push_back(sentenceOf(fix) + " @ " + timeText(fix.utc + fix.zone * 3600));
                }
            }
            UniqueID id;
            ASSERT_TRUE(UniqueID::parse(VEHICLES[vehicle], id));
            for (HistoryReader* reader : {static_cast<HistoryReader*>(&sqlite), static_cast<HistoryReader*>(m_pg.get())}) {
                int64_t offset = -1;
                std::vector<std::string> read;
                for (const GPSData& fix : reader->loadTrackBetween(id, from, to, NOW, offset)) {
                    read.push_back(std::string(fix.getGpsData()) + " @ " + fix.getUpdateTime());
                }
                EXPECT_EQ(read, oracle);
                EXPECT_EQ(offset, vehicle == 0 ? 7200 : 0);
            }
        }
    }
    UniqueID none;
    ASSERT_TRUE(UniqueID::parse("0d000000-0000-4000-8000-00000000000d", none));
    for (HistoryReader* reader : {static_cast<HistoryReader*>(&sqlite), static_cast<HistoryReader*>(m_pg.get())}) {
        int64_t offset = -1;
        EXPECT_TRUE(reader->loadTrack(none, 3, NOW).empty());
        EXPECT_TRUE(reader->loadTrackBetween(none, NOW - 600, NOW, NOW, offset).empty());
        EXPECT_EQ(offset, 0);
    }
}

// The alarm report's ranges: from inclusive, to exclusive, the same rows
// and texts from both stores.
TEST_F(HistoryReaderTest, BothStoresReportTheSameAlarmsOfARange)
{
    const std::pair<std::time_t, std::time_t> ranges[] = {
        {0, NOW * 2},
        {m_alarms[3].received, m_alarms[9].received},
        {m_alarms[5].received + 1, m_alarms[6].received + 1},
        {NOW, NOW + 3600},
    };
    for (const auto& [from, to] : ranges) {
        std::vector<std::string> oracle;
        for (const StoredAlarmRow& alarm : m_alarms) {
            if (alarm.received >= from && alarm.received < to) {
                oracle.push_back(std::to_string(alarm.id) + " " + timeText(alarm.received) + " " +
                                 (alarm.acknowledged != 0 ? timeText(alarm.acknowledged) + " ann" : std::string(" ")));
            }
        }
        for (HistoryReader* reader :
             {static_cast<HistoryReader*>(&SqliteHistoryReader::getInstance()), static_cast<HistoryReader*>(m_pg.get())}) {
            std::vector<std::string> read;
            for (const AlarmRecord& alarm : reader->loadAlarms(from, to)) {
                read.push_back(std::to_string(alarm.id) + " " + alarm.received + " " + alarm.acknowledged + " " +
                               alarm.acknowledgedBy);
            }
            EXPECT_EQ(read, oracle) << from << " to " << to;
        }
    }
}

// A search in the store takes only what had committed below the oldest
// transaction still running: a batch that commits late with lower ids, and
// everything after it, changes neither the count nor a page of a search
// made before; the next search takes them.
TEST_F(HistoryReaderTest, AStoreSearchIsNotChangedByALateCommitWithLowerIds)
{
    PgConnection late;
    PgConnection quick;
    late.open(conninfo(), "late");
    quick.open(conninfo(), "quick");
    PgTransaction slow(late);
    late.execute("INSERT INTO event_info (name, time, event_type, vehicle_id) VALUES ('late', "
                 "'2011-07-21 10:00:00', 1, '" + std::string(VEHICLES[0]) + "')");
    quick.execute("INSERT INTO event_info (name, time, event_type, vehicle_id) VALUES ('quick', "
                  "'2011-07-21 11:00:00', 1, '" + std::string(VEHICLES[0]) + "')");

    auto pages = m_pg->eventPages();
    const int before = pages->search(filterOf(true, -1, "", ""));
    EXPECT_EQ(before, static_cast<int>(m_events.size()));
    std::vector<EventLog> last;
    pages->loadPage(pages->getPageCount(), last);
    slow.commit();
    std::vector<EventLog> again;
    pages->loadPage(pages->getPageCount(), again);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(rowOf(again.back()), rowOf(last.back()));
    EXPECT_EQ(pages->getCount(), before);

    EXPECT_EQ(pages->search(filterOf(true, -1, "", "")), before + 2);
}
