#include "db/AlarmRecord.h"

#include "db/RowSet.h"

#include <cstdio>

namespace velmora {

AlarmRecord::AlarmRecord() : vehicleId(nullId()) { setRecordKind(KIND_ALARM); }

void AlarmRecord::readRow(const RowSet& rows) {
    id = rows.getInt(0);
    eventId = rows.getInt(1);
    vehicleId = idFromText(rows.getText(2));
    vehicleName = textOf(rows, 3);
    eventType = rows.getInt(4);
    priority = rows.getInt(5);
    deviceTitle = textOf(rows, 6);
    address = textOf(rows, 7);
    received = textOf(rows, 8);
    lastReceived = textOf(rows, 9);
    repeatCount = rows.getInt(10);
    acknowledged = textOf(rows, 11);
    acknowledgedBy = textOf(rows, 12);
    closed = textOf(rows, 13);
    closedBy = textOf(rows, 14);
    notes = textOf(rows, 15);
}

void AlarmRecord::serializeFields(std::string& out) const {
    appendInt(out, id);
    appendId(out, vehicleId);
    appendText(out, vehicleName);
    appendInt(out, eventType);
    appendInt(out, priority);
    appendText(out, deviceTitle);
    appendText(out, address);
    appendText(out, received);
    appendText(out, lastReceived);
    appendInt(out, repeatCount);
    appendText(out, acknowledged);
    appendText(out, acknowledgedBy);
    appendText(out, closed);
    appendText(out, closedBy);
    appendText(out, notes);
}

bool AlarmRecord::deserializeFields(Reader& in) {
    return in.readInt(id) && in.readId(vehicleId) && in.readText(vehicleName) && in.readInt(eventType) &&
           in.readInt(priority) && in.readText(deviceTitle) && in.readText(address) && in.readText(received) &&
           in.readText(lastReceived) && in.readInt(repeatCount) && in.readText(acknowledged) &&
           in.readText(acknowledgedBy) && in.readText(closed) && in.readText(closedBy) && in.readText(notes) &&
           in.atEnd();
}

std::string AlarmRecord::timeText(std::time_t utc) { return Alarm::timeText(utc); }

std::time_t AlarmRecord::parseTime(const std::string& text) { return Alarm::parseTime(text); }

AlarmRecord AlarmRecord::of(const Alarm& alarm) {
    AlarmRecord r;
    r.id = alarm.id;
    r.vehicleId = alarm.vehicle;
    r.vehicleName = alarm.vehicleName;
    r.eventType = alarm.kind;
    r.priority = alarm.priority;
    r.deviceTitle = alarm.deviceTitle;
    r.address = alarm.address;
    r.received = AlarmRecord::timeText(alarm.received);
    r.lastReceived = AlarmRecord::timeText(alarm.lastReceived);
    r.repeatCount = alarm.repeats;
    r.acknowledged = AlarmRecord::timeText(alarm.acknowledged);
    r.acknowledgedBy = alarm.acknowledgedBy;
    r.closed = AlarmRecord::timeText(alarm.closed);
    r.closedBy = alarm.closedBy;
    r.notes = alarm.notes;
    return r;
}

Alarm AlarmRecord::toAlarm() const {
    const AlarmRecord& r = *this;
    Alarm a;
    a.id = r.id;
    a.vehicle = r.vehicleId;
    a.vehicleName = r.vehicleName;
    a.kind = r.eventType;
    a.priority = r.priority;
    a.deviceTitle = r.deviceTitle;
    a.address = r.address;
    a.received = AlarmRecord::parseTime(r.received);
    a.lastReceived = AlarmRecord::parseTime(r.lastReceived);
    a.repeats = r.repeatCount;
    a.acknowledged = AlarmRecord::parseTime(r.acknowledged);
    a.acknowledgedBy = r.acknowledgedBy;
    a.closed = AlarmRecord::parseTime(r.closed);
    a.closedBy = r.closedBy;
    a.notes = r.notes;
    return a;
}

} // namespace velmora
