#include "receiver/AppDbImport.h"

#include "db/AlarmRecord.h"
#include "db/Database.h"
#include "db/DatabaseException.h"
#include "db/EventLog.h"
#include "db/GPSData.h"
#include "db/RowSet.h"
#include "db/VehicleInfo.h"
#include "store/ChangeFeed.h"
#include "store/CopyText.h"
#include "store/PgConnection.h"
#include "store/PgCopyIn.h"
#include "store/PgTransaction.h"
#include "store/StoreSchema.h"
#include "store/StoreText.h"

#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

namespace velmora {

namespace {

const char* const PROGRAM = "velmora-receiver";

const char* const STAGING_SQL =
    "CREATE TEMP TABLE IF NOT EXISTS import_vehicle (LIKE vehicle_info) ON COMMIT DELETE ROWS;"
    "CREATE TEMP TABLE IF NOT EXISTS import_event (address text, name text, time timestamptz, event_type integer, "
    "device_title text, vehicle_id uuid, received timestamptz, origin_id bigint) ON COMMIT DELETE ROWS;"
    "CREATE TEMP TABLE IF NOT EXISTS import_fix (gps_data text, update_time timestamptz, vehicle_id uuid, "
    "received timestamptz, origin_id bigint) ON COMMIT DELETE ROWS;";

/// A coordinate text of app.db as a number; false when it is none.
bool readNumber(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, value);
    return !text.empty() && read.ec == std::errc() && read.ptr == end;
}

/// One SQLite connection of the import's own, read-only: the desk may
/// still be running on the file.
class AppDb {
public:
    explicit AppDb(const std::string& path)
    {
        std::error_code code;
        if (!std::filesystem::is_regular_file(path, code)) {
            throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), SQLITE_CANTOPEN,
                                    (path + " is no file").c_str());
        }
        m_database.openReadOnly(path.c_str(), 5000);
    }
    Database& get() { return m_database; }
    int64_t count(const std::string& sql)
    {
        RowSet rows(m_database, sql.c_str());
        return rows.next() ? rows.getInt64(0) : 0;
    }

private:
    Database m_database;
};

class Rate {
public:
    std::string text(int64_t done, int64_t total) const
    {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        char line[128];
        std::snprintf(line, sizeof line, "%lld of %lld (%d%%), %.0f/s", static_cast<long long>(done),
                      static_cast<long long>(total), total > 0 ? static_cast<int>(done * 100 / total) : 100,
                      seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
        return line;
    }

private:
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};

} // namespace

AppDbImport::AppDbImport(PgConnection& store, const std::string& appDbPath, const std::string& origin)
    : m_store(store), m_path(appDbPath), m_origin(origin)
{
    if (m_origin.empty()) {
        std::error_code code;
        const std::filesystem::path full = std::filesystem::weakly_canonical(appDbPath, code);
        m_origin = code ? appDbPath : full.string();
    }
}

int32_t AppDbImport::originId()
{
    m_store.query("INSERT INTO import_origin (name) VALUES ($1) ON CONFLICT (name) DO NOTHING", {m_origin});
    return static_cast<int32_t>(
        m_store.query("SELECT id FROM import_origin WHERE name = $1", {m_origin}).getInt64(0, 0));
}

AppDbImport::Counts AppDbImport::run(const std::function<void(const std::string&)>& progress)
{
    // Opened first: a missing file changes nothing in the store.
    { AppDb check(m_path); }
    StoreSchema::migrate(m_store, PROGRAM);
    m_store.execute(STAGING_SQL);
    const int32_t origin = originId();
    progress("importing " + m_path + " as \"" + m_origin + "\"");
    Counts counts;
    counts.vehicles = importVehicles();
    progress("vehicles: " + std::to_string(counts.vehicles) + " added");
    counts.events = importEvents(origin, progress);
    counts.fixes = importFixes(origin, progress);
    counts.alarms = importAlarms(origin);
    progress("alarms: " + std::to_string(counts.alarms) + " added");
    // Desks load the fleet again rather than follow a flood of rows.
    PgTransaction transaction(m_store);
    ChangeFeed::append(m_store, ChangeFeed::FLEET, m_origin, ChangeFeed::sourceName(PROGRAM));
    ChangeFeed::notify(m_store, "fleet");
    transaction.commit();
    return counts;
}

int64_t AppDbImport::importVehicles()
{
    AppDb appDb(m_path);
    CopyText rows;
    RowSet read(appDb.get(), "SELECT * FROM vehicle_info;");
    while (read.next()) {
        VehicleInfo vehicle(AbstractDatabaseRecord::nullId());
        vehicle.readRow(read);
        double latitude = 0;
        double longitude = 0;
        const bool position = readNumber(vehicle.getLastUpdatedLatitude(), latitude) &&
                              readNumber(vehicle.getLastUpdatedLongitude(), longitude);
        rows.uuid(vehicle.getId());
        rows.text(StoreText::clean(vehicle.getName()));
        rows.text(StoreText::clean(vehicle.getEditedName()));
        rows.timeSeconds(StoreText::parseTime(vehicle.getLastUpdatedTime()));
        if (position) {
            rows.fixed6(latitude);
            rows.fixed6(longitude);
        } else {
            rows.null();
            rows.null();
        }
        rows.boolean(vehicle.getDeleted());
        for (const std::string* text : {&vehicle.getCompany(), &vehicle.getMaker(), &vehicle.getModel(),
                                        &vehicle.getRegistration(), &vehicle.getDriver(), &vehicle.getLicense(),
                                        &vehicle.getInfo1(), &vehicle.getInfo2(), &vehicle.getImagePath()}) {
            rows.text(StoreText::clean(*text));
        }
        rows.endRow();
    }
    if (rows.isEmpty()) {
        return 0;
    }
    PgTransaction transaction(m_store);
    PgCopyIn copy(m_store, "COPY import_vehicle (id, name, edited_name, last_updated_time, last_updated_latitude, "
                           "last_updated_longitude, deleted, company, maker, model, registration, driver, license, "
                           "info1, info2, image_path) FROM STDIN");
    copy.write(rows);
    copy.end();
    // A vehicle the store has keeps its row: the store is the newer record.
    const int64_t added = m_store
                              .execute("INSERT INTO vehicle_info SELECT * FROM import_vehicle "
                                       "ON CONFLICT (id) DO NOTHING")
                              .getAffectedRows();
    transaction.commit();
    return added;
}

int64_t AppDbImport::importEvents(int32_t origin, const std::function<void(const std::string&)>& progress)
{
    AppDb appDb(m_path);
    int64_t from = m_store.query("SELECT COALESCE(MAX(origin_id), 0) FROM event_info WHERE origin = $1", {origin})
                       .getInt64(0, 0);
    const int64_t total = appDb.count("SELECT COUNT(*) FROM event_info WHERE id > " + std::to_string(from) + ";");
    int64_t done = 0;
    int64_t added = 0;
    const Rate rate;
    if (total == 0) {
        progress("events: nothing new since the last import");
    }
    for (;;) {
        CopyText rows;
        RowSet read(appDb.get(), ("SELECT * FROM event_info WHERE id > " + std::to_string(from) + " ORDER BY id LIMIT " +
                                  std::to_string(CHUNK) + ";")
                                     .c_str());
        const int64_t now = StoreText::nowMicros();
        while (read.next()) {
            EventLog event;
            event.readRow(read);
            from = read.getInt64(0);
            const int64_t time = StoreText::parseTime(event.getTime());
            rows.text(StoreText::clean(event.getAddress()));
            rows.text(StoreText::clean(event.getName()));
            rows.timeSeconds(time);
            rows.integer(event.getEventType());
            rows.text(StoreText::clean(event.getDeviceTitle()));
            rows.uuid(event.getVehicleId());
            rows.timeMicros(time != StoreText::NO_TIME ? time * 1000000 : now);
            rows.integer(from);
            rows.endRow();
        }
        read.close();
        if (rows.isEmpty()) {
            break;
        }
        PgTransaction transaction(m_store);
        PgCopyIn copy(m_store, "COPY import_event (address, name, time, event_type, device_title, vehicle_id, "
                               "received, origin_id) FROM STDIN");
        copy.write(rows);
        copy.end();
        added += m_store
                     .query("INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id, "
                            "received, origin, origin_id) SELECT address, name, time, event_type, device_title, "
                            "vehicle_id, received, $1, origin_id FROM import_event ORDER BY origin_id "
                            "ON CONFLICT (origin, origin_id) WHERE origin IS NOT NULL DO NOTHING",
                            {origin})
                     .getAffectedRows();
        transaction.commit();
        done += static_cast<int64_t>(rows.getRowCount());
        progress("events: " + rate.text(done, total));
    }
    return added;
}

int64_t AppDbImport::importFixes(int32_t origin, const std::function<void(const std::string&)>& progress)
{
    AppDb appDb(m_path);
    int64_t from = m_store.query("SELECT COALESCE(MAX(origin_id), 0) FROM gps_data WHERE origin = $1", {origin})
                       .getInt64(0, 0);
    const int64_t total = appDb.count("SELECT COUNT(*) FROM gps_data WHERE id > " + std::to_string(from) + ";");
    int64_t done = 0;
    int64_t added = 0;
    const Rate rate;
    if (total == 0) {
        progress("fixes: nothing new since the last import");
    }
    for (;;) {
        CopyText rows;
        std::set<int64_t> days;
        RowSet read(appDb.get(), ("SELECT * FROM gps_data WHERE id > " + std::to_string(from) + " ORDER BY id LIMIT " +
                                  std::to_string(CHUNK) + ";")
                                     .c_str());
        while (read.next()) {
            GPSData fix;
            fix.readRow(read);
            from = read.getInt64(0);
            const int64_t time = StoreText::parseTime(fix.getUpdateTime());
            // Filed by the device's time: the same row always lands on the
            // same day, so a second import finds it.
            const int64_t received = time != StoreText::NO_TIME ? time * 1000000 : 0;
            days.insert(StoreText::dayOfMicros(received));
            rows.text(StoreText::clean(fix.getGpsData()));
            rows.timeSeconds(time);
            rows.uuid(fix.getVehicleId());
            rows.timeMicros(received);
            rows.integer(from);
            rows.endRow();
        }
        read.close();
        if (rows.isEmpty()) {
            break;
        }
        StoreSchema::ensureFixDays(m_store, std::vector<int64_t>(days.begin(), days.end()));
        PgTransaction transaction(m_store);
        PgCopyIn copy(m_store, "COPY import_fix (gps_data, update_time, vehicle_id, received, origin_id) FROM STDIN");
        copy.write(rows);
        copy.end();
        added += m_store
                     .query("INSERT INTO gps_data (gps_data, update_time, vehicle_id, received, origin, origin_id) "
                            "SELECT gps_data, update_time, vehicle_id, received, $1, origin_id FROM import_fix "
                            "ORDER BY origin_id ON CONFLICT (origin, origin_id, received) WHERE origin IS NOT NULL "
                            "DO NOTHING",
                            {origin})
                     .getAffectedRows();
        transaction.commit();
        done += static_cast<int64_t>(rows.getRowCount());
        progress("fixes: " + rate.text(done, total));
    }
    return added;
}

int64_t AppDbImport::importAlarms(int32_t origin)
{
    AppDb appDb(m_path);
    std::vector<AlarmRecord> alarms;
    {
        RowSet exists(appDb.get(), "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'alarm_info';");
        if (!exists.next() || exists.getInt(0) == 0) {
            return 0;
        }
    }
    RowSet read(appDb.get(), "SELECT id, event_id, vehicle_id, vehicle_name, event_type, priority, device_title, "
                             "address, received, last_received, repeat_count, acknowledged, acknowledged_by, closed, "
                             "closed_by, notes FROM alarm_info ORDER BY id;");
    while (read.next()) {
        alarms.emplace_back();
        alarms.back().readRow(read);
    }
    read.close();
    const auto time = [](const std::string& text) {
        const int64_t seconds = StoreText::parseTime(text);
        return seconds == StoreText::NO_TIME ? PgConnection::Param::null() : PgConnection::Param(seconds);
    };
    const auto optionalText = [](const std::string& text) {
        return text.empty() ? PgConnection::Param::null() : PgConnection::Param(StoreText::clean(text));
    };
    int64_t added = 0;
    PgTransaction transaction(m_store);
    for (const AlarmRecord& alarm : alarms) {
        // The event is the store's copy of the alarm's event from this file.
        added += m_store
                     .query("INSERT INTO alarm_info (event_id, vehicle_id, vehicle_name, event_type, priority, "
                            "device_title, address, received, last_received, repeat_count, acknowledged, "
                            "acknowledged_by, closed, closed_by, notes, origin, origin_id) VALUES ("
                            "(SELECT id FROM event_info WHERE origin = $1 AND origin_id = $2), $3, $4, $5, $6, $7, "
                            "$8, to_timestamp($9), to_timestamp($10), $11, to_timestamp($12), $13, to_timestamp($14), "
                            "$15, $16, $1, $17) ON CONFLICT DO NOTHING",
                            {origin, alarm.eventId, alarm.vehicleId.toText(), StoreText::clean(alarm.vehicleName),
                             alarm.eventType, alarm.priority, StoreText::clean(alarm.deviceTitle),
                             StoreText::clean(alarm.address), time(alarm.received), time(alarm.lastReceived),
                             alarm.repeatCount, time(alarm.acknowledged), optionalText(alarm.acknowledgedBy),
                             time(alarm.closed), optionalText(alarm.closedBy), StoreText::clean(alarm.notes),
                             alarm.id})
                     .getAffectedRows();
    }
    transaction.commit();
    return added;
}

} // namespace velmora
