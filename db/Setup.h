#pragma once

#include "db/AbstractSetup.h"
#include "foundation/ISingleton.h"

namespace velmora {

/// The program's settings in setup.db. Keys read elsewhere: "setup/Port" (the
/// callback port, default 10111) and "setup/TimeoutDuration" (vehicle
/// time-out in minutes, default 10). One instance per process, reusable:
/// close() and a later open() give a fresh store.
class Setup : public AbstractSetup, public ISingleton {
public:
    static constexpr const char* KEY_PORT = "setup/Port";
    static constexpr const char* KEY_TIMEOUT_DURATION = "setup/TimeoutDuration";
    static constexpr int32_t DEFAULT_PORT = 10111;
    static constexpr int32_t DEFAULT_TIMEOUT_DURATION = 10;
    // The map's sources, read when the page is built (see MapSettings).
    static constexpr const char* KEY_MAP_SOURCE = "setup/MapSource";
    static constexpr const char* KEY_ROAD_TILES = "setup/RoadTiles";
    static constexpr const char* KEY_ROAD_ATTRIBUTION = "setup/RoadAttribution";
    static constexpr const char* KEY_SATELLITE_TILES = "setup/SatelliteTiles";
    static constexpr const char* KEY_SATELLITE_ATTRIBUTION = "setup/SatelliteAttribution";
    static constexpr const char* KEY_MBTILES_FILE = "setup/MBTilesFile";
    static constexpr const char* KEY_GROUPING = "setup/GroupVehicles";
    // Which new vehicle ids the console takes (see AdmissionSettings).
    static constexpr const char* KEY_ADMISSION_MODE = "setup/AdmissionMode";
    static constexpr const char* KEY_NEW_PER_MINUTE = "setup/NewVehiclesPerMinute";
    static constexpr const char* KEY_FLEET_LIMIT = "setup/FleetLimit";
    // Followed by an event kind's code: its alarm priority (see AlarmSettings).
    static constexpr const char* KEY_ALARM_PRIORITY_PREFIX = "setup/AlarmPriority/";

    /// The instance, made on the first call.
    static Setup& getInstance();

protected:
    /// Magic, Version, Initialized, setup/Port, setup/Driver, setup/Company,
    /// setup/Image in one transaction, under the lock.
    void writeDefaults(SetupDatabase& database) override;
    void onOpened(SetupDatabase& database) override;

private:
    Setup() = default;
};

} // namespace velmora
