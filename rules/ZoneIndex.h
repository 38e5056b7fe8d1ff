#pragma once

#include "rules/GeoPoint.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

class Zone;

/// Finds the zones that may hold a place without testing every zone: an
/// R-tree of the zones' boxes in degrees. A box that crosses the
/// antimeridian is kept as two, one each side, so a place at 179.9°E and
/// one at 179.9°W both find it. The answer is the candidates only; the
/// caller tests each zone exactly (Zone::contains).
///
/// Zones are known by a slot number the caller chooses. Used by one thread
/// at a time.
class ZoneIndex {
public:
    ZoneIndex();
    ~ZoneIndex();
    ZoneIndex(const ZoneIndex&) = delete;
    ZoneIndex& operator=(const ZoneIndex&) = delete;

    /// Adds a valid zone under slot (an invalid one is left out).
    void insert(uint32_t slot, const Zone& zone);
    /// Takes out what insert put in for the same slot and zone.
    void remove(uint32_t slot, const Zone& zone);
    /// Appends to out the slots whose boxes hold point, each once, in
    /// rising order. Does not clear out.
    void candidates(GeoPoint point, std::vector<uint32_t>& out) const;
    /// The number of boxes held (a zone across the antimeridian has two).
    size_t boxCount() const;

private:
    struct Tree;
    std::unique_ptr<Tree> m_tree;
};

} // namespace velmora
