// The event log window over 5,000,000 events of 500 vehicles: opening it
// (every event, page 1 shown), going to the last page, and searching one
// vehicle over one day, clicked through the real window offscreen. The
// baseline, in the same run on the same file, is a read of every event
// into memory (DBManager::loadEvents with no condition), which is how a
// window without SQL paging opens. Peak memory is taken before the
// baseline runs.
//
//   bench_eventlog [events] [--fresh]
//
// The database is made once in the temporary directory and reused by later
// runs with the same event count; --fresh makes it again.

#include "app/dialogs/LogDlg.h"
#include "bench/db/BenchSupport.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/EventPager.h"
#include "foundation/UniqueID.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::bench;

namespace {

constexpr int VEHICLES = 500;
// 2011-01-01 00:00:00 UTC; one event every 6 seconds across the fleet.
constexpr std::time_t START = 1293840000;
constexpr int STEP_SECONDS = 6;

long countOf(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    long count = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

std::string vehicleId(int index)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-0000-4000-8000-%012x", 0x1000 + index, index);
    return text;
}

void generate(const std::string& path, long events)
{
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    createSchema(db);
    execOrDie(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    execOrDie(db, "BEGIN;");
    sqlite3_stmt* vehicle = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO vehicle_info (id, name, edited_name, last_updated_time, deleted) "
                       "VALUES (?, ?, '', '2011-01-01 00:00:00', 0);",
                       -1, &vehicle, nullptr);
    for (int v = 0; v < VEHICLES; ++v) {
        const std::string id = vehicleId(v);
        char name[16];
        std::snprintf(name, sizeof name, "bus %03d", v);
        sqlite3_bind_text(vehicle, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(vehicle, 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_step(vehicle);
        sqlite3_reset(vehicle);
    }
    sqlite3_finalize(vehicle);

    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id) "
                       "VALUES ('192.168.100.200', ?, ?, ?, ?, ?);",
                       -1, &insert, nullptr);
    std::vector<std::string> ids;
    std::vector<std::string> names;
    for (int v = 0; v < VEHICLES; ++v) {
        ids.push_back(vehicleId(v));
        char name[16];
        std::snprintf(name, sizeof name, "bus %03d", v);
        names.emplace_back(name);
    }
    uint32_t random = 12345;
    for (long i = 0; i < events; ++i) {
        random = random * 1664525u + 1013904223u;
        const int v = static_cast<int>((random >> 8) % VEHICLES);
        const std::time_t when = START + static_cast<std::time_t>(i) * STEP_SECONDS;
        std::tm parts{};
        gmtime_r(&when, &parts);
        char time[24];
        std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &parts);
        sqlite3_bind_text(insert, 1, names[static_cast<size_t>(v)].c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, time, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 3, static_cast<int>(i % 14));
        sqlite3_bind_text(insert, 4, "Front camera 1", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 5, ids[static_cast<size_t>(v)].c_str(), -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    execOrDie(db, "COMMIT;");
    sqlite3_close(db);
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return secondsSince(start) * 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    long events = 5000000;
    bool fresh = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--fresh")
            fresh = true;
        else
            events = std::atol(argv[i]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "velmora-bench-eventlog";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / ("app-" + std::to_string(events) + ".db")).string();
    if (fresh || countOf(path, "SELECT COUNT(*) FROM event_info;") != events ||
        countOf(path, "SELECT COUNT(*) FROM vehicle_info;") != VEHICLES) {
        const auto start = std::chrono::steady_clock::now();
        generate(path, events);
        std::printf("generated %ld events in %.1f s: %s\n", events, secondsSince(start), path.c_str());
    } else {
        std::printf("reusing %s\n", path.c_str());
    }

    DBManager& manager = DBManager::getInstance();
    manager.open(path.c_str(), 5000);
    {
        // What a first opening on an old file pays once; free afterwards.
        const auto start = std::chrono::steady_clock::now();
        EventPager::ensureIndex();
        std::printf("vehicle index ready in %.0f ms\n", msSince(start));
    }

    auto start = std::chrono::steady_clock::now();
    auto* log = new LogDlg();
    log->show();
    QApplication::processEvents();
    const double openMs = msSince(start);
    auto* list = log->findChild<QTableWidget*>("eventList");
    auto* indicator = log->findChild<QLabel*>("pageIndicator");
    std::printf("opened: %d rows shown, page %s\n", list->rowCount(), qPrintable(indicator->text()));

    start = std::chrono::steady_clock::now();
    QTest::mouseClick(log->findChild<QPushButton*>("lastPageButton"), Qt::LeftButton);
    const double lastPageMs = msSince(start);
    std::printf("last page: %d rows, page %s, first %s\n", list->rowCount(), qPrintable(indicator->text()),
                list->rowCount() > 0 ? qPrintable(list->item(0, 1)->text()) : "-");

    // One vehicle over one day in the middle of the stored range.
    auto* vehicles = log->findChild<QComboBox*>("vehicleList");
    vehicles->setCurrentIndex(vehicles->findText(QStringLiteral("bus 250")));
    QTest::mouseClick(log->findChild<QCheckBox*>("fromCheck"), Qt::LeftButton);
    QTest::mouseClick(log->findChild<QCheckBox*>("toCheck"), Qt::LeftButton);
    const QDate day = QDate(2011, 1, 1).addDays(static_cast<qint64>(events) * STEP_SECONDS / 86400 / 2);
    log->findChild<QDateEdit*>("fromDate")->setDate(day);
    log->findChild<QDateEdit*>("toDate")->setDate(day);
    start = std::chrono::steady_clock::now();
    QTest::mouseClick(log->findChild<QPushButton*>("searchButton"), Qt::LeftButton);
    const double searchMs = msSince(start);
    std::printf("search of bus 250 on %s: %d rows, page %s\n", qPrintable(day.toString(Qt::ISODate)),
                list->rowCount(), qPrintable(indicator->text()));

    // The same day for the whole fleet: no index serves it, every row is read.
    vehicles->setCurrentIndex(0);
    start = std::chrono::steady_clock::now();
    QTest::mouseClick(log->findChild<QPushButton*>("searchButton"), Qt::LeftButton);
    const double fleetDayMs = msSince(start);
    std::printf("search of every vehicle on that day: %.0f ms, page %s\n", fleetDayMs, qPrintable(indicator->text()));
    delete log;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakMb = usage.ru_maxrss / 1024; // KiB on Linux

    start = std::chrono::steady_clock::now();
    const int loaded = manager.loadEvents(nullptr);
    const double baselineMs = msSince(start);
    getrusage(RUSAGE_SELF, &usage);
    std::printf("baseline: %d events read into memory, peak rss then %ld MB\n", loaded, usage.ru_maxrss / 1024);
    EventLogger::getInstance().clear();
    manager.shutdown();

    std::printf("eventlog: events=%ld open_ms=%.0f last_page_ms=%.0f search_ms=%.0f peak_rss_mb=%ld "
                "baseline_open_ms=%.0f\n",
                events, openMs, lastPageMs, searchMs, peakMb, baselineMs);
    return 0;
}
