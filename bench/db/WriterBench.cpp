// Records per second that DBManager stores for a realistic mix, against plain
// sqlite3_exec of sqlite3_mprintf statements, 2,000 per transaction, on the
// same schema, search indexes included, in the same run.
//
//   bench_dbwriter [gps-messages]      (default 60000)

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

template <typename Store>
void offerUntilTaken(Store store)
{
    // Throughput, not refusal, is measured here: a refused record waits
    // for room and is offered again.
    while (!store())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

double runOurs(const std::string& path, int messages, long& records, long& stored)
{
    DBManager& manager = DBManager::getInstance();
    const uint64_t writtenBefore = manager.getWrittenCount();
    manager.open(path.c_str(), 5000);
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    std::vector<VehicleInfo*> vehicles;
    for (int i = 0; i < Mix::VEHICLES; ++i) {
        VehicleInfo* vehicle = container.create(UniqueID(), "bus " + std::to_string(i), kTime);
        offerUntilTaken([&] { return vehicle->insert(container); });
        vehicles.push_back(vehicle);
    }
    CallbackInfo event("10.0.0.7", 5000);
    event.setDeviceTitle("CAM 1");
    event.setTime(DateTime(2026, 1, 31, 17, 5, 9));
    records = Mix::VEHICLES;

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < messages; ++i) {
        VehicleInfo* vehicle = vehicles[static_cast<size_t>(i % Mix::VEHICLES)];
        vehicle->setLastUpdatedLatitude("37.391098");
        vehicle->setLastUpdatedLongitude("-122.037826");
        offerUntilTaken([&] { return vehicle->update(container); });
        offerUntilTaken([&] {
            return GPSDataContainer::getInstance().insert(kTime, vehicle->getId(), kSentence);
        });
        records += 2;
        if (i % Mix::EVENT_EVERY == 0) {
            event.setVehicleName(vehicle->getName());
            event.setVehicleID(vehicle->getId());
            offerUntilTaken([&] { return EventLogger::getInstance().log(event); });
            ++records;
        }
    }
    manager.shutdown(); // writes everything still queued
    const double seconds = secondsSince(start);
    stored = static_cast<long>(manager.getWrittenCount() - writtenBefore);
    container.clear();
    return seconds;
}

double runBaseline(const std::string& path, int messages, long& records)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    createSchema(db);
    std::vector<std::string> ids;
    execOrDie(db, "BEGIN;");
    for (int i = 0; i < Mix::VEHICLES; ++i) {
        ids.push_back(UniqueID().toText());
        const std::string name = "bus " + std::to_string(i);
        char* sql = sqlite3_mprintf(
            "INSERT INTO vehicle_info (id, name, edited_name, last_updated_time,"
            "last_updated_latitude,last_updated_longitude, deleted, company, maker, model, "
            "registration, driver, license, info1, info2, image_path)VALUES ('%q', '%q', '%q', "
            "DATETIME('%q'), '%q', '%q', %d, '%q', '%q', '%q', '%q', '%q', '%q', '%q', '%q', '%q');",
            ids.back().c_str(), name.c_str(), "", kTime, "", "", 0, "", "", "", "", "", "", "", "",
            "");
        execOrDie(db, sql);
        sqlite3_free(sql);
    }
    execOrDie(db, "COMMIT;");
    records = Mix::VEHICLES;

    const auto start = std::chrono::steady_clock::now();
    int inTransaction = 0;
    auto run = [&](char* sql) {
        if (inTransaction == 0)
            execOrDie(db, "BEGIN;");
        execOrDie(db, sql);
        sqlite3_free(sql);
        ++records;
        if (++inTransaction == 2000) {
            execOrDie(db, "COMMIT;");
            inTransaction = 0;
        }
    };
    for (int i = 0; i < messages; ++i) {
        const std::string& id = ids[static_cast<size_t>(i % Mix::VEHICLES)];
        const std::string name = "bus " + std::to_string(i % Mix::VEHICLES);
        run(sqlite3_mprintf(
            "UPDATE vehicle_info set name='%q', edited_name='%q',last_updated_time=DATETIME('%q'), "
            "last_updated_latitude='%q',last_updated_longitude='%q', deleted=%d, company='%q', "
            "maker='%q', model='%q', registration='%q', driver='%q', license='%q', info1='%q', "
            "info2='%q', image_path='%q' where id = '%q';",
            name.c_str(), "", kTime, "37.391098", "-122.037826", 0, "", "", "", "", "", "", "", "",
            "", id.c_str()));
        run(sqlite3_mprintf("INSERT INTO gps_data (gps_data, update_time, vehicle_id)VALUES ('%q', "
                            "DATETIME('%q'), '%q');",
                            kSentence, kTime, id.c_str()));
        if (i % Mix::EVENT_EVERY == 0) {
            run(sqlite3_mprintf("INSERT INTO event_info (address, name, time, event_type, "
                                "device_title,vehicle_id)VALUES ('%q', '%q', DATETIME('%q'), %d, "
                                "'%q', '%q');",
                                "10.0.0.7", name.c_str(), kTime, 1, "CAM 1", id.c_str()));
        }
    }
    if (inTransaction > 0)
        execOrDie(db, "COMMIT;");
    const double seconds = secondsSince(start);
    sqlite3_close(db);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    int messages = 60000;
    if (argc > 1)
        messages = std::atoi(argv[1]);
    ScratchDir dir;
    long oursRecords = 0;
    long oursStored = 0;
    long baseRecords = 0;
    // Baseline first and ours second, then the other way round, so that
    // neither gains from a warm page cache alone; the better run of each counts.
    double baseSeconds = runBaseline(dir.file("base1.db"), messages, baseRecords);
    double oursSeconds = runOurs(dir.file("ours1.db"), messages, oursRecords, oursStored);
    oursSeconds = std::min(oursSeconds, runOurs(dir.file("ours2.db"), messages, oursRecords, oursStored));
    baseSeconds = std::min(baseSeconds, runBaseline(dir.file("base2.db"), messages, baseRecords));

    const long timedOurs = oursRecords - Mix::VEHICLES;
    const long timedBase = baseRecords - Mix::VEHICLES;
    const double rps = static_cast<double>(timedOurs) / oursSeconds;
    const double baselineRps = static_cast<double>(timedBase) / baseSeconds;
    std::printf("records per run: ours=%ld (stored %ld) baseline=%ld; seconds: ours=%.3f "
                "baseline=%.3f\n",
                oursRecords, oursStored, baseRecords, oursSeconds, baseSeconds);
    std::printf("dbwriter: rps=%.0f baseline_rps=%.0f ratio=%.2f\n", rps, baselineRps,
                rps / baselineRps);
    return 0;
}
