#pragma once

#include "foundation/UniqueID.h"
#include "rules/WatchSettings.h"

#include <QString>

#include <cstdint>
#include <map>
#include <string>

namespace velmora {

class AbstractSetup;
class SetupDatabase;

/// The watch rules' settings as setup.db keeps them: "setup/SilentMinutes"
/// (default 10, 0 never), "setup/SpeedLimitKmh" (default 0, no limit
/// outside zones of their own) and "setup/SpeedingSeconds" (default 10), and
/// a vehicle's own silent minutes under "setup/VehicleSilentMinutes/<id>"
/// (app.db's tables stay as they are). The keys are those the control
/// room's store shares under the same names.
class RuleSettings {
public:
    static constexpr const char* KEY_SILENT_MINUTES = "setup/SilentMinutes";
    static constexpr const char* KEY_SPEED_LIMIT = "setup/SpeedLimitKmh";
    static constexpr const char* KEY_SPEEDING_SECONDS = "setup/SpeedingSeconds";
    static constexpr const char* KEY_VEHICLE_SILENT_PREFIX = "setup/VehicleSilentMinutes/";

    /// The stored settings; the default for what cannot be read or is out
    /// of range.
    static WatchSettings load(AbstractSetup& setup);
    /// Writes the settings; the caller holds the store's lock and transaction.
    static void store(SetupDatabase& database, const WatchSettings& settings);
    /// The operator's text for settings out of range; empty when they fit.
    static QString check(const WatchSettings& settings);

    /// Every vehicle's own silent minutes (0 never); a key or value that
    /// is not one is left out. Empty when the store cannot be read.
    static std::map<UniqueID, int32_t> loadVehicleSilentMinutes(AbstractSetup& setup);
    /// The vehicle's own silent minutes; -1 when it has none.
    static int32_t vehicleSilentMinutes(AbstractSetup& setup, const UniqueID& vehicle);
    /// Stores the vehicle's own silent minutes, or (minutes < 0) drops them,
    /// in a transaction of its own. Throws DatabaseException.
    static void storeVehicleSilentMinutes(AbstractSetup& setup, const UniqueID& vehicle, int32_t minutes);
    static std::string vehicleKey(const UniqueID& vehicle);
};

} // namespace velmora
