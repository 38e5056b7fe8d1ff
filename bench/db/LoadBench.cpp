// Sustained load: records offered at a steady rate through the store
// operations the console uses (EventLogger::log, GPSDataContainer::insert,
// VehicleInfo::update) for a while, then shutdown. The baseline, in the same
// run, offers the same records at the same rate to plain prepared
// statements on the caller's thread, one transaction per tick.
//
// Every offered record must be in the file afterwards: each insert as a
// row, each vehicle with its last offered update. The benchmark checks that
// for both files and exits non-zero when ours misses anything.
//
//   bench_dbload [seconds] [records-per-second]      (default 30 20000)

#include "bench/db/BenchSupport.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "intake/CallbackInfo.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using namespace velmora::bench;

namespace {

/// What one run offered, to be found in its file afterwards.
struct Offered {
    long records = 0;
    long inserts = 0; // gps_data and event_info rows
    long refused = 0;
    std::vector<std::string> ids;              // vehicle ids, in vehicle order
    std::map<std::string, std::string> latest; // id -> last offered latitude
    double seconds = 0;                        // the offering window
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// A latitude text that differs for every message, so the file shows
/// whether a vehicle's last update arrived.
std::string latitudeOf(long message)
{
    char text[32];
    std::snprintf(text, sizeof text, "37.%06ld", message % 1000000);
    return text;
}

/// Offers the record mix on schedule: per message one vehicle update and one
/// fix, every tenth message an event. sink(kind, vehicle, message) stores one
/// record (kind 0 update, 1 fix, 2 event) and answers whether it was taken;
/// tick(true/false) opens and closes each round of due records.
template <typename Sink, typename Tick>
void offer(double duration, double rate, Offered& offered, Sink sink, Tick tick)
{
    const auto start = std::chrono::steady_clock::now();
    long message = 0;
    long timed = 0;
    for (;;) {
        const double elapsed = secondsSince(start);
        if (elapsed >= duration)
            break;
        const auto due = static_cast<long>(elapsed * rate);
        if (timed < due) {
            tick(true);
            while (timed < due) {
                const size_t vehicle = static_cast<size_t>(message % Mix::VEHICLES);
                const std::string latitude = latitudeOf(message);
                offered.refused += sink(0, vehicle, latitude) ? 0 : 1;
                offered.latest[offered.ids[vehicle]] = latitude;
                offered.refused += sink(1, vehicle, latitude) ? 0 : 1;
                timed += 2;
                offered.inserts += 1;
                if (message % Mix::EVENT_EVERY == 0) {
                    offered.refused += sink(2, vehicle, latitude) ? 0 : 1;
                    timed += 1;
                    offered.inserts += 1;
                }
                ++message;
            }
            tick(false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    offered.records += timed;
    offered.seconds = secondsSince(start);
}

/// How many offered records the file lacks: missing insert rows, plus every
/// vehicle that is missing or does not hold its last update.
long missingFrom(const std::string& path, const Offered& offered)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT (SELECT COUNT(*) FROM gps_data) + (SELECT COUNT(*) FROM event_info);", -1,
        &statement, nullptr);
    sqlite3_step(statement);
    const long rows = static_cast<long>(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    long missing = offered.inserts > rows ? offered.inserts - rows : rows - offered.inserts;
    std::map<std::string, std::string> found;
    sqlite3_prepare_v2(db, "SELECT id, last_updated_latitude FROM vehicle_info;", -1, &statement,
                       nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* id = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        const auto* latitude = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        found[id != nullptr ? id : ""] = latitude != nullptr ? latitude : "";
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    for (const std::string& id : offered.ids) {
        const auto latest = offered.latest.find(id);
        const auto stored = found.find(id);
        if (stored == found.end() || (latest != offered.latest.end() && stored->second != latest->second))
            ++missing;
    }
    return missing;
}

struct OursResult {
    Offered offered;
    long stored = 0;
    double shutdownSeconds = 0;
    double cpu = 0;
};

OursResult runOurs(const std::string& path, double duration, double rate)
{
    OursResult result;
    Offered& offered = result.offered;
    const double cpuBefore = cpuSeconds();
    DBManager& manager = DBManager::getInstance();
    const uint64_t writtenBefore = manager.getWrittenCount();
    manager.open(path.c_str(), 5000);
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    std::vector<VehicleInfo*> vehicles;
    for (int i = 0; i < Mix::VEHICLES; ++i) {
        VehicleInfo* vehicle = container.create(UniqueID(), "bus " + std::to_string(i), kTime);
        offered.refused += vehicle->insert(container) ? 0 : 1;
        offered.ids.push_back(vehicle->getId().toText());
        vehicles.push_back(vehicle);
    }
    offered.records = Mix::VEHICLES;
    CallbackInfo event("10.0.0.7", 5000);
    event.setDeviceTitle("CAM 1");
    event.setTime(DateTime(2026, 1, 31, 17, 5, 9));

    offer(
        duration, rate, offered,
        [&](int kind, size_t index, const std::string& latitude) {
            VehicleInfo* vehicle = vehicles[index];
            if (kind == 0) {
                vehicle->setLastUpdatedLatitude(latitude);
                vehicle->setLastUpdatedLongitude("-122.037826");
                return vehicle->update(container);
            }
            if (kind == 1)
                return GPSDataContainer::getInstance().insert(kTime, vehicle->getId(), kSentence);
            event.setVehicleName(vehicle->getName());
            event.setVehicleID(vehicle->getId());
            return EventLogger::getInstance().log(event);
        },
        [](bool) {});
    const auto stopStart = std::chrono::steady_clock::now();
    manager.shutdown();
    result.shutdownSeconds = secondsSince(stopStart);
    result.stored = static_cast<long>(manager.getWrittenCount() - writtenBefore);
    result.cpu = cpuSeconds() - cpuBefore;
    container.clear();
    return result;
}

struct BaselineResult {
    Offered offered;
    double cpu = 0;
};

BaselineResult runBaseline(const std::string& path, double duration, double rate)
{
    BaselineResult result;
    Offered& offered = result.offered;
    const double cpuBefore = cpuSeconds();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    createSchema(db);
    sqlite3_stmt* insertVehicle = nullptr;
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* fix = nullptr;
    sqlite3_stmt* event = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO vehicle_info (id, name, edited_name, last_updated_time,"
                       "last_updated_latitude,last_updated_longitude, deleted, company, maker, "
                       "model, registration, driver, license, info1, info2, image_path) VALUES (?, "
                       "?, '', DATETIME(?), '', '', 0, '', '', '', '', '', '', '', '', '');",
                       -1, &insertVehicle, nullptr);
    sqlite3_prepare_v2(db,
                       "UPDATE vehicle_info set name=?, edited_name=?,last_updated_time=DATETIME(?), "
                       "last_updated_latitude=?,last_updated_longitude=?, deleted=?, company=?, "
                       "maker=?, model=?, registration=?, driver=?, license=?, info1=?, info2=?, "
                       "image_path=? where id = ?;",
                       -1, &update, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO gps_data (gps_data, update_time, vehicle_id) VALUES (?, "
                       "DATETIME(?), ?);",
                       -1, &fix, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO event_info (address, name, time, event_type, device_title,"
                       "vehicle_id) VALUES (?, ?, DATETIME(?), ?, ?, ?);",
                       -1, &event, nullptr);
    auto run = [](sqlite3_stmt* statement) {
        const bool done = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
        return done;
    };
    std::vector<std::string> names;
    execOrDie(db, "BEGIN;");
    for (int i = 0; i < Mix::VEHICLES; ++i) {
        offered.ids.push_back(UniqueID().toText());
        names.push_back("bus " + std::to_string(i));
        sqlite3_bind_text(insertVehicle, 1, offered.ids.back().c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insertVehicle, 2, names.back().c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insertVehicle, 3, kTime, -1, SQLITE_STATIC);
        offered.refused += run(insertVehicle) ? 0 : 1;
    }
    execOrDie(db, "COMMIT;");
    offered.records = Mix::VEHICLES;

    offer(
        duration, rate, offered,
        [&](int kind, size_t index, const std::string& latitude) {
            const char* id = offered.ids[index].c_str();
            if (kind == 0) {
                sqlite3_bind_text(update, 1, names[index].c_str(), -1, SQLITE_STATIC);
                for (int column : {2, 7, 8, 9, 10, 11, 12, 13, 14, 15})
                    sqlite3_bind_text(update, column, "", -1, SQLITE_STATIC);
                sqlite3_bind_text(update, 3, kTime, -1, SQLITE_STATIC);
                sqlite3_bind_text(update, 4, latitude.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(update, 5, "-122.037826", -1, SQLITE_STATIC);
                sqlite3_bind_int(update, 6, 0);
                sqlite3_bind_text(update, 16, id, -1, SQLITE_STATIC);
                return run(update);
            }
            if (kind == 1) {
                sqlite3_bind_text(fix, 1, kSentence, -1, SQLITE_STATIC);
                sqlite3_bind_text(fix, 2, kTime, -1, SQLITE_STATIC);
                sqlite3_bind_text(fix, 3, id, -1, SQLITE_STATIC);
                return run(fix);
            }
            sqlite3_bind_text(event, 1, "10.0.0.7", -1, SQLITE_STATIC);
            sqlite3_bind_text(event, 2, names[index].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(event, 3, kTime, -1, SQLITE_STATIC);
            sqlite3_bind_int(event, 4, 1);
            sqlite3_bind_text(event, 5, "CAM 1", -1, SQLITE_STATIC);
            sqlite3_bind_text(event, 6, id, -1, SQLITE_STATIC);
            return run(event);
        },
        [&](bool opening) { execOrDie(db, opening ? "BEGIN;" : "COMMIT;"); });
    for (sqlite3_stmt* statement : {insertVehicle, update, fix, event})
        sqlite3_finalize(statement);
    sqlite3_close(db);
    result.cpu = cpuSeconds() - cpuBefore;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const double duration = argc > 1 ? std::atof(argv[1]) : 30.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 20000.0;
    ScratchDir dir;
    const std::string basePath = dir.file("base.db");
    const std::string oursPath = dir.file("app.db");
    const BaselineResult base = runBaseline(basePath, duration, rate);
    const OursResult ours = runOurs(oursPath, duration, rate);
    const long baseMissing = missingFrom(basePath, base.offered);
    const long missing = missingFrom(oursPath, ours.offered);
    const bool complete = missing == 0 && ours.offered.refused == 0 && ours.stored == ours.offered.records;

    std::printf("offered for %.1f s at %.0f records/s (baseline %.1f s at %.0f/s); shutdown took %.3f s; "
                "cpu %.2f s (baseline %.2f s)\n",
                ours.offered.seconds, static_cast<double>(ours.offered.records) / ours.offered.seconds,
                base.offered.seconds, static_cast<double>(base.offered.records) / base.offered.seconds,
                ours.shutdownSeconds, ours.cpu, base.cpu);
    std::printf("dbload: offered=%ld stored=%ld refused=%ld missing=%ld shutdown_s=%.3f cpu_s=%.2f "
                "baseline_offered=%ld baseline_missing=%ld baseline_cpu_s=%.2f complete=%s\n",
                ours.offered.records, ours.stored, ours.offered.refused, missing, ours.shutdownSeconds,
                ours.cpu, base.offered.records, baseMissing, base.cpu, complete ? "yes" : "no");
    if (!complete)
        std::fprintf(stderr, "dbload: offered records are missing from the file\n");
    return complete ? 0 : 1;
}
