#pragma once

#include "db/Database.h"
#include "foundation/ISingleton.h"
#include "foundation/thread/LoopingThread.h"
#include "foundation/thread/MessageQueue.h"
#include "foundation/thread/Mutex.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace velmora {

class AbstractDatabaseRecord;
class AlarmRecord;
class FormatableSQL;
class ZoneRecord;

/// The tracking database app.db: its four tables, the alarm and zone tables, the writer thread that
/// stores queued record copies in batches of one transaction each, and the
/// reads that fill the record containers.
///
/// Writes never touch the file on the caller's thread: enqueue() copies the
/// record onto a bounded queue and returns at once. The writer runs a batch
/// at least every 5 s, and sooner once the queue holds half of its message
/// or byte limit, so bursts are stored rather than refused. A statement that
/// fails inside a batch is traced and skipped; the rest is committed. When
/// SQLite rolls the whole transaction back itself (a full disk, an I/O
/// error), the batch begins again and stores once more what it had stored;
/// every record ends stored once or counted failed once.
/// shutdown() refuses new records, writes everything still queued, then
/// closes the file.
///
/// Locks: the manager lock (recursive, process-wide) serialises every use
/// of the connection: open, each batch, each read. enqueue() never takes it.
/// Lock order: the EventLogger and GPSDataContainer locks before the manager
/// lock (their callers hold them while they load and walk the list), the
/// manager lock before the VehicleInfoContainer lock (open loads vehicles).
class DBManager : public ISingleton, public LoopingThread {
public:
    static constexpr uint32_t QUEUE_CAPACITY = 1048576;
    static constexpr int32_t QUEUE_MAX_COUNT = 2048;
    static constexpr int64_t WRITE_INTERVAL_MS = 5000;
    /// A vehicle's track is read by vehicle; without this index every track
    /// request scans the fixes of the whole fleet. The rowid closes each
    /// index entry, so a vehicle's fixes still come back in stored order.
    /// Made when the file opens.
    static constexpr const char* TRACK_INDEX_SQL =
        "CREATE INDEX IF NOT EXISTS gps_data_vehicle_idx ON gps_data(vehicle_id);";

    /// The instance, made under the manager lock on the first call.
    static DBManager& getInstance();
    /// The manager lock.
    static Mutex& getLock();

    /// Opens (creating when missing) the file at path, used whole (UTF-8,
    /// never cut), creates missing tables, loads every vehicle into the
    /// VehicleInfoContainer and starts the writer. An open manager is shut
    /// down first. Throws DatabaseException when the file cannot be opened
    /// or read (a file that is not a database is left untouched); nothing is
    /// open then, the writer is not started and records are refused.
    void open(const char* path, int busyTimeoutMs);
    /// Puts a complete copy of record on the queue without waiting; false
    /// when the queue is full, the manager is not open or is shutting down.
    bool enqueue(const AbstractDatabaseRecord& record);
    /// Fills the EventLogger with the events matching condition (SQL text,
    /// null for all) and returns their number. Throws DatabaseException when
    /// the query fails or no database is open (the list is emptied then).
    int loadEvents(const char* condition);
    /// The alarms meeting condition (SQL text over alarm_info's columns;
    /// empty: all), in id order; returns their number. Holds the manager
    /// lock for the one query. Throws like loadEvents.
    int loadAlarms(const std::string& condition, std::vector<AlarmRecord>& alarms);
    /// The highest alarm id stored; 0 when none. Throws like loadEvents.
    int32_t lastAlarmId();
    /// Every stored zone row, in id order; returns their number (rows whose
    /// outline is no zone included: ZoneRecord::toZone tells). Throws like
    /// loadEvents.
    int loadZones(std::vector<ZoneRecord>& zones);
    /// The highest zone id stored; 0 when none. Throws like loadEvents.
    int32_t lastZoneId();
    /// Fills the VehicleInfoContainer with every vehicle; returns the count.
    /// Throws like loadEvents.
    int loadVehicles();
    /// Fills the GPSDataContainer with the fixes of one vehicle (null: of
    /// all) and returns their number. Throws like loadEvents.
    int loadGPSData(const char* vehicleIdText);
    /// The same, keeping only the rows that also meet condition (SQL text,
    /// inserted unchanged; null: every row). Throws DatabaseException.
    int loadGPSData(const char* vehicleIdText, const char* condition);
    /// Refuses new records, writes everything queued, stops the writer and
    /// closes the file. Safe to call when not open.
    void shutdown();
    /// Whether a file is open and records are taken; never waits for the
    /// manager lock.
    bool isOpen();

    /// The connection; use it only while holding the manager lock.
    Database& getDatabase() { return m_database; }

    /// Whether the writer is between batches, waiting for its interval or
    /// for the queue to fill to half.
    bool isWriterWaiting() const { return m_writerWaiting.load(); }

    /// Records committed to the file since the process started.
    uint64_t getWrittenCount() const { return m_writtenCount.load(); }
    /// Records not stored: failed, skipped, or left queued by a shutdown
    /// whose last batch could not begin. Each record counts once.
    uint64_t getFailedCount() const { return m_failedCount.load(); }

    /// The writer loop; runs on the manager's own thread.
    void run() override;

private:
    DBManager();

    void ensureTable(const char* name, const char* createSql, const char* indexSql);
    void ensureSearchIndex(const char* createSql);
    bool isQueueHalfFull();
    void waitForWork(bool backOff);
    bool writeBatch(std::vector<uint8_t>& buffer);
    /// The statement of one queued record; for a vehicle UPDATE also the
    /// INSERT to run when the UPDATE found no row.
    bool buildStatement(const uint8_t* data, uint32_t length, FormatableSQL& sql, FormatableSQL& insertIfMissing);
    bool beginTransaction();
    bool executeItem(const char* sql, std::vector<std::string>& done);
    bool restartTransaction(std::vector<std::string>& done);
    void requireOpen();

    std::unique_ptr<MessageQueue> m_queue;
    Database m_database;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_writerStarted{false};
    std::atomic<bool> m_writerWaiting{false};
    std::atomic<bool> m_open{false};

    // Gate between enqueue (shared) and open/shutdown (exclusive): once
    // shutdown has shut it, no put can slip in after the final batch.
    std::shared_mutex m_gate;
    bool m_accepting = false;

    // Wakes the writer before its interval is over.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;

    std::atomic<uint64_t> m_writtenCount{0};
    std::atomic<uint64_t> m_failedCount{0};
};

} // namespace velmora
