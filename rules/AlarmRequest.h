#pragma once

#include "rules/GeoPoint.h"
#include "foundation/UniqueID.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace velmora {

/// What a watch rule asks of the alarm queue: raise an alarm of kind for
/// the vehicle (RAISE), or add a line to the vehicle's open alarm of kind
/// (NOTE: "heard again at ...", "speeding ended ..."). Plain data, no Qt
/// and no storage; the console and the headless receiver each hand it to
/// their AlarmBook. Texts are UTF-8; numbers in them are written the same
/// in every locale.
struct AlarmRequest {
    enum Step { RAISE, NOTE };
    static constexpr uint8_t NO_VEHICLE[16] = {};

    Step step = RAISE;
    UniqueID vehicle = UniqueID::fromBytes(NO_VEHICLE);
    int32_t kind = 0;
    /// When the rule decided: the fix's time, or the check's for Silent.
    std::time_t time = 0;
    /// When what it reports began: last heard (Silent), the first fix
    /// inside or outside (zones), the first fix above the limit (speeding).
    std::time_t since = 0;
    /// The place of the deciding fix, or the last fix known (Silent).
    bool hasPosition = false;
    GeoPoint position;
    /// The zone of a zone alarm, or the zone whose limit a speeding
    /// episode broke; 0 for none.
    int32_t zoneId = 0;
    std::string zoneName;
    /// Speeding: the peak so far (RAISE) or of the episode (NOTE), and the
    /// limit in force when it started.
    double speedKmh = 0;
    double limitKmh = 0;
    /// The episode's length (speeding NOTE) or the silence's (Silent NOTE).
    int64_t durationSeconds = 0;
    /// The episode's distance along its fixes (speeding NOTE).
    double distanceMetres = 0;
    /// RAISE: the alarm's title, for the queue's title column.
    std::string title;
    /// RAISE: the alarm's first note; NOTE: the line to add.
    std::string text;
};

} // namespace velmora
