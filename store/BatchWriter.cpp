#include "store/BatchWriter.h"

#include "store/ChangeFeed.h"
#include "store/CopyBinary.h"
#include "store/CopyText.h"
#include "store/PgConnection.h"
#include "store/PgCopyIn.h"
#include "store/PgTransaction.h"
#include "store/StoreBatch.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"

#include <unistd.h>

namespace velmora {

namespace {

/// SQLSTATE of a row no partition takes.
constexpr const char* NO_PARTITION = "23514";

const char* const STAGING_SQL =
    "CREATE TEMP TABLE IF NOT EXISTS batch_vehicle_new (id uuid, name text, last_updated_time timestamptz) "
    "ON COMMIT DELETE ROWS;"
    "CREATE TEMP TABLE IF NOT EXISTS batch_vehicle_state (id uuid, fields integer, name text, "
    "last_updated_time timestamptz, latitude double precision, longitude double precision, company text, "
    "maker text, model text, registration text, driver text, license text, described boolean) "
    "ON COMMIT DELETE ROWS;";

const char* const PROGRESS_SQL =
    "INSERT INTO receiver_progress (receiver, last_batch, host) VALUES ($1, $2, $3) "
    "ON CONFLICT (receiver) DO UPDATE SET last_batch = EXCLUDED.last_batch, host = EXCLUDED.host, updated = now() "
    "WHERE receiver_progress.last_batch < $4 "
    "RETURNING pg_current_xact_id()::text::bigint";

const char* const INSERT_VEHICLES_SQL =
    "WITH made AS (INSERT INTO vehicle_info (id, name, last_updated_time) "
    "SELECT id, name, last_updated_time FROM batch_vehicle_new ON CONFLICT (id) DO NOTHING RETURNING id) "
    "INSERT INTO change_feed (kind, key, source) SELECT 'vehicle', id::text, $1 FROM made";

// A field the state does not name keeps its value; a vehicle the operator
// removed is left alone, as the console leaves it.
const char* const UPDATE_VEHICLES_SQL =
    "WITH changed AS (UPDATE vehicle_info v SET "
    "name = CASE WHEN s.fields & 1 <> 0 THEN s.name ELSE v.name END, "
    "last_updated_time = CASE WHEN s.fields & 2 <> 0 THEN s.last_updated_time ELSE v.last_updated_time END, "
    "last_updated_latitude = CASE WHEN s.fields & 4 <> 0 THEN s.latitude ELSE v.last_updated_latitude END, "
    "last_updated_longitude = CASE WHEN s.fields & 4 <> 0 THEN s.longitude ELSE v.last_updated_longitude END, "
    "company = CASE WHEN s.fields & 8 <> 0 THEN s.company ELSE v.company END, "
    "maker = CASE WHEN s.fields & 16 <> 0 THEN s.maker ELSE v.maker END, "
    "model = CASE WHEN s.fields & 32 <> 0 THEN s.model ELSE v.model END, "
    "registration = CASE WHEN s.fields & 64 <> 0 THEN s.registration ELSE v.registration END, "
    "driver = CASE WHEN s.fields & 128 <> 0 THEN s.driver ELSE v.driver END, "
    "license = CASE WHEN s.fields & 256 <> 0 THEN s.license ELSE v.license END "
    "FROM batch_vehicle_state s WHERE v.id = s.id AND NOT v.deleted RETURNING v.id, s.described) "
    "INSERT INTO change_feed (kind, key, source) SELECT 'vehicle', id::text, $1 FROM changed WHERE described";

// A new alarm, or a repeat counted on the vehicle's open alarm of the kind;
// a watch rule's lines go into the notes either way, each on a line of its own.
const char* const RAISE_SQL =
    "WITH raised AS (INSERT INTO alarm_info (event_id, vehicle_id, vehicle_name, event_type, priority, "
    "device_title, address, received, last_received, repeat_count, notes) "
    "VALUES ($1, $2, $3, $4, $5, $6, $7, to_timestamp($8), to_timestamp($9), $10, $13) "
    "ON CONFLICT (vehicle_id, event_type) WHERE closed IS NULL DO UPDATE SET "
    "repeat_count = alarm_info.repeat_count + $11, "
    "last_received = GREATEST(alarm_info.last_received, EXCLUDED.last_received), "
    "notes = CASE WHEN EXCLUDED.notes = '' THEN alarm_info.notes WHEN alarm_info.notes = '' THEN EXCLUDED.notes "
    "ELSE alarm_info.notes || E'\\n' || EXCLUDED.notes END RETURNING id) "
    "INSERT INTO change_feed (kind, key, source) SELECT 'alarm', id::text, $12 FROM raised";

// A watch rule's line on the vehicle's open alarm of the kind; nothing when
// a desk closed it meanwhile.
const char* const NOTE_SQL =
    "WITH noted AS (UPDATE alarm_info SET notes = CASE WHEN notes = '' THEN $3 ELSE notes || E'\\n' || $3 END "
    "WHERE vehicle_id = $1 AND event_type = $2 AND closed IS NULL RETURNING id) "
    "INSERT INTO change_feed (kind, key, source) SELECT 'alarm', id::text, $4 FROM noted";

std::string hostName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return host;
}

} // namespace

BatchWriter::BatchWriter(const UniqueID& receiver, const std::string& source)
    : m_receiver(receiver), m_source(source), m_host(hostName())
{
}

void BatchWriter::prepare(PgConnection& connection)
{
    connection.execute(STAGING_SQL);
    m_knownDays.clear();
}

void BatchWriter::ensureDays(PgConnection& connection, const StoreBatch& batch)
{
    std::vector<int64_t> missing;
    for (const int64_t day : batch.getFixDays()) {
        if (m_knownDays.count(day) == 0) {
            missing.push_back(day);
        }
    }
    if (!missing.empty()) {
        StoreSchema::ensureFixDays(connection, missing);
        m_knownDays.insert(missing.begin(), missing.end());
    }
}

BatchWriter::Result BatchWriter::write(PgConnection& connection, const StoreBatch& batch)
{
    ensureDays(connection, batch);
    try {
        return writeOnce(connection, batch);
    } catch (const StoreException& e) {
        if (e.getSqlState() != NO_PARTITION) {
            throw;
        }
        // A day dropped since it was made (retention, another receiver):
        // make it again and write once more.
        m_knownDays.clear();
        ensureDays(connection, batch);
        return writeOnce(connection, batch);
    }
}

BatchWriter::Result BatchWriter::writeOnce(PgConnection& connection, const StoreBatch& batch)
{
    Result result;
    PgTransaction transaction(connection);
    const PgResult progress =
        connection.query(PROGRESS_SQL, {m_receiver.toText(), static_cast<int64_t>(batch.number), m_host,
                                        static_cast<int64_t>(batch.getFirstNumber())});
    if (progress.getRowCount() == 0) {
        result.duplicate = true;
        return result;
    }
    // This transaction's number, written into the rows once rather than
    // worked out by the server for every row.
    const int64_t tx = progress.getInt64(0, 0);

    if (!batch.fixes.empty()) {
        // Binary: the server reads the times and ids as they are, the most
        // of its work on a fix spared.
        CopyBinary rows;
        rows.reserve(batch.fixes.size() * 140);
        for (const StoreBatch::Fix& fix : batch.fixes) {
            rows.row(5);
            rows.text(fix.sentence);
            rows.timeSeconds(fix.time);
            rows.uuid(fix.vehicle);
            rows.timeMicros(fix.received);
            rows.bigint(tx);
        }
        rows.finish();
        PgCopyIn copy(connection,
                      "COPY gps_data (gps_data, update_time, vehicle_id, received, tx) FROM STDIN (FORMAT binary)");
        copy.write(rows);
        result.fixes = copy.end();
    }

    // Events get their ids first, so an alarm can name the event it came from.
    std::vector<int64_t> eventIds;
    if (!batch.events.empty()) {
        const PgResult ids = connection.query(
            "SELECT nextval(pg_get_serial_sequence('event_info', 'id')) FROM generate_series(1, $1)",
            {static_cast<int64_t>(batch.events.size())});
        CopyText rows;
        for (size_t i = 0; i < batch.events.size(); ++i) {
            const StoreBatch::Event& event = batch.events[i];
            eventIds.push_back(ids.getInt64(static_cast<int>(i), 0));
            rows.integer(eventIds.back());
            rows.text(event.address);
            rows.text(event.name);
            rows.timeSeconds(event.time);
            rows.integer(event.kind);
            rows.text(event.title);
            rows.uuid(event.vehicle);
            rows.timeMicros(event.received);
            rows.integer(tx);
            rows.endRow();
        }
        PgCopyIn copy(connection, "COPY event_info (id, address, name, time, event_type, device_title, vehicle_id, "
                                  "received, tx) FROM STDIN");
        copy.write(rows);
        result.events = copy.end();
    }

    writeVehicles(connection, batch, result);
    writeAlarms(connection, batch, eventIds, result);

    ChangeFeed::notify(connection, "fixes=" + std::to_string(result.fixes) + " events=" +
                                       std::to_string(result.events) + " vehicles=" +
                                       std::to_string(result.newVehicles + result.vehicleChanges) +
                                       " alarms=" + std::to_string(result.alarms));
    transaction.commit();
    return result;
}

void BatchWriter::writeVehicles(PgConnection& connection, const StoreBatch& batch, Result& result)
{
    if (!batch.newVehicles.empty()) {
        CopyText rows;
        for (const StoreBatch::NewVehicle& vehicle : batch.newVehicles) {
            rows.uuid(vehicle.id);
            rows.text(vehicle.name);
            rows.timeSeconds(vehicle.time);
            rows.endRow();
        }
        PgCopyIn copy(connection, "COPY batch_vehicle_new (id, name, last_updated_time) FROM STDIN");
        copy.write(rows);
        copy.end();
        result.newVehicles = connection.query(INSERT_VEHICLES_SQL, {m_source}).getAffectedRows();
    }
    if (!batch.vehicles.empty()) {
        CopyText rows;
        for (const StoreBatch::VehicleState& state : batch.vehicles) {
            rows.uuid(state.id);
            rows.integer(state.fields);
            rows.text(state.name);
            rows.timeSeconds(state.time);
            // The six-decimal text the console stores, read as a number.
            rows.fixed6(state.latitude);
            rows.fixed6(state.longitude);
            for (const std::string& info : state.info) {
                rows.text(info);
            }
            rows.boolean(state.described);
            rows.endRow();
        }
        PgCopyIn copy(connection, "COPY batch_vehicle_state (id, fields, name, last_updated_time, latitude, "
                                  "longitude, company, maker, model, registration, driver, license, described) "
                                  "FROM STDIN");
        copy.write(rows);
        result.vehicleChanges = copy.end();
        connection.query(UPDATE_VEHICLES_SQL, {m_source});
    }
}

void BatchWriter::writeAlarms(PgConnection& connection, const StoreBatch& batch, const std::vector<int64_t>& eventIds,
                              Result& result)
{
    for (const StoreBatch::AlarmRaise& alarm : batch.alarms) {
        const PgConnection::Param eventId =
            alarm.event >= 0 && static_cast<size_t>(alarm.event) < eventIds.size()
                ? PgConnection::Param(eventIds[static_cast<size_t>(alarm.event)])
                : PgConnection::Param::null();
        connection.query(RAISE_SQL, {eventId, alarm.vehicle.toText(), alarm.vehicleName, alarm.kind, alarm.priority,
                                     alarm.title, alarm.address, alarm.first, alarm.last, alarm.count - 1,
                                     alarm.count, m_source, alarm.notes});
        ++result.alarms;
    }
    for (const StoreBatch::AlarmNote& note : batch.alarmNotes) {
        connection.query(NOTE_SQL, {note.vehicle.toText(), note.kind, note.text, m_source});
    }
}

} // namespace velmora
