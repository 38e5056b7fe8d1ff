#pragma once

#include "store/DeskActions.h"
#include "store/FeedReader.h"
#include "store/SharedSettings.h"
#include "store/StoredAlarm.h"
#include "store/StoredFix.h"
#include "store/StoredVehicle.h"
#include "rules/Zone.h"

#include <cstdint>
#include <vector>

namespace velmora {

/// Everything a desk shows, read in one snapshot of the store: the fleet
/// with its last positions, the open alarms, the shared settings, the ids
/// waiting for an answer, the zones of the watch rules, and the feed position that pairs with them.
struct DeskSnapshot {
    int64_t position = 0;
    std::vector<StoredVehicle> vehicles;
    /// The vehicles' newest fixes of the last minute, newer than the
    /// positions their rows hold yet.
    std::vector<StoredFix> recentFixes;
    std::vector<StoredAlarm> openAlarms;
    SharedSettings::Values settings;
    std::vector<DeskActions::Candidate> candidates;
    std::vector<Zone> zones;
};

/// What changed since the last position (FeedReader), with the settings
/// the waiting ids and the zones read again when the feed said they changed.
struct DeskUpdate {
    FeedReader::Changes changes;
    bool hasSettings = false;
    SharedSettings::Values settings;
    bool hasCandidates = false;
    std::vector<DeskActions::Candidate> candidates;
    /// Every zone again, when the feed said one changed.
    bool hasZones = false;
    std::vector<Zone> zones;
};

} // namespace velmora
