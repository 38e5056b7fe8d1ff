#pragma once

#include "foundation/UniqueID.h"
#include "receiver/ReceiverIntake.h"
#include "store/SharedSettings.h"
#include "store/StoredAlarm.h"
#include "store/StoredVehicle.h"
#include "rules/Zone.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

/// What the writing thread learns from the store, handed to the parts of
/// the receiver that keep a copy; called on the writing thread.
class StoreWriterDelegate {
public:
    /// The store's state as loaded after a connect (or when the feed asks
    /// for a reload).
    struct Snapshot {
        std::vector<StoredVehicle> vehicles;
        std::vector<StoredAlarm> openAlarms;
        SharedSettings::Values settings;
        std::vector<std::pair<UniqueID, std::string>> decisions;
        /// The watch rules' zones.
        std::vector<Zone> zones;
    };

    virtual ~StoreWriterDelegate() = default;
    virtual void onStoreLoaded(const Snapshot& snapshot) = 0;
    /// Vehicles another program changed, and vehicles deleted for good.
    virtual void onVehiclesChanged(const std::vector<StoredVehicle>& changed, const std::vector<UniqueID>& deleted) = 0;
    /// The open alarms, after another program changed some.
    virtual void onOpenAlarms(const std::vector<StoredAlarm>& open) = 0;
    virtual void onSettings(const SharedSettings::Values& settings) = 0;
    /// Every zone, after a desk changed some.
    virtual void onZones(const std::vector<Zone>& zones) = 0;
    /// Desks admitted ("admit") or ignored ("ignore") these ids.
    virtual void onDecisions(const std::vector<std::pair<UniqueID, std::string>>& decisions) = 0;
    /// The batch of number is in the store (written now, or found written).
    virtual void onBatchStored(uint64_t number) = 0;
    /// The refused ids that keep sending, to publish for the desks.
    virtual std::vector<ReceiverIntake::Candidate> getCandidates() = 0;
};

} // namespace velmora
