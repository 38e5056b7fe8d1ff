#pragma once

#include "db/Database.h"
#include "db/Statement.h"
#include "foundation/ISingleton.h"
#include "foundation/thread/LoopingThread.h"
#include "foundation/thread/MessageQueue.h"
#include "foundation/thread/Mutex.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

class AbstractDatabaseRecord;
class AlarmRecord;
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
/// When the queue is full: records that may be lost (fixes, events,
/// vehicle changes) go through put(), which waits a moment for room while
/// the writer works and gives them up once it does not (a stuck writer
/// must not stall the window); records that must not be lost (alarm
/// changes) go through keep(), which holds them in order behind the queue
/// until the writer has room. That is the queue's one policy; callers keep
/// no waiting lists of their own.
///
/// A vehicle deleted for good loses its fixes, events and information in
/// steps of ERASE_CHUNK_ROWS rows, each its own transaction between the
/// writer's batches, so a vehicle with a year of fixes never holds the
/// manager lock for long nor keeps other records waiting. Its row goes at
/// once, in order with the records around it; the steps delete only rows
/// stored before that, so a vehicle of the same id created again keeps what
/// it sends later.
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
    /// How long put() waits for room while the writer works, and how long
    /// after a wait that found none it gives records up at once.
    static constexpr int PUT_PATIENCE_MS = 250;
    static constexpr int PUT_QUIET_MS = 5000;
    /// Rows one step of a vehicle's erase deletes from one table.
    static constexpr int ERASE_CHUNK_ROWS = 5000;
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
    /// A record that may be lost: tryPut (which enqueues it) is tried again
    /// every millisecond while the queue is full and the writer works, for
    /// PUT_PATIENCE_MS at most; after a wait that found no room, records are
    /// given up at once for PUT_QUIET_MS. true when tryPut took it. Used by
    /// one thread (the window's).
    bool put(const std::function<bool()>& tryPut);
    /// An alarm change, which must not be lost: queued now, or held behind
    /// the changes held before it and moved into the queue by the writer as
    /// room appears, in order. A change of an alarm that is held already
    /// takes the held one's place (an INSERT stays an INSERT with the newer
    /// values), so what is held stays one record per alarm. shutdown()
    /// writes what is held after the queue. false only when no file is open
    /// or a shutdown has begun.
    bool keep(const AlarmRecord& record);
    /// Changes keep() holds that are not queued yet.
    size_t getHeldCount() const { return m_heldCount.load(); }
    /// Vehicles deleted whose rows are still being erased.
    size_t getErasesPending() const { return m_erasesPending.load(); }
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

    // A change keep() holds, by alarm id.
    struct Held {
        int32_t alarmId = 0;
        int32_t operation = 0;
        std::string bytes;
    };
    // A vehicle deleted for good: its rows with ids up to these are erased
    // step by step, table by table.
    struct Erase {
        std::string vehicleId;
        int64_t lastRow[3] = {};
        int table = 0;
    };

    // One statement of a batch: its text, or one of the writer's compiled
    // statements and the values to bind to it. Kept once run, to be run
    // again should SQLite roll the transaction back.
    struct WriteStep {
        std::string sql;
        Statement* statement = nullptr;
        const char* statementSql = nullptr;
        std::vector<std::string> values;
    };

    void ensureTable(const char* name, const char* createSql, const char* indexSql);
    void ensureSearchIndex(const char* createSql);
    bool isQueueHalfFull();
    void waitForWork(bool backOff);
    bool writeBatch(std::vector<uint8_t>& buffer);
    /// Moves held changes into the queue while it has room.
    void moveHeld();
    /// One step of the oldest erase; writer thread.
    void eraseStep();
    /// The statement of one queued record; for a vehicle UPDATE also the
    /// INSERT to run when the UPDATE found no row; for a vehicle DELETE the
    /// id whose rows are to be erased.
    bool buildStatement(const uint8_t* data, uint32_t length, WriteStep& step, WriteStep& insertIfMissing,
                        std::string& eraseId);
    void bindStep(WriteStep& step, Statement& statement, const char* sql, std::vector<std::string> values);
    void runStep(const WriteStep& step);
    bool beginTransaction();
    bool executeItem(WriteStep& step, std::vector<WriteStep>& done);
    bool restartTransaction(std::vector<WriteStep>& done);
    void requireOpen();
    /// Releases the compiled statements, then the connection.
    void closeDatabase();

    std::unique_ptr<MessageQueue> m_queue;
    Database m_database;
    // The writer's statements for what every fix stores, compiled once per
    // connection rather than a text formatted and compiled per record.
    Statement m_insertGps{m_database};
    Statement m_updateVehicle{m_database};
    Statement m_insertVehicle{m_database};
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

    // put(): records are given up at once until then (steady ms).
    std::atomic<int64_t> m_putQuietUntilMs{0};

    // keep()'s held changes, oldest first; the index finds one by alarm id.
    std::mutex m_heldMutex;
    std::list<Held> m_held;
    std::unordered_map<int32_t, std::list<Held>::iterator> m_heldIndex;
    std::atomic<size_t> m_heldCount{0};

    // Writer thread only: erases begun, oldest first.
    std::deque<Erase> m_erases;
    std::atomic<size_t> m_erasesPending{0};
};

} // namespace velmora
