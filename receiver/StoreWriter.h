#pragma once

#include "store/BatchWriter.h"
#include "store/PgConnection.h"
#include "store/StoreBatch.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace velmora {

class ReceiverCounters;
class Spool;
class StoreWriterDelegate;

/// The receiver's writing thread, "Store Writer": writes the batches into
/// the store, oldest first, each in one transaction (BatchWriter), and
/// keeps the receiver's copy of the fleet, alarms and settings current from
/// the store's change feed.
///
/// Batches wait in memory (bounded in bytes) or in the spool. While the
/// store is away, and while memory is full, they go to the spool; the
/// writer always writes the lowest-numbered batch it holds, memory or spool,
/// so the store gets them in order. When several wait in memory (the store
/// is slower than the port for a moment), consecutive ones go in one
/// transaction of at most MERGED_MESSAGES_MAX fixes and events. A batch whose write fails because the
/// store went away goes to the spool and is written again later; one whose
/// commit did reach the store is then recognised and skipped. A batch the
/// store refuses for good (a statement it will never take) is counted lost
/// and logged, never retried for ever.
///
/// Reconnects back off from 0.25 s to 5 s; the writer never gives up. A
/// store whose schema is newer than this program is not written to (and
/// said so); batches keep going to the spool.
///
/// Thread-safe: submit() from the batching thread, finish() from the owner.
class StoreWriter {
public:
    static constexpr size_t MEMORY_LIMIT_BYTES = 64 * 1024 * 1024;
    /// Fixes and events of batches written as one while the writer is behind.
    static constexpr size_t MERGED_MESSAGES_MAX = 10000;
    static constexpr int CONNECT_TIMEOUT_MS = 5000;
    static constexpr int CALL_TIMEOUT_MS = 15000;
    static constexpr int64_t RETRY_FIRST_MS = 250;
    static constexpr int64_t RETRY_MAX_MS = 5000;
    static constexpr int64_t SCHEMA_RETRY_MS = 60000;
    /// The feed is read on every notice of another program, and this often anyway.
    static constexpr int64_t FOLLOW_INTERVAL_MS = 2000;
    static constexpr int64_t CANDIDATES_INTERVAL_MS = 5000;
    /// Partitions for tomorrow, retention of old days, feed pruning.
    static constexpr int64_t MAINTENANCE_INTERVAL_MS = 3600 * 1000;

    StoreWriter(const std::string& conninfo, Spool& spool, ReceiverCounters& counters, StoreWriterDelegate& delegate);
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    void start();
    /// Takes a batch to write (in number order).
    void submit(StoreBatch&& batch);
    /// Writes the batches in memory until deadlineMs (steady clock, as
    /// PgConnection::steadyNowMs), puts what is left in the spool and ends
    /// the thread by then.
    void finish(int64_t deadlineMs);

    /// Batches waiting in memory.
    size_t getMemoryCount() const;

private:
    void run();
    bool connect();
    void disconnect(const std::string& why);
    void load();
    void follow(int64_t now);
    void maintain(int64_t now);
    void publishCandidates(int64_t now);
    /// Writes one batch; false when the store went away.
    bool writeOne(StoreBatch& batch, bool fromSpool);
    void toSpool(const StoreBatch& batch);
    void spillMemory();
    void waitFor(int64_t milliseconds);

    const std::string m_conninfo;
    const std::string m_source;
    Spool& m_spool;
    ReceiverCounters& m_counters;
    StoreWriterDelegate& m_delegate;
    PgConnection m_connection;
    BatchWriter m_writer;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    /// Batches in memory with the bytes they were counted with.
    std::deque<std::pair<StoreBatch, size_t>> m_memory;
    size_t m_memoryBytes = 0;
    bool m_finishing = false;
    int64_t m_deadline = INT64_MAX;
    /// Whether batches may wait in memory (the store was there at the last try).
    bool m_storeUp = true;
    std::thread m_thread;

    // Writing thread only.
    int64_t m_nextAttempt = 0;
    int64_t m_retryMs = RETRY_FIRST_MS;
    int64_t m_position = 0;
    int64_t m_lastFollow = 0;
    int64_t m_lastMaintenance = 0;
    int64_t m_lastCandidates = 0;
    std::string m_candidatesShown;
    int64_t m_downSinceMs = 0;
    std::atomic<int64_t> m_lastRefusalLog{0};
    bool m_reportedDown = false;
};

} // namespace velmora
