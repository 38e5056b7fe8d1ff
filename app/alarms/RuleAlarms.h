#pragma once

#include "rules/AlarmRequest.h"
#include "rules/GeoPoint.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>

namespace velmora {

class AlarmPanel;
class VehicleInfoContainer;

/// Hands the watch rules' requests to the alarm queue as the console's own
/// alarms: a RAISE is first logged in event_info under the rule's kind
/// (title the rule's, no address), so the event log shows it whether or not
/// the kind is an alarm and the alarm's row names its event; then the queue
/// raises or counts it. A NOTE goes to the vehicle's open alarm of its kind.
///
/// It remembers where and when each alarm it reached was decided (the
/// deciding fix, or the last fix known for Silent), for "Track". Removed
/// and deleted vehicles raise nothing (the rules forget them anyway).
/// GUI thread.
class RuleAlarms {
public:
    /// Places kept; the oldest go first beyond it.
    static constexpr size_t PLACES_MAX = 20000;

    struct Place {
        std::time_t time = 0;
        bool hasPosition = false;
        GeoPoint position;
    };

    /// The collaborators outlive this.
    RuleAlarms(AlarmPanel& panel, VehicleInfoContainer& vehicles);

    /// One request of the rules.
    void take(const AlarmRequest& request);
    /// Where and when the alarm was decided; none for an alarm it did not
    /// reach (a device's, or one raised before the console started).
    std::optional<Place> placeOf(int32_t alarmId) const;

private:
    AlarmPanel& m_panel;
    VehicleInfoContainer& m_vehicles;
    std::map<int32_t, Place> m_places;
};

} // namespace velmora
