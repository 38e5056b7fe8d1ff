#pragma once

#include "rules/Zone.h"

#include <cstdint>

namespace velmora {

/// Where the zones the operator draws, changes and deletes are kept when
/// they are shared with other desks (the store); a console without one
/// keeps them in its app.db as it always has (WatchHub).
///
/// Nothing here waits: each call hands the change on, and what the store
/// then holds comes back to the hub (WatchHub::zoneMade, replaceZones).
class IZoneStore {
public:
    virtual ~IZoneStore() = default;
    /// Keeps a new zone under an id the store gives it (zone's own id is
    /// not used); the hub shows it once the store has answered.
    virtual void add(const Zone& zone) = 0;
    /// Keeps the zone as it now is under its id.
    virtual void change(const Zone& zone) = 0;
    /// Deletes the zone of id.
    virtual void remove(int32_t id) = 0;
};

} // namespace velmora
