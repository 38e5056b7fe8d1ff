#pragma once

#include "rules/Alarm.h"

#include <cstdint>
#include <string>

namespace velmora {

/// One row of the store's alarm_info: the alarm as the rules know it, the
/// event that raised it and the desks where it was acknowledged and closed.
struct StoredAlarm {
    Alarm alarm;
    int64_t eventId = 0;
    std::string acknowledgedDesk;
    std::string closedDesk;
};

} // namespace velmora
