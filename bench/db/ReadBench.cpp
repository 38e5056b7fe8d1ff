// Reads: DBManager::loadEvents of every event with 1,000,000 rows stored,
// with a plain SQLite scan of the same rows (stepping, copying nothing) as
// the baseline in the same run.
//
//   bench_dbread [rows]      (default 1000000)

#include "bench/db/BenchSupport.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace velmora;
using namespace velmora::bench;

namespace {

void fill(const std::string& path, long rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    createSchema(db);
    execOrDie(db, "BEGIN;");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO event_info (address, name, time, event_type, "
                       "device_title,vehicle_id) VALUES (?, ?, DATETIME(?), ?, ?, ?);",
                       -1, &insert, nullptr);
    const std::string vehicle = UniqueID().toText();
    for (long i = 0; i < rows; ++i) {
        const std::string name = "bus " + std::to_string(i % 100);
        sqlite3_bind_text(insert, 1, "192.168.100.200", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, kTime, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 4, static_cast<int>(i % 14));
        sqlite3_bind_text(insert, 5, "Front camera 1", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 6, vehicle.c_str(), -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    execOrDie(db, "COMMIT;");
    sqlite3_close(db);
}

double baselineScan(const std::string& path, long& rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM event_info ;", -1, &select, nullptr);
    rows = 0;
    long bytes = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
        for (int c = 0; c < 7; ++c)
            bytes += sqlite3_column_bytes(select, c);
        ++rows;
    }
    sqlite3_finalize(select);
    const double seconds = secondsSince(start);
    sqlite3_close(db);
    if (bytes == 0)
        std::printf("no bytes read\n");
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    ScratchDir dir;
    const std::string path = dir.file("app.db");
    fill(path, rows);

    long scanned = 0;
    const double baseline = baselineScan(path, scanned);

    DBManager& manager = DBManager::getInstance();
    manager.open(path.c_str(), 5000);
    const auto start = std::chrono::steady_clock::now();
    const int events = manager.loadEvents(nullptr);
    const double seconds = secondsSince(start);
    manager.shutdown();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakMb = usage.ru_maxrss / 1024; // ru_maxrss is in KiB on Linux
    std::printf("baseline scan of %ld rows: %.3f s; record size %zu bytes\n", scanned, baseline,
                sizeof(EventLog));
    std::printf("dbread: events=%d seconds=%.3f baseline_seconds=%.3f peak_rss_mb=%ld\n", events,
                seconds, baseline, peakMb);
    return 0;
}
