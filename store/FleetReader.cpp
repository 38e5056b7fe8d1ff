#include "store/FleetReader.h"

#include "store/PgConnection.h"
#include "store/StoreText.h"

#include <array>
#include <ctime>

namespace velmora {

namespace {

/// UTC seconds of a timestamptz column, NULL staying NULL.
#define VELMORA_SECONDS(column) "floor(extract(epoch FROM " column "))::bigint"
#define VELMORA_MICROS(column) "floor(extract(epoch FROM " column ") * 1000000)::bigint"

int64_t secondsAt(const PgResult& rows, int row, int column)
{
    return rows.isNull(row, column) ? StoreText::NO_TIME : rows.getInt64(row, column);
}

std::time_t alarmTimeAt(const PgResult& rows, int row, int column)
{
    // The rules count a step not taken as 0.
    return rows.isNull(row, column) ? 0 : static_cast<std::time_t>(rows.getInt64(row, column));
}

UniqueID idAt(const PgResult& rows, int row, int column)
{
    UniqueID id = UniqueID::fromBytes(std::array<uint8_t, 16>{}.data());
    UniqueID::parse(rows.getText(row, column), id);
    return id;
}

} // namespace

const char* const FleetReader::VEHICLE_COLUMNS =
    "id, name, edited_name, " VELMORA_SECONDS("last_updated_time") ", last_updated_latitude, "
    "last_updated_longitude, deleted, company, maker, model, registration, driver, license, info1, info2, image_path";

const char* const FleetReader::ALARM_COLUMNS =
    "id, event_id, vehicle_id, vehicle_name, event_type, priority, device_title, address, " VELMORA_SECONDS(
        "received") ", " VELMORA_SECONDS("last_received") ", repeat_count, " VELMORA_SECONDS("acknowledged") ", "
    "acknowledged_by, acknowledged_desk, " VELMORA_SECONDS("closed") ", closed_by, closed_desk, notes";

const char* const FleetReader::FIX_COLUMNS =
    "id, vehicle_id, gps_data, " VELMORA_SECONDS("update_time") ", " VELMORA_MICROS("received");

const char* const FleetReader::EVENT_COLUMNS =
    "id, vehicle_id, address, name, " VELMORA_SECONDS("time") ", event_type, device_title, " VELMORA_MICROS("received");

StoredVehicle FleetReader::vehicleAt(const PgResult& rows, int row)
{
    StoredVehicle v;
    v.id = idAt(rows, row, 0);
    v.name = rows.getString(row, 1);
    v.editedName = rows.getString(row, 2);
    v.lastUpdatedTime = secondsAt(rows, row, 3);
    v.hasPosition = !rows.isNull(row, 4) && !rows.isNull(row, 5);
    v.latitude = rows.getDouble(row, 4);
    v.longitude = rows.getDouble(row, 5);
    v.deleted = rows.getBool(row, 6);
    v.company = rows.getString(row, 7);
    v.maker = rows.getString(row, 8);
    v.model = rows.getString(row, 9);
    v.registration = rows.getString(row, 10);
    v.driver = rows.getString(row, 11);
    v.license = rows.getString(row, 12);
    v.info1 = rows.getString(row, 13);
    v.info2 = rows.getString(row, 14);
    v.imagePath = rows.getString(row, 15);
    return v;
}

StoredAlarm FleetReader::alarmAt(const PgResult& rows, int row)
{
    StoredAlarm stored;
    Alarm& a = stored.alarm;
    a.id = static_cast<int32_t>(rows.getInt64(row, 0));
    stored.eventId = rows.getInt64(row, 1);
    a.vehicle = idAt(rows, row, 2);
    a.vehicleName = rows.getString(row, 3);
    a.kind = static_cast<int32_t>(rows.getInt64(row, 4));
    a.priority = static_cast<int32_t>(rows.getInt64(row, 5));
    a.deviceTitle = rows.getString(row, 6);
    a.address = rows.getString(row, 7);
    a.received = alarmTimeAt(rows, row, 8);
    a.lastReceived = alarmTimeAt(rows, row, 9);
    a.repeats = static_cast<int32_t>(rows.getInt64(row, 10));
    a.acknowledged = alarmTimeAt(rows, row, 11);
    a.acknowledgedBy = rows.getString(row, 12);
    stored.acknowledgedDesk = rows.getString(row, 13);
    a.closed = alarmTimeAt(rows, row, 14);
    a.closedBy = rows.getString(row, 15);
    stored.closedDesk = rows.getString(row, 16);
    a.notes = rows.getString(row, 17);
    return stored;
}

StoredFix FleetReader::fixAt(const PgResult& rows, int row)
{
    StoredFix fix;
    fix.id = rows.getInt64(row, 0);
    fix.vehicle = idAt(rows, row, 1);
    fix.sentence = rows.getString(row, 2);
    fix.time = secondsAt(rows, row, 3);
    fix.received = rows.getInt64(row, 4);
    return fix;
}

StoredEvent FleetReader::eventAt(const PgResult& rows, int row)
{
    StoredEvent event;
    event.id = rows.getInt64(row, 0);
    event.vehicle = idAt(rows, row, 1);
    event.address = rows.getString(row, 2);
    event.name = rows.getString(row, 3);
    event.time = secondsAt(rows, row, 4);
    event.kind = static_cast<int32_t>(rows.getInt64(row, 5));
    event.title = rows.getString(row, 6);
    event.received = rows.getInt64(row, 7);
    return event;
}

std::string FleetReader::arrayText(const std::vector<UniqueID>& ids)
{
    std::string text = "{";
    for (const UniqueID& id : ids) {
        if (text.size() > 1) {
            text += ',';
        }
        text += id.toText();
    }
    return text + "}";
}

std::string FleetReader::arrayText(const std::vector<int64_t>& numbers)
{
    std::string text = "{";
    for (const int64_t number : numbers) {
        if (text.size() > 1) {
            text += ',';
        }
        text += std::to_string(number);
    }
    return text + "}";
}

std::vector<StoredVehicle> FleetReader::loadVehicles(PgConnection& connection)
{
    const PgResult rows =
        connection.execute(std::string("SELECT ") + VEHICLE_COLUMNS + " FROM vehicle_info ORDER BY id");
    std::vector<StoredVehicle> vehicles;
    vehicles.reserve(static_cast<size_t>(rows.getRowCount()));
    for (int row = 0; row < rows.getRowCount(); ++row) {
        vehicles.push_back(vehicleAt(rows, row));
    }
    return vehicles;
}

std::vector<StoredVehicle> FleetReader::loadVehicles(PgConnection& connection, const std::vector<UniqueID>& ids)
{
    const PgResult rows = connection.query(
        std::string("SELECT ") + VEHICLE_COLUMNS + " FROM vehicle_info WHERE id = ANY($1::uuid[]) ORDER BY id",
        {arrayText(ids)});
    std::vector<StoredVehicle> vehicles;
    for (int row = 0; row < rows.getRowCount(); ++row) {
        vehicles.push_back(vehicleAt(rows, row));
    }
    return vehicles;
}

std::vector<StoredFix> FleetReader::loadRecentFixes(PgConnection& connection, int seconds)
{
    // One probe of the (vehicle, received) index per vehicle: the cost
    // follows the fleet's size, not the rate of its fixes.
    const PgResult rows = connection.query(
        std::string("SELECT f.* FROM vehicle_info v CROSS JOIN LATERAL (SELECT ") + FIX_COLUMNS +
            " FROM gps_data g WHERE g.vehicle_id = v.id AND g.received > now() - make_interval(secs => $1::int)"
            " ORDER BY g.received DESC, g.id DESC LIMIT 1) f WHERE NOT v.deleted ORDER BY v.id",
        {std::to_string(seconds)});
    std::vector<StoredFix> fixes;
    fixes.reserve(static_cast<size_t>(rows.getRowCount()));
    for (int row = 0; row < rows.getRowCount(); ++row) {
        fixes.push_back(fixAt(rows, row));
    }
    return fixes;
}

std::vector<StoredAlarm> FleetReader::loadOpenAlarms(PgConnection& connection)
{
    const PgResult rows = connection.execute(std::string("SELECT ") + ALARM_COLUMNS +
                                             " FROM alarm_info WHERE closed IS NULL ORDER BY id");
    std::vector<StoredAlarm> alarms;
    for (int row = 0; row < rows.getRowCount(); ++row) {
        alarms.push_back(alarmAt(rows, row));
    }
    return alarms;
}

std::vector<StoredAlarm> FleetReader::loadAlarms(PgConnection& connection, const std::vector<int64_t>& ids)
{
    const PgResult rows = connection.query(
        std::string("SELECT ") + ALARM_COLUMNS + " FROM alarm_info WHERE id = ANY($1::bigint[]) ORDER BY id",
        {arrayText(ids)});
    std::vector<StoredAlarm> alarms;
    for (int row = 0; row < rows.getRowCount(); ++row) {
        alarms.push_back(alarmAt(rows, row));
    }
    return alarms;
}

std::vector<std::pair<UniqueID, std::string>> FleetReader::loadDecisions(PgConnection& connection)
{
    const PgResult rows = connection.execute("SELECT vehicle_id, decision FROM admission_decision");
    std::vector<std::pair<UniqueID, std::string>> decisions;
    for (int row = 0; row < rows.getRowCount(); ++row) {
        decisions.emplace_back(idAt(rows, row, 0), rows.getString(row, 1));
    }
    return decisions;
}

} // namespace velmora
