#include "store/FeedReader.h"

#include "store/ChangeFeed.h"
#include "store/FleetReader.h"
#include "store/PgConnection.h"
#include "store/PgTransaction.h"

#include <algorithm>
#include <set>

namespace velmora {

namespace {

const char* const HORIZON_SQL = "SELECT pg_snapshot_xmin(pg_current_snapshot())::text::bigint";

} // namespace

int64_t FeedReader::currentPosition(PgConnection& connection)
{
    return connection.execute(HORIZON_SQL).getInt64(0, 0);
}

FeedReader::Changes FeedReader::read(PgConnection& connection, int64_t from, const Options& options)
{
    Changes changes;
    // One snapshot for the bound and every row read below it.
    PgTransaction transaction(connection, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    const PgResult bounds = connection.execute(
        std::string("SELECT pg_snapshot_xmin(pg_current_snapshot())::text::bigint, pruned_below FROM feed_state"));
    const int64_t below = std::max(from, bounds.getInt64(0, 0));
    changes.next = below;
    changes.reloadNeeded = from < bounds.getInt64(0, 1);
    if (below == from) {
        transaction.commit();
        return changes;
    }
    const std::vector<PgConnection::Param> range = {from, below};

    const PgResult entries = connection.query(
        "SELECT seq, kind, key, source FROM change_feed WHERE tx >= $1 AND tx < $2 ORDER BY seq", range);
    std::set<UniqueID> vehicleIds;
    std::set<UniqueID> deleted;
    std::set<int64_t> alarmIds;
    std::set<UniqueID> decided;
    for (int row = 0; row < entries.getRowCount(); ++row) {
        Entry entry{entries.getInt64(row, 0), entries.getString(row, 1), entries.getString(row, 2),
                    entries.getString(row, 3)};
        UniqueID id;
        if (entry.kind == ChangeFeed::VEHICLE && UniqueID::parse(entry.key.c_str(), id)) {
            vehicleIds.insert(id);
        } else if (entry.kind == ChangeFeed::VEHICLE_DELETED && UniqueID::parse(entry.key.c_str(), id)) {
            deleted.insert(id);
        } else if (entry.kind == ChangeFeed::ALARM) {
            alarmIds.insert(std::strtoll(entry.key.c_str(), nullptr, 10));
        } else if (entry.kind == ChangeFeed::ADMISSION && UniqueID::parse(entry.key.c_str(), id)) {
            decided.insert(id);
        } else if (entry.kind == ChangeFeed::SETTING) {
            changes.settingsChanged = true;
        } else if (entry.kind == ChangeFeed::FLEET) {
            changes.fleetChanged = true;
        }
        changes.entries.push_back(std::move(entry));
    }
    if (!vehicleIds.empty()) {
        changes.vehicles =
            FleetReader::loadVehicles(connection, std::vector<UniqueID>(vehicleIds.begin(), vehicleIds.end()));
        // A vehicle named but gone was deleted after the change.
        for (const StoredVehicle& vehicle : changes.vehicles) {
            vehicleIds.erase(vehicle.id);
        }
        deleted.insert(vehicleIds.begin(), vehicleIds.end());
    }
    changes.deletedVehicles.assign(deleted.begin(), deleted.end());
    if (!alarmIds.empty()) {
        changes.alarms = FleetReader::loadAlarms(connection, std::vector<int64_t>(alarmIds.begin(), alarmIds.end()));
    }
    if (!decided.empty()) {
        const PgResult rows =
            connection.query("SELECT vehicle_id, decision FROM admission_decision WHERE vehicle_id = ANY($1::uuid[])",
                             {FleetReader::arrayText(std::vector<UniqueID>(decided.begin(), decided.end()))});
        for (int row = 0; row < rows.getRowCount(); ++row) {
            UniqueID id;
            if (UniqueID::parse(rows.getText(row, 0), id)) {
                changes.decisions.emplace_back(id, rows.getString(row, 1));
            }
        }
    }

    if (options.fixes) {
        const std::string columns = FleetReader::FIX_COLUMNS;
        const PgResult fixes =
            options.newestFixPerVehicle
                ? connection.query("SELECT DISTINCT ON (vehicle_id) " + columns +
                                       " FROM gps_data WHERE tx >= $1 AND tx < $2 ORDER BY vehicle_id, id DESC",
                                   range)
                : connection.query("SELECT " + columns + " FROM gps_data WHERE tx >= $1 AND tx < $2 ORDER BY id LIMIT " +
                                       std::to_string(options.maxFixes),
                                   range);
        changes.fixes.reserve(static_cast<size_t>(fixes.getRowCount()));
        for (int row = 0; row < fixes.getRowCount(); ++row) {
            changes.fixes.push_back(FleetReader::fixAt(fixes, row));
        }
        if (!options.newestFixPerVehicle && changes.fixes.size() == options.maxFixes) {
            const PgResult count = connection.query("SELECT COUNT(*) FROM gps_data WHERE tx >= $1 AND tx < $2", range);
            changes.fixesLeftOut = static_cast<size_t>(count.getInt64(0, 0)) - changes.fixes.size();
        }
    }
    if (options.events) {
        const PgResult count =
            connection.query("SELECT COUNT(*) FROM event_info WHERE tx >= $1 AND tx < $2", range);
        const auto total = static_cast<size_t>(count.getInt64(0, 0));
        const PgResult events = connection.query(std::string("SELECT ") + FleetReader::EVENT_COLUMNS +
                                                     " FROM event_info WHERE tx >= $1 AND tx < $2 ORDER BY id DESC "
                                                     "LIMIT " +
                                                     std::to_string(options.maxEvents),
                                                 range);
        for (int row = events.getRowCount() - 1; row >= 0; --row) {
            changes.events.push_back(FleetReader::eventAt(events, row));
        }
        changes.eventsLeftOut = total > changes.events.size() ? total - changes.events.size() : 0;
    }
    transaction.commit();
    return changes;
}

} // namespace velmora
