#pragma once

#include "db/AbstractDatabaseRecord.h"
#include "rules/Zone.h"

#include <cstdint>
#include <string>

namespace velmora {

/// One row of zone_info: a zone the operator drew, its outline as text
/// (Zone::geometryText, written the same in every locale) and what it
/// watches. The console numbers zones itself (id), as it does alarms, so a
/// zone can be changed before the writer has stored it.
///
/// An INSERT or UPDATE writes the whole row (INSERT OR REPLACE), so a zone
/// whose first store the queue refused is stored whole by its next change;
/// a DELETE removes the row of the id.
class ZoneRecord : public AbstractDatabaseRecord {
public:
    ZoneRecord();

    /// Columns: id, name, shape, geometry, alarm_on_entry, alarm_on_exit,
    /// dwell_seconds, speed_limit_kmh.
    void readRow(const RowSet& rows) override;
    bool deserializeFields(Reader& in) override;

    /// The stored row of a zone.
    static ZoneRecord of(const Zone& zone);
    /// The zone a stored row holds; false (zone untouched) when its shape
    /// or geometry is not a zone, as in a file edited by hand.
    bool toZone(Zone& zone) const;

    int32_t id = 0;
    std::string name;
    std::string shape;
    std::string geometry;
    int32_t alarmOnEntry = 1;
    int32_t alarmOnExit = 0;
    int32_t dwellSeconds = Zone::DWELL_DEFAULT;
    int32_t speedLimitKmh = 0;

protected:
    void serializeFields(std::string& out) const override;
};

} // namespace velmora
