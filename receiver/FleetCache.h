#pragma once

#include "db/Database.h"
#include "foundation/UniqueID.h"
#include "store/SharedSettings.h"
#include "store/StoreBatch.h"
#include "store/StoredVehicle.h"

#include <mutex>
#include <string>
#include <vector>

namespace velmora {

/// The receiver's own copy of what it needs from the store to judge
/// messages: the known vehicles (names, information, removed or not) and
/// the shared settings, kept in the spool's file. A receiver that starts
/// while the store is away judges by it: known vehicles' events are taken,
/// their fixes are no new vehicles, the operators' rules hold.
///
/// Thread-safe; every call is one short transaction. Failures of the file
/// are traced and otherwise ignored: the copy is a help, not the record.
class FleetCache {
public:
    FleetCache() = default;
    FleetCache(const FleetCache&) = delete;
    FleetCache& operator=(const FleetCache&) = delete;

    /// Opens the copy in the spool file at path (Spool::open made it
    /// usable). Throws DatabaseException.
    void open(const std::string& path);
    void close();

    std::vector<StoredVehicle> loadFleet();
    /// The settings kept; false when none were kept yet.
    bool loadSettings(SharedSettings::Values& values);

    /// Replaces the whole copy by the store's fleet.
    void saveFleet(const std::vector<StoredVehicle>& vehicles);
    void saveVehicles(const std::vector<StoredVehicle>& vehicles);
    /// Vehicles this receiver just made (kept unless known already).
    void saveNewVehicles(const std::vector<StoreBatch::NewVehicle>& vehicles);
    void forgetVehicles(const std::vector<UniqueID>& ids);
    void saveSettings(const SharedSettings::Values& values);

private:
    void upsert(const std::vector<StoredVehicle>& vehicles);

    std::mutex m_mutex;
    Database m_database;
};

} // namespace velmora
