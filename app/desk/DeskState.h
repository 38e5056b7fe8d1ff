#pragma once

#include "store/DeskActions.h"
#include "store/FeedReader.h"
#include "store/SharedSettings.h"
#include "store/StoredAlarm.h"
#include "store/StoredVehicle.h"

#include <cstdint>
#include <vector>

namespace velmora {

/// Everything a desk shows, read in one snapshot of the store: the fleet
/// with its last positions, the open alarms, the shared settings, the ids
/// waiting for an answer, and the feed position that pairs with them.
struct DeskSnapshot {
    int64_t position = 0;
    std::vector<StoredVehicle> vehicles;
    std::vector<StoredAlarm> openAlarms;
    SharedSettings::Values settings;
    std::vector<DeskActions::Candidate> candidates;
};

/// What changed since the last position (FeedReader), with the settings
/// and the waiting ids read again when the feed said they changed.
struct DeskUpdate {
    FeedReader::Changes changes;
    bool hasSettings = false;
    SharedSettings::Values settings;
    bool hasCandidates = false;
    std::vector<DeskActions::Candidate> candidates;
};

} // namespace velmora
