#pragma once

#include "rules/Zone.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class PgConnection;

/// The store's zone_info: the zones of the watch rules every desk and
/// receiver of the store shares, each row what app.db's zone_info holds for
/// the same zone (the outline as Zone::geometryText). Each change is one
/// transaction with its change_feed entry (ChangeFeed::ZONE, key the id) and
/// a notice. Throws StoreException.
class ZoneTable {
public:
    /// Every stored zone, in id order; a row whose outline is no zone (a
    /// row edited by hand) is left out and traced.
    static std::vector<Zone> load(PgConnection& connection);
    /// Stores the zone whole under its id (made or replaced); changedBy
    /// names who (user@desk).
    static void store(PgConnection& connection, const Zone& zone, const std::string& changedBy);
    /// Stores a new zone under the next free id (above the highest held) and
    /// answers it as stored; a zone without a name is named "Zone <id>".
    /// The table is locked for the transaction, so two writers adding at
    /// once never get one id. zone's own id is not used.
    static Zone add(PgConnection& connection, const Zone& zone, const std::string& changedBy);
    /// Replaces the zone of the same id; false (and nothing written) when
    /// there is none, so a zone deleted meanwhile is never made again.
    static bool update(PgConnection& connection, const Zone& zone, const std::string& changedBy);
    /// Deletes the zone of id; false when there was none.
    static bool remove(PgConnection& connection, int32_t id, const std::string& changedBy);
};

} // namespace velmora
