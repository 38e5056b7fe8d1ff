#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class PgConnection;

/// The writing side of the change feed, which tells desks what changed.
///
/// What a desk must follow lives in two places, both stamped with the
/// transaction that wrote them (column tx, the transaction's id as a
/// number): the rows of gps_data and event_info themselves (appended, never
/// changed), and one change_feed entry per changed row of the other tables
/// (kind and key: a vehicle id, an alarm id, a setting's key). Writers
/// append entries in the same transaction as the change, then notify():
/// NOTIFY is delivered at commit, a small wake-up for desks, never the
/// data. FeedReader reads it all back by transaction range.
class ChangeFeed {
public:
    /// The LISTEN/NOTIFY channel.
    static constexpr const char* CHANNEL = "velmora_feed";
    /// A vehicle's row was made or changed; key: its id.
    static constexpr const char* VEHICLE = "vehicle";
    /// A vehicle was deleted for good with its fixes and events; key: its id.
    static constexpr const char* VEHICLE_DELETED = "vehicle_deleted";
    /// An alarm was raised or changed; key: its id.
    static constexpr const char* ALARM = "alarm";
    /// A shared setting changed; key: the setting's key.
    static constexpr const char* SETTING = "setting";
    /// A desk admitted or ignored a new vehicle id; key: the id.
    static constexpr const char* ADMISSION = "admission";
    /// A receiver's list of refused new ids changed; key: "".
    static constexpr const char* CANDIDATES = "candidates";
    /// A zone of the watch rules was drawn, changed or deleted; key: its id.
    static constexpr const char* ZONE = "zone";
    /// Much changed at once (an import): readers load the fleet again.
    static constexpr const char* FLEET = "fleet";
    /// Entries older than this are pruned; a reader further behind loads
    /// everything again.
    static constexpr int KEEP_DAYS = 7;

    /// Appends an entry in the connection's open transaction; source names
    /// the writer ("velmora-receiver@host", "user@desk"). Throws StoreException.
    static void append(PgConnection& connection, const std::string& kind, const std::string& key,
                       const std::string& source);
    /// Queues the notice on CHANNEL with payload (kept short: the server
    /// takes at most 8000 bytes); sent when the transaction commits, not at
    /// all when it rolls back. Throws StoreException.
    static void notify(PgConnection& connection, const std::string& payload);
    /// Deletes entries older than keepDays and records below which
    /// transaction the feed is incomplete; answers the entries deleted.
    static int64_t prune(PgConnection& connection, int keepDays = KEEP_DAYS);
    /// "program@host", the source this machine's program writes as.
    static std::string sourceName(const std::string& program);
};

} // namespace velmora
