#include "store/ZoneTable.h"

#include "foundation/Trace.h"
#include "store/ChangeFeed.h"
#include "store/PgConnection.h"
#include "store/PgTransaction.h"

namespace velmora {

std::vector<Zone> ZoneTable::load(PgConnection& connection)
{
    const PgResult rows =
        connection.execute("SELECT id, name, shape, geometry, alarm_on_entry, alarm_on_exit, dwell_seconds, "
                           "speed_limit_kmh FROM zone_info ORDER BY id");
    std::vector<Zone> zones;
    zones.reserve(static_cast<size_t>(rows.getRowCount()));
    for (int row = 0; row < rows.getRowCount(); ++row) {
        const auto id = static_cast<int32_t>(rows.getInt64(row, 0));
        Zone zone;
        if (!Zone::parse(id, rows.getString(row, 1), rows.getString(row, 2), rows.getString(row, 3), zone)) {
            trace("ZoneTable: zone %d has no outline the rules can use", id);
            continue;
        }
        zone.setAlarmOnEntry(rows.getBool(row, 4));
        zone.setAlarmOnExit(rows.getBool(row, 5));
        zone.setDwellSeconds(static_cast<int32_t>(rows.getInt64(row, 6)));
        zone.setSpeedLimitKmh(static_cast<int32_t>(rows.getInt64(row, 7)));
        zones.push_back(std::move(zone));
    }
    return zones;
}

void ZoneTable::store(PgConnection& connection, const Zone& zone, const std::string& changedBy)
{
    PgTransaction transaction(connection);
    connection.query(
        "INSERT INTO zone_info (id, name, shape, geometry, alarm_on_entry, alarm_on_exit, dwell_seconds, "
        "speed_limit_kmh, changed_by) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) ON CONFLICT (id) DO UPDATE SET "
        "name = EXCLUDED.name, shape = EXCLUDED.shape, geometry = EXCLUDED.geometry, "
        "alarm_on_entry = EXCLUDED.alarm_on_entry, alarm_on_exit = EXCLUDED.alarm_on_exit, "
        "dwell_seconds = EXCLUDED.dwell_seconds, speed_limit_kmh = EXCLUDED.speed_limit_kmh, changed = now(), "
        "changed_by = EXCLUDED.changed_by",
        {zone.getId(), zone.getName(), zone.shapeText(), zone.geometryText(),
         zone.getAlarmOnEntry() ? "true" : "false", zone.getAlarmOnExit() ? "true" : "false", zone.getDwellSeconds(),
         zone.getSpeedLimitKmh(), changedBy});
    ChangeFeed::append(connection, ChangeFeed::ZONE, std::to_string(zone.getId()), changedBy);
    ChangeFeed::notify(connection, "zone");
    transaction.commit();
}

Zone ZoneTable::add(PgConnection& connection, const Zone& zone, const std::string& changedBy)
{
    PgTransaction transaction(connection);
    // Readers (the receiver, desks loading) are not held up by this lock;
    // a second writer waits until the first has committed its id.
    connection.execute("LOCK TABLE zone_info IN SHARE ROW EXCLUSIVE MODE");
    const PgResult made = connection.query(
        "INSERT INTO zone_info (id, name, shape, geometry, alarm_on_entry, alarm_on_exit, dwell_seconds, "
        "speed_limit_kmh, changed_by) SELECT next.id, CASE WHEN $1::text = '' THEN 'Zone ' || next.id ELSE "
        "$1::text END, $2::text, $3::text, $4::boolean, $5::boolean, $6::integer, $7::integer, $8::text "
        "FROM (SELECT COALESCE(MAX(id), 0) + 1 AS id FROM zone_info) AS next "
        "RETURNING id, name",
        {zone.getName(), zone.shapeText(), zone.geometryText(), zone.getAlarmOnEntry() ? "true" : "false",
         zone.getAlarmOnExit() ? "true" : "false", zone.getDwellSeconds(), zone.getSpeedLimitKmh(), changedBy});
    Zone stored = zone;
    stored.setId(static_cast<int32_t>(made.getInt64(0, 0)));
    stored.setName(made.getString(0, 1));
    ChangeFeed::append(connection, ChangeFeed::ZONE, std::to_string(stored.getId()), changedBy);
    ChangeFeed::notify(connection, "zone");
    transaction.commit();
    return stored;
}

bool ZoneTable::update(PgConnection& connection, const Zone& zone, const std::string& changedBy)
{
    PgTransaction transaction(connection);
    const PgResult changed = connection.query(
        "UPDATE zone_info SET name = $2, shape = $3, geometry = $4, alarm_on_entry = $5, alarm_on_exit = $6, "
        "dwell_seconds = $7, speed_limit_kmh = $8, changed = now(), changed_by = $9 WHERE id = $1",
        {zone.getId(), zone.getName(), zone.shapeText(), zone.geometryText(),
         zone.getAlarmOnEntry() ? "true" : "false", zone.getAlarmOnExit() ? "true" : "false", zone.getDwellSeconds(),
         zone.getSpeedLimitKmh(), changedBy});
    if (changed.getAffectedRows() == 0) {
        return false;
    }
    ChangeFeed::append(connection, ChangeFeed::ZONE, std::to_string(zone.getId()), changedBy);
    ChangeFeed::notify(connection, "zone");
    transaction.commit();
    return true;
}

bool ZoneTable::remove(PgConnection& connection, int32_t id, const std::string& changedBy)
{
    PgTransaction transaction(connection);
    const PgResult gone = connection.query("DELETE FROM zone_info WHERE id = $1", {id});
    if (gone.getAffectedRows() == 0) {
        return false;
    }
    ChangeFeed::append(connection, ChangeFeed::ZONE, std::to_string(id), changedBy);
    ChangeFeed::notify(connection, "zone");
    transaction.commit();
    return true;
}

} // namespace velmora
