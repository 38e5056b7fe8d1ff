#pragma once

#include "intake/VehicleAdmission.h"

#include <QString>

#include <cstdint>

namespace velmora {

class AbstractSetup;
class SetupDatabase;

/// The operator's rules for new vehicle ids as setup.db keeps them:
/// "setup/AdmissionMode" (0 open, 1 known vehicles only),
/// "setup/NewVehiclesPerMinute" and "setup/FleetLimit". The defaults are
/// sized for a fleet of 10,000: open, 60 new vehicles a minute from one
/// sender, 20,000 vehicles in all.
class AdmissionSettings {
public:
    static constexpr int32_t PER_MINUTE_MIN = 1;
    static constexpr int32_t PER_MINUTE_MAX = 10000;
    static constexpr int32_t FLEET_LIMIT_MIN = 1;
    static constexpr int32_t FLEET_LIMIT_MAX = 1000000;

    /// The stored rules; the defaults for what cannot be read or is out of
    /// range.
    static VehicleAdmission::Rules load(AbstractSetup& setup);
    /// Writes the rules; the caller holds the store's lock and transaction.
    static void store(SetupDatabase& database, const VehicleAdmission::Rules& rules);
    /// The operator's text for rules out of range; empty when they fit.
    static QString check(const VehicleAdmission::Rules& rules);
};

} // namespace velmora
