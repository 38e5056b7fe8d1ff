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

std::string AlarmRecord::timeText(std::time_t utc) {
    if (utc == 0) {
        return {};
    }
    std::tm parts{};
    if (gmtime_r(&utc, &parts) == nullptr) {
        return {};
    }
    // Digits only: the text is the same in every locale.
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::time_t AlarmRecord::parseTime(const std::string& text) {
    std::tm parts{};
    char rest = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &rest) != 6) {
        return 0;
    }
    if (parts.tm_mon < 1 || parts.tm_mon > 12 || parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_hour > 23 ||
        parts.tm_min > 59 || parts.tm_sec > 60) {
        return 0;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return timegm(&parts);
}

} // namespace velmora
