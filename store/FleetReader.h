#pragma once

#include "foundation/UniqueID.h"
#include "store/StoredAlarm.h"
#include "store/StoredEvent.h"
#include "store/StoredFix.h"
#include "store/StoredVehicle.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

class PgConnection;
class PgResult;

/// Reads the fleet's current state from the store: vehicles, alarms and
/// the desks' admission answers. Each call is one query on the caller's
/// connection (inside the caller's transaction when one is open, so a load
/// and FeedReader::currentPosition can share one snapshot). Throws
/// StoreException.
class FleetReader {
public:
    /// The select lists the rows below are read from, for other readers.
    static const char* const VEHICLE_COLUMNS;
    static const char* const ALARM_COLUMNS;
    static const char* const FIX_COLUMNS;
    static const char* const EVENT_COLUMNS;

    /// Every vehicle, removed ones too, in id order.
    static std::vector<StoredVehicle> loadVehicles(PgConnection& connection);
    /// The vehicles of ids that still exist.
    static std::vector<StoredVehicle> loadVehicles(PgConnection& connection, const std::vector<UniqueID>& ids);
    /// The alarms not closed, in id order.
    static std::vector<StoredAlarm> loadOpenAlarms(PgConnection& connection);
    /// The alarms of ids that exist.
    static std::vector<StoredAlarm> loadAlarms(PgConnection& connection, const std::vector<int64_t>& ids);
    /// Each vehicle's newest fix received in the last seconds (by the
    /// store's clock), in vehicle order. A vehicle's row takes its position
    /// a few seconds after the fix (the receiver writes positions in
    /// shares), so a reader that loads the rows needs these as well to show
    /// where the vehicles are now.
    static std::vector<StoredFix> loadRecentFixes(PgConnection& connection, int seconds);
    /// The desks' answers to new vehicle ids: id and "admit" or "ignore".
    static std::vector<std::pair<UniqueID, std::string>> loadDecisions(PgConnection& connection);

    /// One row of a result read with the matching select list.
    static StoredVehicle vehicleAt(const PgResult& rows, int row);
    static StoredAlarm alarmAt(const PgResult& rows, int row);
    static StoredFix fixAt(const PgResult& rows, int row);
    static StoredEvent eventAt(const PgResult& rows, int row);

    /// '{a,b,...}', the text of an array parameter.
    static std::string arrayText(const std::vector<UniqueID>& ids);
    static std::string arrayText(const std::vector<int64_t>& numbers);
};

} // namespace velmora
