#pragma once

#include "db/VehicleInfo.h"
#include "foundation/ISingleton.h"
#include "foundation/thread/Mutex.h"

#include <map>
#include <memory>
#include <string>

namespace velmora {

/// The live fleet: every known vehicle, deleted ones included, by id in
/// UniqueID order, one record per id; owns its records. Callers that walk
/// the map hold the lock; records leave only through remove() and clear().
class VehicleInfoContainer : public ISingleton {
public:
    using Map = std::map<UniqueID, std::unique_ptr<VehicleInfo>>;

    /// The instance, made on the first call.
    static VehicleInfoContainer& getInstance();

    Mutex& getLock() { return m_lock; }
    /// The map; hold the lock while using it.
    Map& getMap() { return m_map; }
    /// The record of id, or null. The record stays valid until clear().
    VehicleInfo* find(const UniqueID& id);
    /// A new record (from new, not yet in the container) with name and last
    /// updated time set; the caller then calls insert on it.
    VehicleInfo* create(const UniqueID& id, const std::string& name, const std::string& timeText);
    /// Takes ownership of record unless a record of its id is held already
    /// (then the caller keeps it); true when it was taken.
    bool adopt(VehicleInfo* record);
    /// Destroys the record of id (a vehicle deleted for good); false when
    /// none is held. Pointers to it are invalid afterwards.
    bool remove(const UniqueID& id);
    /// Destroys every record.
    void clear();
    int getCount();

private:
    VehicleInfoContainer() = default;

    Mutex m_lock;
    Map m_map;
};

} // namespace velmora
