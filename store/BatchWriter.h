#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace velmora {

class PgConnection;
class StoreBatch;

/// Writes a receiver's batches into the store, each in one transaction:
/// fixes and events by COPY, new vehicles and vehicle changes through the
/// session's staging tables (COPY, then one statement each), alarms one
/// statement per vehicle and kind (an open alarm of that vehicle and kind
/// counts the repeat, else a new alarm opens: one open alarm per vehicle
/// and kind, whichever receiver raised it), their change feed entries, and
/// the notice desks wake on.
///
/// The first statement raises the receiver's last stored batch number in
/// receiver_progress, and finds a batch whose (first) number is not above
/// it stored already: a batch written again after its commit's answer was
/// lost is skipped, never stored twice. Batches of one receiver must
/// therefore be written in number order, and batches written as one
/// (StoreBatch::append) written again only as that one or one by one.
///
/// Used by one thread, on one connection at a time.
class BatchWriter {
public:
    struct Result {
        /// The store had this batch already; nothing was written.
        bool duplicate = false;
        int64_t fixes = 0;
        int64_t events = 0;
        int64_t newVehicles = 0;
        int64_t vehicleChanges = 0;
        int64_t alarms = 0;
    };

    /// receiver identifies this receiver's batches; source names it in the
    /// change feed.
    BatchWriter(const UniqueID& receiver, const std::string& source);

    /// Makes the session's staging tables; after every (re)connect.
    /// Throws StoreException.
    void prepare(PgConnection& connection);
    /// Stores batch (see the class). Throws StoreException; the transaction
    /// is rolled back then, and the batch may be written again.
    Result write(PgConnection& connection, const StoreBatch& batch);

    const UniqueID& getReceiver() const { return m_receiver; }

private:
    Result writeOnce(PgConnection& connection, const StoreBatch& batch);
    void ensureDays(PgConnection& connection, const StoreBatch& batch);
    void writeVehicles(PgConnection& connection, const StoreBatch& batch, Result& result);
    void writeAlarms(PgConnection& connection, const StoreBatch& batch, const std::vector<int64_t>& eventIds,
                     Result& result);

    UniqueID m_receiver;
    std::string m_source;
    std::string m_host;
    /// Days known to have a partition (a cache: a day dropped meanwhile
    /// shows as a refused COPY, which empties it).
    std::set<int64_t> m_knownDays;
};

} // namespace velmora
