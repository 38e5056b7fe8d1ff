#include "db/ZoneRecord.h"

#include "db/RowSet.h"

namespace velmora {

ZoneRecord::ZoneRecord() { setRecordKind(KIND_ZONE); }

void ZoneRecord::readRow(const RowSet& rows) {
    id = rows.getInt(0);
    name = textOf(rows, 1);
    shape = textOf(rows, 2);
    geometry = textOf(rows, 3);
    alarmOnEntry = rows.getInt(4);
    alarmOnExit = rows.getInt(5);
    dwellSeconds = rows.getInt(6);
    speedLimitKmh = rows.getInt(7);
}

void ZoneRecord::serializeFields(std::string& out) const {
    appendInt(out, id);
    appendText(out, name);
    appendText(out, shape);
    appendText(out, geometry);
    appendInt(out, alarmOnEntry);
    appendInt(out, alarmOnExit);
    appendInt(out, dwellSeconds);
    appendInt(out, speedLimitKmh);
}

bool ZoneRecord::deserializeFields(Reader& in) {
    return in.readInt(id) && in.readText(name) && in.readText(shape) && in.readText(geometry) &&
           in.readInt(alarmOnEntry) && in.readInt(alarmOnExit) && in.readInt(dwellSeconds) &&
           in.readInt(speedLimitKmh) && in.atEnd();
}

ZoneRecord ZoneRecord::of(const Zone& zone) {
    ZoneRecord r;
    r.id = zone.getId();
    r.name = zone.getName();
    r.shape = zone.shapeText();
    r.geometry = zone.geometryText();
    r.alarmOnEntry = zone.getAlarmOnEntry() ? 1 : 0;
    r.alarmOnExit = zone.getAlarmOnExit() ? 1 : 0;
    r.dwellSeconds = zone.getDwellSeconds();
    r.speedLimitKmh = zone.getSpeedLimitKmh();
    return r;
}

bool ZoneRecord::toZone(Zone& zone) const {
    Zone read;
    if (!Zone::parse(id, name, shape, geometry, read)) {
        return false;
    }
    read.setAlarmOnEntry(alarmOnEntry != 0);
    read.setAlarmOnExit(alarmOnExit != 0);
    read.setDwellSeconds(dwellSeconds);
    read.setSpeedLimitKmh(speedLimitKmh);
    zone = std::move(read);
    return true;
}

} // namespace velmora
