#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace velmora {

/// One alarm as the queue holds it. Times are UTC seconds; 0 is a step not
/// taken yet.
struct Alarm {
    int32_t id = 0;
    UniqueID vehicle;
    std::string vehicleName;
    int32_t kind = 0;
    int32_t priority = 0;
    std::string deviceTitle;
    std::string address;
    std::time_t received = 0;
    std::time_t lastReceived = 0;
    int32_t repeats = 0;
    std::time_t acknowledged = 0;
    std::string acknowledgedBy;
    std::time_t closed = 0;
    std::string closedBy;
    std::string notes;
    /// Raised by a vehicle that admitted itself and nobody reviewed.
    bool unreviewed = false;
    /// A sender's folded alarms (no vehicle, AlarmBook::FOLDED_KIND): how
    /// many alarms and vehicles the row stands for; 0 for an alarm of one
    /// vehicle. A fold read back at start-up knows its alarms only.
    int32_t foldedAlarms = 0;
    int32_t foldedVehicles = 0;

    bool isAcknowledged() const { return acknowledged != 0; }
    bool isFold() const { return foldedAlarms > 0; }

    /// The stored and shown form of a time, "2026-12-09 18:05:09" in UTC;
    /// "" for 0.
    static std::string timeText(std::time_t utc);
    /// The time of such a text; 0 for "" or a text that is not one.
    static std::time_t parseTime(const std::string& text);
};

} // namespace velmora
