#pragma once

#include "foundation/UniqueID.h"
#include "rules/AlarmBook.h"
#include "rules/WatchSettings.h"

#include <cstdint>
#include <map>
#include <string>

namespace velmora {

class PgConnection;

/// The settings every desk and receiver of a store shares, in the store's
/// shared_setting table under the keys setup.db uses for the same settings
/// ("setup/AdmissionMode", "setup/AlarmPriority/13", ...). A value that is
/// missing, unreadable or out of range reads as its default, as in setup.db.
class SharedSettings {
public:
    static constexpr const char* KEY_ADMISSION_MODE = "setup/AdmissionMode";
    static constexpr const char* KEY_NEW_PER_MINUTE = "setup/NewVehiclesPerMinute";
    static constexpr const char* KEY_FLEET_LIMIT = "setup/FleetLimit";
    static constexpr const char* KEY_ALARM_PRIORITY_PREFIX = "setup/AlarmPriority/";
    /// Days of fixes kept (whole days of gps_data); 0 keeps every day.
    static constexpr const char* KEY_FIX_RETENTION_DAYS = "store/FixRetentionDays";
    /// The watch rules' settings (WatchSettings), and a vehicle's own
    /// silent minutes under the prefix followed by its id.
    static constexpr const char* KEY_SILENT_MINUTES = "setup/SilentMinutes";
    static constexpr const char* KEY_SPEED_LIMIT = "setup/SpeedLimitKmh";
    static constexpr const char* KEY_SPEEDING_SECONDS = "setup/SpeedingSeconds";
    static constexpr const char* KEY_VEHICLE_SILENT_PREFIX = "setup/VehicleSilentMinutes/";

    /// The rules for new vehicle ids (the admission's rules, kept here so
    /// the store does not depend on how the intake applies them).
    struct Admission {
        bool knownOnly = false;
        int32_t newPerMinute = 60;
        int32_t fleetLimit = 20000;
        bool operator==(const Admission& other) const
        {
            return knownOnly == other.knownOnly && newPerMinute == other.newPerMinute &&
                   fleetLimit == other.fleetLimit;
        }
    };
    static constexpr int32_t PER_MINUTE_MIN = 1;
    static constexpr int32_t PER_MINUTE_MAX = 10000;
    static constexpr int32_t FLEET_LIMIT_MIN = 1;
    static constexpr int32_t FLEET_LIMIT_MAX = 1000000;
    static constexpr int32_t RETENTION_MAX_DAYS = 36500;
    /// Event kinds an alarm priority can be set for (0 to 13).
    static constexpr int32_t EVENT_KINDS = 14;

    struct Values {
        Admission admission;
        /// Of the device kinds (0 to 13) and the watch rules' kinds.
        AlarmBook::Priorities priorities;
        int32_t fixRetentionDays = 0;
        WatchSettings watch;
        /// Vehicles with silent minutes of their own (0 never).
        std::map<UniqueID, int32_t> vehicleSilentMinutes;
    };

    /// By default Panic (13) is an alarm of priority 1 and G-Sensor (11)
    /// one of priority 2; of the watch rules' kinds Silent is of priority 2,
    /// Zone Entry, Zone Exit and Speeding of priority 3.
    static AlarmBook::Priorities defaultPriorities();
    /// Every shared setting. Throws StoreException when the query fails.
    static Values load(PgConnection& connection);
    /// The settings of key/value texts (what load reads), and back.
    static Values fromTexts(const std::map<std::string, std::string>& texts);
    static std::map<std::string, std::string> toTexts(const Values& values);
    /// Writes one setting and its feed entry in the connection's open
    /// transaction; changedBy names who (user@desk). Throws StoreException.
    static void write(PgConnection& connection, const std::string& key, const std::string& value,
                      const std::string& changedBy);
    /// Writes these settings in one transaction of their own, with their
    /// feed entries and a notice. The vehicles' own silent minutes are not
    /// among them: those change one vehicle at a time, so a desk that has
    /// not yet heard of another desk's change cannot write it back.
    static void store(PgConnection& connection, const Values& values, const std::string& changedBy);
    /// Sets one vehicle's own silent minutes (below 0: none of its own, the
    /// fleet's apply) in one transaction, with its feed entry and a notice.
    static void storeVehicleSilentMinutes(PgConnection& connection, const UniqueID& vehicle, int32_t minutes,
                                          const std::string& changedBy);
};

} // namespace velmora
