// Sustained load: records offered at a steady rate through the store
// operations the console uses (EventLogger::log, GPSDataContainer::insert,
// VehicleInfo::update) for a while, then shutdown. Every offered record must
// be stored and none refused.
//
//   bench_dbload [seconds] [records-per-second]      (default 30 20000)

#include "bench/db/BenchSupport.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "intake/CallbackInfo.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using namespace velmora::bench;

namespace {

long countInsertedRows(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT (SELECT COUNT(*) FROM gps_data) + (SELECT COUNT(*) FROM event_info);", -1,
        &statement, nullptr);
    sqlite3_step(statement);
    const long n = static_cast<long>(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    const double duration = argc > 1 ? std::atof(argv[1]) : 30.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 20000.0;
    ScratchDir dir;
    const std::string path = dir.file("app.db");
    DBManager& manager = DBManager::getInstance();
    manager.open(path.c_str(), 5000);
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    std::vector<VehicleInfo*> vehicles;
    long offered = 0;
    long refused = 0;
    for (int i = 0; i < Mix::VEHICLES; ++i) {
        VehicleInfo* vehicle = container.create(UniqueID(), "bus " + std::to_string(i), kTime);
        ++offered;
        if (!vehicle->insert(container))
            ++refused;
        vehicles.push_back(vehicle);
    }
    CallbackInfo event("10.0.0.7", 5000);
    event.setDeviceTitle("CAM 1");
    event.setTime(DateTime(2026, 1, 31, 17, 5, 9));

    long offeredInserts = 0;
    long refusedInserts = 0;
    const auto start = std::chrono::steady_clock::now();
    long message = 0;
    for (;;) {
        const double elapsed = secondsSince(start);
        if (elapsed >= duration)
            break;
        // Offer what the schedule owes by now, then rest a millisecond.
        const auto due = static_cast<long>(elapsed * rate);
        while (offered - Mix::VEHICLES < due) {
            VehicleInfo* vehicle = vehicles[static_cast<size_t>(message % Mix::VEHICLES)];
            vehicle->setLastUpdatedLatitude("37.391098");
            vehicle->setLastUpdatedLongitude("-122.037826");
            refused += vehicle->update(container) ? 0 : 1;
            const bool fix =
                GPSDataContainer::getInstance().insert(kTime, vehicle->getId(), kSentence);
            refused += fix ? 0 : 1;
            refusedInserts += fix ? 0 : 1;
            offered += 2;
            offeredInserts += 1;
            if (message % Mix::EVENT_EVERY == 0) {
                event.setVehicleName(vehicle->getName());
                event.setVehicleID(vehicle->getId());
                const bool logged = EventLogger::getInstance().log(event);
                refused += logged ? 0 : 1;
                refusedInserts += logged ? 0 : 1;
                ++offered;
                ++offeredInserts;
            }
            ++message;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double offeredSeconds = secondsSince(start);
    const auto stopStart = std::chrono::steady_clock::now();
    manager.shutdown();
    const double shutdownSeconds = secondsSince(stopStart);

    const long stored = static_cast<long>(manager.getWrittenCount());
    const long rows = countInsertedRows(path);
    std::printf("offered for %.1f s at %.0f records/s; shutdown took %.3f s; rows inserted %ld of "
                "%ld insert records offered (%ld refused)\n",
                offeredSeconds, static_cast<double>(offered) / offeredSeconds, shutdownSeconds, rows,
                offeredInserts, refusedInserts);
    std::printf("dbload: offered=%ld stored=%ld refused=%ld\n", offered, stored, refused);
    return 0;
}
