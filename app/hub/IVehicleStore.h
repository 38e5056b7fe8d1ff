#pragma once

#include <cstdint>

namespace velmora {

class VehicleInfo;

/// Where the operator's changes to a vehicle are kept when they are shared
/// with other desks (the store); a console without one keeps them in its
/// app.db as it always has.
class IVehicleStore {
public:
    /// The operator's fields of a vehicle that a save writes.
    enum Field : uint32_t {
        EDITED_NAME = 1,
        INFO = 2, ///< information lines 1 and 2
        IMAGE = 4,
        DELETED = 8, ///< removed from the map (Remove)
    };

    virtual ~IVehicleStore() = default;
    /// Keeps the named fields of vehicle as they now are; false when they
    /// cannot be handed over now.
    virtual bool save(const VehicleInfo& vehicle, uint32_t fields) = 0;
    /// Deletes the vehicle for good with its fixes, events and information;
    /// false when that cannot be handed over now.
    virtual bool erase(const VehicleInfo& vehicle) = 0;
};

} // namespace velmora
