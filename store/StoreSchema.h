#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class PgConnection;

/// The store's tables, made and migrated by the programs themselves, and
/// the day partitions of the fixes.
///
/// schema_version holds one row per migration applied; a store whose
/// newest version is above VERSION was made by a newer program and is
/// refused, never changed. Migrations run in one transaction under an
/// advisory lock, so two programs starting at once migrate once.
///
/// The tables (version 1):
/// - vehicle_info, event_info, gps_data, optional_info, alarm_info: the
///   tables of app.db with the server's types (uuid ids, timestamptz times
///   in UTC, double precision positions, bigint row ids); gps_data and
///   event_info also keep when the receiver took the message (received)
///   and the transaction that wrote the row (tx), which the change feed
///   follows; imported rows name where they came from (origin, origin_id).
///   alarm_info allows one open alarm per vehicle and kind.
/// - shared_setting: the settings every desk shares (key/value texts).
/// - change_feed, feed_state: the change feed (see FeedReader).
/// - receiver_progress: each receiver's last stored batch, which makes a
///   replayed batch a no-op.
/// - admission_candidate, admission_decision: new vehicle ids the receiver
///   refused, and the desks' answers.
/// - import_origin: the app.db files imported.
///
/// Version 2 adds zone_info: the zones of the watch rules, one row per
/// zone the desks drew (id, name, shape, outline text, entry/exit, dwell,
/// speed limit), and the rules' shared settings.
///
/// gps_data is partitioned by day of `received` (UTC), gps_data_YYYYMMDD;
/// writers make the days they need, retention drops whole days.
class StoreSchema {
public:
    /// The schema this program knows.
    static constexpr int VERSION = 2;

    /// Brings an empty or older store to VERSION; answers the version found
    /// (0 for an empty database). Throws StoreException: SCHEMA for a newer
    /// store or a database that holds other tables of these names,
    /// CONNECTION when the link fails.
    static int migrate(PgConnection& connection, const std::string& program);
    /// The store's schema version; 0 when it has none.
    static int readVersion(PgConnection& connection);

    /// The partition name of a day (days since 1970, UTC).
    static std::string fixPartitionName(int64_t day);
    /// Makes the partitions of days that are missing (their own short
    /// transaction each). Throws StoreException.
    static void ensureFixDays(PgConnection& connection, const std::vector<int64_t>& days);
    /// The days gps_data has partitions for, oldest first.
    static std::vector<int64_t> listFixDays(PgConnection& connection);
    /// Drops the partitions of days before firstKept; answers how many.
    /// A partition that is busy past a short lock wait is left for the
    /// next time. Throws StoreException when the link fails.
    static int dropFixDaysBefore(PgConnection& connection, int64_t firstKept);
};

} // namespace velmora
