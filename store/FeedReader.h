#pragma once

#include "foundation/UniqueID.h"
#include "store/StoredAlarm.h"
#include "store/StoredEvent.h"
#include "store/StoredFix.h"
#include "store/StoredVehicle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class PgConnection;

/// The reading side of the change feed (ChangeFeed writes it): what was
/// committed since a position, for a desk (or a receiver) that follows the
/// store.
///
/// A position is a transaction number: everything written by transactions
/// below it has been read. A read takes its snapshot, and reads only up to
/// the oldest transaction still running in it (pg_snapshot_xmin of
/// pg_current_snapshot()): every transaction below that has ended, so
/// nothing can still commit there. A transaction that took a lower number
/// and commits after a higher one is therefore never skipped; its rows, and
/// everything above it, wait until it ends (a long transaction delays the
/// feed, it never loses a row). The new position is that bound.
///
/// How to follow: LISTEN ChangeFeed::CHANNEL; in one transaction take
/// currentPosition() and load what is shown (FleetReader); then on every
/// notice, after every reconnect and now and then anyway, read() from the
/// position and keep changes.next. A change may come twice (rows of
/// transactions that ended while the load ran): applying one must be
/// idempotent - take a vehicle's or an alarm's row as it now is, a fix
/// only when newer than the one shown.
class FeedReader {
public:
    struct Options {
        bool fixes = true;
        /// Only each vehicle's newest fix of the range (what a map shows);
        /// false: every fix, oldest first, at most maxFixes.
        bool newestFixPerVehicle = true;
        size_t maxFixes = 200000;
        bool events = true;
        /// The newest events of the range are kept; the rest only counted.
        size_t maxEvents = 10000;
    };

    /// One entry of change_feed.
    struct Entry {
        int64_t seq = 0;
        std::string kind;
        std::string key;
        std::string source;
    };

    struct Changes {
        /// The position to read from next time.
        int64_t next = 0;
        /// The feed was pruned past the position asked for: load everything
        /// again (and read on from next).
        bool reloadNeeded = false;
        std::vector<Entry> entries;
        std::vector<StoredFix> fixes;
        /// Fixes of the range not in fixes (every fix asked for, over maxFixes).
        size_t fixesLeftOut = 0;
        std::vector<StoredEvent> events;
        /// Events of the range not in events (over maxEvents).
        size_t eventsLeftOut = 0;
        /// The current rows of the vehicles and alarms the entries name.
        std::vector<StoredVehicle> vehicles;
        std::vector<UniqueID> deletedVehicles;
        std::vector<StoredAlarm> alarms;
        /// Ids the desks admitted or ignored, with "admit" or "ignore".
        std::vector<std::pair<UniqueID, std::string>> decisions;
        bool settingsChanged = false;
        /// An entry asked readers to load the fleet again.
        bool fleetChanged = false;

        bool isEmpty() const
        {
            return entries.empty() && fixes.empty() && events.empty() && eventsLeftOut == 0 && !reloadNeeded;
        }
    };

    /// The position of what the caller's transaction sees: take it in the
    /// transaction that loads the shown state, then read() from it.
    static int64_t currentPosition(PgConnection& connection);
    /// Everything committed since from, in one read-only transaction of its
    /// own (the connection must have none open). Throws StoreException.
    static Changes read(PgConnection& connection, int64_t from, const Options& options);
};

} // namespace velmora
