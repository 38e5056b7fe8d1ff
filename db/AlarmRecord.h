#pragma once

#include "db/AbstractDatabaseRecord.h"
#include "rules/Alarm.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace velmora {

/// One row of alarm_info: an event the operator must handle, its owner and
/// what was done with it. The console numbers alarms itself (id), so an
/// alarm can be changed before the writer has stored it.
///
/// Times are the console's clock in UTC, "2026-12-09 18:05:09"; an empty
/// text is a step not taken yet (stored as NULL). Texts are kept whole: the
/// alarm book bounds them before they get here.
///
/// An INSERT stores the alarm with the id of the event it came from, looked
/// up when the writer runs: the newest event_info row of the same vehicle
/// and kind, which the event logged just before the alarm is. An UPDATE
/// writes the lifecycle columns (priority, repeats, acknowledgement, close,
/// notes): a sender's folded alarms rise to the most urgent they hold.
class AlarmRecord : public AbstractDatabaseRecord {
public:
    AlarmRecord();

    /// Columns: id, event_id, vehicle_id, vehicle_name, event_type,
    /// priority, device_title, address, received, last_received,
    /// repeat_count, acknowledged, acknowledged_by, closed, closed_by, notes.
    void readRow(const RowSet& rows) override;
    bool deserializeFields(Reader& in) override;

    /// The stored row of an alarm, and the alarm a stored row holds.
    static AlarmRecord of(const Alarm& alarm);
    Alarm toAlarm() const;

    /// The stored form of a time; "" for 0.
    static std::string timeText(std::time_t utc);
    /// The time of a stored text; 0 for "" or a text that is not one.
    static std::time_t parseTime(const std::string& text);

    int32_t id = 0;
    int32_t eventId = 0;
    UniqueID vehicleId;
    std::string vehicleName;
    int32_t eventType = 0;
    int32_t priority = 0;
    std::string deviceTitle;
    std::string address;
    std::string received;
    std::string lastReceived;
    int32_t repeatCount = 0;
    std::string acknowledged;
    std::string acknowledgedBy;
    std::string closed;
    std::string closedBy;
    std::string notes;

protected:
    void serializeFields(std::string& out) const override;
};

} // namespace velmora
