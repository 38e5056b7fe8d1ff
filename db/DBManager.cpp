#include "db/DBManager.h"

#include "db/AlarmRecord.h"
#include "db/EventPager.h"
#include "db/ZoneRecord.h"

#include "db/AbstractDatabaseRecord.h"
#include "db/DatabaseException.h"
#include "db/EventLog.h"
#include "db/EventLogger.h"
#include "db/FormatableSQL.h"
#include "db/GPSData.h"
#include "db/GPSDataContainer.h"
#include "db/RowSet.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

#include <sqlite3.h>

#include <chrono>
#include <iterator>
#include <thread>

namespace velmora {

namespace {

std::atomic<DBManager*> g_instance{nullptr};

const char* const kEventInfoTable =
    "CREATE TABLE event_info (id INTEGER PRIMARY KEY AUTOINCREMENT,address TEXT,name TEXT,time "
    "DATETIME,event_type INTEGER,device_title TEXT, vehicle_id TEXT,foreign key(vehicle_id) "
    "references vehicle_info(id));";
const char* const kEventInfoIndex = "CREATE UNIQUE INDEX event_info_idx ON event_info(id);";
const char* const kVehicleInfoTable =
    "CREATE TABLE vehicle_info (id TEXT PRIMARY KEY,name TEXT,edited_name TEXT,last_updated_time "
    "DATETIME,last_updated_latitude TEXT,last_updated_longitude TEXT, deleted INTEGER, company "
    "TEXT, maker TEXT, model TEXT,registration TEXT, driver TEXT, license TEXT, info1 TEXT, info2 "
    "TEXT, image_path TEXT);";
const char* const kVehicleInfoIndex = "CREATE UNIQUE INDEX vehicle_info_idx ON vehicle_info(id);";
const char* const kGpsDataTable =
    "CREATE TABLE gps_data (id INTEGER PRIMARY KEY AUTOINCREMENT,gps_data TEXT,update_time "
    "DATETIME,vehicle_id TEXT,foreign key(vehicle_id) references vehicle_info(id));";
const char* const kGpsDataIndex = "CREATE UNIQUE INDEX gps_data_idx ON gps_data(id);";
const char* const kOptionalInfoTable =
    "CREATE TABLE optional_info (id INTEGER PRIMARY KEY AUTOINCREMENT,key_info TEXT NOT NULL, "
    "value_info TEXT NOT NULL DEFAULT '', vehicle_id TEXT, foreign key(vehicle_id) references "
    "vehicle_info(id));";
const char* const kOptionalInfoIndex =
    "CREATE UNIQUE INDEX optional_info_idx ON optional_info(id);";
// The console's own table of alarms and what the operators did with them.
const char* const kAlarmInfoTable =
    "CREATE TABLE alarm_info (id INTEGER PRIMARY KEY,event_id INTEGER,vehicle_id TEXT,vehicle_name TEXT,"
    "event_type INTEGER,priority INTEGER,device_title TEXT,address TEXT,received DATETIME,last_received DATETIME,"
    "repeat_count INTEGER NOT NULL DEFAULT 0,acknowledged DATETIME,acknowledged_by TEXT,closed DATETIME,"
    "closed_by TEXT,notes TEXT NOT NULL DEFAULT '');";
const char* const kAlarmInfoIndex = "CREATE INDEX alarm_info_received_idx ON alarm_info(received);";
// The zones the operators drew; the outline is text that reads the same in
// every locale: "lat lng radius" for a circle, "lat lng,lat lng,..." for a
// polygon.
const char* const kZoneInfoTable =
    "CREATE TABLE zone_info (id INTEGER PRIMARY KEY,name TEXT NOT NULL DEFAULT '',shape TEXT NOT NULL,"
    "geometry TEXT NOT NULL,alarm_on_entry INTEGER NOT NULL DEFAULT 1,alarm_on_exit INTEGER NOT NULL DEFAULT 0,"
    "dwell_seconds INTEGER NOT NULL DEFAULT 30,speed_limit_kmh INTEGER NOT NULL DEFAULT 0);";

// Each INSERT is its head immediately followed by its values text.
const char* const kInsertEvent =
    "INSERT INTO event_info (address, name, time, event_type, device_title,vehicle_id)"
    "VALUES ('%q', '%q', DATETIME('%q'), %d, '%q', '%q');";
// The statements every fix runs, with their values bound: a value is
// stored exactly as a quoted literal of it would be.
const char* const kInsertVehicle =
    "INSERT INTO vehicle_info (id, name, edited_name, "
    "last_updated_time,last_updated_latitude,last_updated_longitude, deleted, company, maker, "
    "model, registration, driver, license, info1, info2, image_path)"
    "VALUES (?, ?, ?, DATETIME(?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";
const char* const kInsertGps = "INSERT INTO gps_data (gps_data, update_time, vehicle_id)"
                               "VALUES (?, DATETIME(?), ?);";
const char* const kUpdateVehicle =
    "UPDATE vehicle_info set name=?, edited_name=?,last_updated_time=DATETIME(?), "
    "last_updated_latitude=?,last_updated_longitude=?, deleted=?, company=?, "
    "maker=?, model=?, registration=?, driver=?, license=?, info1=?, "
    "info2=?, image_path=? where id = ?;";

// The vehicle's columns in the order both statements above take them after
// its id; deleted is bound as text, which the column's integer affinity
// stores as the number.
std::vector<std::string> vehicleValues(const VehicleInfo& record)
{
    return {record.getName(),
            record.getEditedName(),
            record.getLastUpdatedTime(),
            record.getLastUpdatedLatitude(),
            record.getLastUpdatedLongitude(),
            record.getDeleted() ? "1" : "0",
            record.getCompany(),
            record.getMaker(),
            record.getModel(),
            record.getRegistration(),
            record.getDriver(),
            record.getLicense(),
            record.getInfo1(),
            record.getInfo2(),
            record.getImagePath()};
}

// The event is the newest of its vehicle and kind when the writer gets
// here: it was queued just before the alarm. Unset times are NULL.
const char* const kInsertAlarm =
    "INSERT INTO alarm_info (id, event_id, vehicle_id, vehicle_name, event_type, priority, device_title, "
    "address, received, last_received, repeat_count, acknowledged, acknowledged_by, closed, closed_by, notes)"
    "VALUES (%d, (SELECT MAX(id) FROM event_info WHERE vehicle_id = '%q' AND event_type = %d), '%q', '%q', %d, "
    "%d, '%q', '%q', NULLIF('%q', ''), NULLIF('%q', ''), %d, NULLIF('%q', ''), NULLIF('%q', ''), "
    "NULLIF('%q', ''), NULLIF('%q', ''), '%q');";
const char* const kUpdateAlarm =
    "UPDATE alarm_info SET priority = %d, last_received = NULLIF('%q', ''), repeat_count = %d, "
    "acknowledged = NULLIF('%q', ''), "
    "acknowledged_by = NULLIF('%q', ''), closed = NULLIF('%q', ''), closed_by = NULLIF('%q', ''), notes = '%q' "
    "WHERE id = %d;";

const char* const kStoreZone =
    "INSERT OR REPLACE INTO zone_info (id, name, shape, geometry, alarm_on_entry, alarm_on_exit, dwell_seconds, "
    "speed_limit_kmh) VALUES (%d, '%q', '%q', '%q', %d, %d, %d, %d);";
const char* const kDeleteZone = "DELETE FROM zone_info WHERE id = %d;";

// A vehicle deleted for good: its row goes in order with the batch; its
// fixes, events and information follow in steps (DBManager::eraseStep).
const char* const kDeleteVehicle = "DELETE FROM vehicle_info WHERE id = '%q';";
const char* const kErasedTables[] = {"gps_data", "event_info", "optional_info"};
const char* const kEraseBounds = "SELECT (SELECT IFNULL(MAX(id), 0) FROM gps_data), "
                                 "(SELECT IFNULL(MAX(id), 0) FROM event_info), "
                                 "(SELECT IFNULL(MAX(id), 0) FROM optional_info);";
const char* const kEraseChunk =
    "DELETE FROM %s WHERE id IN (SELECT id FROM %s WHERE vehicle_id = '%q' AND id <= %lld LIMIT %d);";

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Mutex& DBManager::getLock()
{
    static Mutex lock;
    return lock;
}

// Made at static initialisation, so that no two threads race to make it.
[[maybe_unused]] static Mutex& g_managerLockReady = DBManager::getLock();

DBManager& DBManager::getInstance()
{
    DBManager* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        ScopedLock lock(getLock());
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new DBManager();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

DBManager::DBManager() : LoopingThread("DBManager::DBManagerQueueThread")
{
}

bool DBManager::isOpen()
{
    // Never the manager lock: the writer holds it for a whole batch, which
    // waits out the busy time-out statement by statement while another
    // program holds app.db, and the window asks this between records.
    return m_open.load();
}

void DBManager::open(const char* path, int busyTimeoutMs)
{
    shutdown();
    ScopedLock lock(getLock());
    try {
        m_database.open(path, busyTimeoutMs);
        // SQLite reads a file only when first asked: a file that is not a
        // database, or cannot be read, shows here, before anything is written.
        std::vector<std::string> names;
        m_database.getTableNames(names);
    } catch (const DatabaseException&) {
        closeDatabase();
        throw;
    }
    ensureTable("event_info", kEventInfoTable, kEventInfoIndex);
    ensureSearchIndex(EventPager::INDEX_SQL);
    ensureTable("vehicle_info", kVehicleInfoTable, kVehicleInfoIndex);
    try {
        loadVehicles();
    } catch (const DatabaseException& e) {
        traceException(e);
    }
    ensureTable("gps_data", kGpsDataTable, kGpsDataIndex);
    ensureSearchIndex(TRACK_INDEX_SQL);
    ensureTable("optional_info", kOptionalInfoTable, kOptionalInfoIndex);
    ensureTable("alarm_info", kAlarmInfoTable, kAlarmInfoIndex);
    ensureTable("zone_info", kZoneInfoTable, nullptr);

    // A closed queue stays closed, so every open gets a fresh one. No writer
    // runs and no put passes the gate while it is replaced.
    {
        std::unique_lock<std::shared_mutex> gate(m_gate);
        m_queue = std::make_unique<MessageQueue>(QUEUE_CAPACITY, nullptr, QUEUE_MAX_COUNT);
        std::lock_guard<std::mutex> held(m_heldMutex);
        m_held.clear();
        m_heldIndex.clear();
        m_heldCount.store(0);
        m_erases.clear();
        m_erasesPending.store(0);
        m_accepting = true;
    }
    m_open.store(true);
    m_stopRequested.store(false);
    m_writerStarted.store(true);
    try {
        start();
    } catch (...) {
        m_writerStarted.store(false);
        std::unique_lock<std::shared_mutex> gate(m_gate);
        m_accepting = false;
        m_open.store(false);
        throw;
    }
}

void DBManager::ensureTable(const char* name, const char* createSql, const char* indexSql)
{
    try {
        std::vector<std::string> names;
        m_database.getTableNames(names);
        for (const std::string& existing : names) {
            if (existing == name)
                return;
        }
        m_database.execute(createSql);
        if (indexSql != nullptr)
            m_database.execute(indexSql);
    } catch (const DatabaseException& e) {
        traceException(e);
    }
}

void DBManager::ensureSearchIndex(const char* createSql)
{
    // The event log's and the tracks' one-vehicle reads go through these. An
    // old file pays for building one once, here; IF NOT EXISTS makes later
    // opens free.
    try {
        m_database.execute(createSql);
    } catch (const DatabaseException& e) {
        // Searches still work without it, only slower.
        traceException(e);
    }
}

bool DBManager::enqueue(const AbstractDatabaseRecord& record)
{
    thread_local std::string bytes;
    record.serialize(bytes);
    std::shared_lock<std::shared_mutex> gate(m_gate);
    if (!m_accepting)
        return false;
    if (!m_queue->timedPut(bytes.data(), static_cast<uint32_t>(bytes.size()), 0))
        return false;
    if (isQueueHalfFull()) {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_wake.notify_one();
    }
    return true;
}

bool DBManager::put(const std::function<bool()>& tryPut)
{
    if (tryPut())
        return true;
    // After a wait that ended empty-handed the writer is not taking records
    // (it is stuck or gone): the window must not stall on every record.
    if (steadyMs() < m_putQuietUntilMs.load())
        return false;
    // Refused: the queue is full while the writer works, or there is no
    // database. Only the first is worth waiting for.
    const int64_t until = steadyMs() + PUT_PATIENCE_MS;
    while (steadyMs() < until && isRunning() && isOpen()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (tryPut())
            return true;
    }
    m_putQuietUntilMs.store(steadyMs() + PUT_QUIET_MS);
    return false;
}

bool DBManager::keep(const AlarmRecord& record)
{
    thread_local std::string bytes;
    record.serialize(bytes);
    std::shared_lock<std::shared_mutex> gate(m_gate);
    if (!m_accepting)
        return false;
    std::lock_guard<std::mutex> lock(m_heldMutex);
    // Behind what is held already, so an alarm's row is made before it
    // changes.
    if (m_held.empty() && m_queue->timedPut(bytes.data(), static_cast<uint32_t>(bytes.size()), 0)) {
        if (isQueueHalfFull()) {
            std::lock_guard<std::mutex> wake(m_wakeMutex);
            m_wake.notify_one();
        }
        return true;
    }
    const auto found = m_heldIndex.find(record.id);
    if (found == m_heldIndex.end()) {
        m_held.push_back(Held{record.id, record.getOperation(), bytes});
        m_heldIndex.emplace(record.id, std::prev(m_held.end()));
        m_heldCount.store(m_held.size());
    } else if (found->second->operation == AbstractDatabaseRecord::OPERATION_INSERT &&
               record.getOperation() != AbstractDatabaseRecord::OPERATION_INSERT) {
        // The row is not stored yet: it is made with the newest values.
        AlarmRecord insert = record;
        insert.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
        insert.serialize(found->second->bytes);
    } else {
        found->second->bytes = bytes;
    }
    return true;
}

void DBManager::moveHeld()
{
    std::lock_guard<std::mutex> lock(m_heldMutex);
    while (!m_held.empty() &&
           m_queue->timedPut(m_held.front().bytes.data(), static_cast<uint32_t>(m_held.front().bytes.size()), 0)) {
        m_heldIndex.erase(m_held.front().alarmId);
        m_held.pop_front();
    }
    m_heldCount.store(m_held.size());
}

bool DBManager::isQueueHalfFull()
{
    return m_queue->getCount() >= m_queue->getMaxCount() / 2 ||
           m_queue->getUsedBytes() >= m_queue->getCapacity() / 2;
}

void DBManager::shutdown()
{
    {
        std::unique_lock<std::shared_mutex> gate(m_gate);
        m_accepting = false;
    }
    m_open.store(false);
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_stopRequested.store(true);
    }
    m_wake.notify_all();
    if (m_writerStarted.exchange(false))
        join();
    if (m_queue != nullptr)
        m_queue->close();
    ScopedLock lock(getLock());
    closeDatabase();
}

void DBManager::closeDatabase()
{
    // SQLite keeps a connection open while a statement of it is alive.
    m_insertGps.finalize();
    m_updateVehicle.finalize();
    m_insertVehicle.finalize();
    m_database.close();
}

void DBManager::run()
{
    // Room for the largest message the queue can hold.
    std::vector<uint8_t> buffer(QUEUE_CAPACITY);
    bool backOff = false;
    while (!m_stopRequested.load()) {
        moveHeld();
        backOff = !writeBatch(buffer);
        if (m_stopRequested.load())
            break;
        // Erases go on step by step between batches, without waiting.
        if (!backOff && !m_erases.empty()) {
            eraseStep();
            continue;
        }
        waitForWork(backOff);
    }
    // The gate is shut: what is queued and held now is all there will be,
    // the held alarm changes after the queue they wait behind. A batch that
    // cannot even begin ends the writing: counted, not retried for ever.
    for (;;) {
        moveHeld();
        if (m_queue->getCount() == 0 && m_heldCount.load() == 0)
            break;
        if (!writeBatch(buffer)) {
            const uint64_t left = static_cast<uint64_t>(m_queue->getCount()) + m_heldCount.load();
            trace("DBManager: %llu queued records not written at shutdown", static_cast<unsigned long long>(left));
            m_failedCount += left;
            break;
        }
    }
    while (!m_erases.empty())
        eraseStep();
}

void DBManager::eraseStep()
{
    Erase& erase = m_erases.front();
    {
        ScopedLock lock(getLock());
        // One table's next rows, a statement of its own (a transaction of
        // its own); a table with fewer left than a step is done.
        const char* table = kErasedTables[erase.table];
        FormatableSQL sql(kEraseChunk, table, table, erase.vehicleId.c_str(),
                          static_cast<long long>(erase.lastRow[erase.table]), ERASE_CHUNK_ROWS);
        bool tableDone = true;
        try {
            m_database.execute(sql.getText());
            tableDone = m_database.changes() < ERASE_CHUNK_ROWS;
        } catch (const DatabaseException& e) {
            // Given up rather than tried for ever: the rows stay, the
            // vehicle is gone.
            traceException(e);
            trace("DBManager: rows of vehicle %s left in %s", erase.vehicleId.c_str(), table);
        }
        if (tableDone)
            ++erase.table;
    }
    if (erase.table >= static_cast<int>(std::size(kErasedTables))) {
        m_erases.pop_front();
        m_erasesPending.store(m_erases.size());
    }
}

void DBManager::waitForWork(bool backOff)
{
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    // After a batch that could not begin, wait the whole interval, or the
    // half-full queue would have the writer spin.
    m_writerWaiting.store(true);
    m_wake.wait_for(lock, std::chrono::milliseconds(WRITE_INTERVAL_MS), [this, backOff] {
        return m_stopRequested.load() || (!backOff && (isQueueHalfFull() || m_heldCount.load() > 0));
    });
    m_writerWaiting.store(false);
}

bool DBManager::writeBatch(std::vector<uint8_t>& buffer)
{
    ScopedLock lock(getLock());
    const int32_t count = m_queue->getCount();
    if (count == 0)
        return true;
    if (!beginTransaction())
        return false;
    // Statements stored so far in this transaction, kept to be run again
    // should SQLite roll the whole transaction back on a later failure.
    std::vector<WriteStep> done;
    done.reserve(static_cast<size_t>(count));
    // Erases of vehicles deleted in this batch; they begin once it is committed.
    std::vector<Erase> erases;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t length =
            m_queue->timedTake(buffer.data(), static_cast<uint32_t>(buffer.size()), 0);
        if (length == 0)
            break;
        WriteStep step;
        WriteStep insertIfMissing;
        std::string eraseId;
        if (!buildStatement(buffer.data(), length, step, insertIfMissing, eraseId)) {
            ++m_failedCount;
            continue;
        }
        // No transaction could be begun again: what is still queued stays
        // for the next batch rather than run outside any transaction.
        if (!executeItem(step, done))
            return true;
        if (!eraseId.empty()) {
            // The rows stored up to here are the deleted vehicle's.
            Erase erase;
            erase.vehicleId = eraseId;
            try {
                RowSet bounds(m_database, kEraseBounds);
                if (bounds.next()) {
                    for (int table = 0; table < 3; ++table)
                        erase.lastRow[table] = bounds.getInt64(table);
                }
                erases.push_back(std::move(erase));
            } catch (const DatabaseException& e) {
                traceException(e);
            }
        }
        // A vehicle whose INSERT never reached the file (the queue was full
        // then) is stored by its next change, not lost with every later one.
        if (insertIfMissing.statement != nullptr && m_database.changes() == 0 &&
            !executeItem(insertIfMissing, done))
            return true;
    }
    try {
        m_database.execute("COMMIT;");
        m_writtenCount += done.size();
        for (Erase& erase : erases)
            m_erases.push_back(std::move(erase));
        m_erasesPending.store(m_erases.size());
    } catch (const DatabaseException& e) {
        traceException(e);
        trace("DBManager: a batch of %zu records was not committed", done.size());
        m_failedCount += done.size();
        if (sqlite3_get_autocommit(m_database.getHandle()) == 0) {
            try {
                m_database.execute("ROLLBACK;");
            } catch (const DatabaseException& rollbackFailure) {
                traceException(rollbackFailure);
            }
        }
    }
    return true;
}

bool DBManager::beginTransaction()
{
    try {
        m_database.execute("BEGIN;");
        return true;
    } catch (const DatabaseException& e) {
        traceException(e);
        return false;
    }
}

void DBManager::bindStep(WriteStep& step, Statement& statement, const char* sql, std::vector<std::string> values)
{
    step.statement = &statement;
    step.statementSql = sql;
    step.values = std::move(values);
}

void DBManager::runStep(const WriteStep& step)
{
    if (step.statement == nullptr) {
        m_database.execute(step.sql.c_str());
        return;
    }
    // A statement that failed was released; it is compiled again here.
    if (!step.statement->isPrepared())
        step.statement->prepare(step.statementSql);
    for (size_t i = 0; i < step.values.size(); ++i)
        step.statement->bindText(static_cast<int>(i + 1), step.values[i].c_str());
    step.statement->execute();
    // Ready for the next record, and no longer pointing at these values.
    step.statement->reset();
}

bool DBManager::executeItem(WriteStep& step, std::vector<WriteStep>& done)
{
    try {
        runStep(step);
        done.push_back(std::move(step));
        return true;
    } catch (const DatabaseException& e) {
        traceException(e);
        trace("DBManager: statement skipped: %.200s", step.statement == nullptr ? step.sql.c_str() : step.statementSql);
        ++m_failedCount;
        // Some failures (a full disk, I/O errors, an interrupt) make SQLite
        // roll back the whole transaction; the batch then goes on in a new one.
        if (sqlite3_get_autocommit(m_database.getHandle()) != 0)
            return restartTransaction(done);
        return true;
    }
}

bool DBManager::restartTransaction(std::vector<WriteStep>& done)
{
    // Everything in done was rolled back with the transaction.
    if (!beginTransaction()) {
        m_failedCount += done.size();
        done.clear();
        return false;
    }
    std::vector<WriteStep> replayed;
    replayed.reserve(done.size());
    for (size_t i = 0; i < done.size(); ++i) {
        try {
            runStep(done[i]);
            replayed.push_back(std::move(done[i]));
        } catch (const DatabaseException& e) {
            traceException(e);
            if (sqlite3_get_autocommit(m_database.getHandle()) == 0) {
                // Only this statement failed: skipped, as in the first run.
                ++m_failedCount;
                continue;
            }
            // Rolled back again: give up what was replayed, this statement
            // and the ones not replayed yet rather than loop; the rest of the
            // batch still gets its chance in a new transaction.
            m_failedCount += replayed.size() + (done.size() - i);
            done.clear();
            return beginTransaction();
        }
    }
    done.swap(replayed);
    return true;
}

bool DBManager::buildStatement(const uint8_t* data, uint32_t length, WriteStep& step, WriteStep& insertIfMissing,
                               std::string& eraseId)
{
    FormatableSQL sql;
    AbstractDatabaseRecord::Reader in(data, length);
    int32_t recordKind = -1;
    int32_t operation = -1;
    if (!AbstractDatabaseRecord::readHeader(in, recordKind, operation)) {
        trace("DBManager: a queued record of %u bytes is damaged", length);
        return false;
    }
    char vehicleId[UniqueID::TEXT_LENGTH + 1];
    if (recordKind == AbstractDatabaseRecord::KIND_EVENT &&
        operation == AbstractDatabaseRecord::OPERATION_INSERT) {
        EventLog record;
        if (!record.deserializeFields(in))
            return false;
        record.getVehicleId().toText(vehicleId);
        sql.format(kInsertEvent, record.getAddress(), record.getName(), record.getTime(),
                   record.getEventType(), record.getDeviceTitle(), vehicleId);
    } else if (recordKind == AbstractDatabaseRecord::KIND_ALARM &&
               (operation == AbstractDatabaseRecord::OPERATION_INSERT ||
                operation == AbstractDatabaseRecord::OPERATION_UPDATE)) {
        AlarmRecord r;
        if (!r.deserializeFields(in))
            return false;
        r.vehicleId.toText(vehicleId);
        if (operation == AbstractDatabaseRecord::OPERATION_INSERT) {
            sql.format(kInsertAlarm, r.id, vehicleId, r.eventType, vehicleId, r.vehicleName.c_str(), r.eventType,
                       r.priority, r.deviceTitle.c_str(), r.address.c_str(), r.received.c_str(),
                       r.lastReceived.c_str(), r.repeatCount, r.acknowledged.c_str(), r.acknowledgedBy.c_str(),
                       r.closed.c_str(), r.closedBy.c_str(), r.notes.c_str());
        } else {
            sql.format(kUpdateAlarm, r.priority, r.lastReceived.c_str(), r.repeatCount, r.acknowledged.c_str(),
                       r.acknowledgedBy.c_str(), r.closed.c_str(), r.closedBy.c_str(), r.notes.c_str(), r.id);
        }
    } else if (recordKind == AbstractDatabaseRecord::KIND_ZONE &&
               (operation == AbstractDatabaseRecord::OPERATION_INSERT ||
                operation == AbstractDatabaseRecord::OPERATION_UPDATE ||
                operation == AbstractDatabaseRecord::OPERATION_DELETE)) {
        ZoneRecord r;
        if (!r.deserializeFields(in))
            return false;
        if (operation == AbstractDatabaseRecord::OPERATION_DELETE) {
            sql.format(kDeleteZone, r.id);
        } else {
            sql.format(kStoreZone, r.id, r.name.c_str(), r.shape.c_str(), r.geometry.c_str(), r.alarmOnEntry,
                       r.alarmOnExit, r.dwellSeconds, r.speedLimitKmh);
        }
    } else if (recordKind == AbstractDatabaseRecord::KIND_GPS &&
               operation == AbstractDatabaseRecord::OPERATION_INSERT) {
        GPSData record;
        if (!record.deserializeFields(in))
            return false;
        record.getVehicleId().toText(vehicleId);
        bindStep(step, m_insertGps, kInsertGps, {record.getGpsData(), record.getUpdateTime(), vehicleId});
        return true;
    } else if (recordKind == AbstractDatabaseRecord::KIND_VEHICLE &&
               operation == AbstractDatabaseRecord::OPERATION_DELETE) {
        VehicleInfo record(AbstractDatabaseRecord::nullId());
        if (!record.deserializeFields(in))
            return false;
        record.getId().toText(vehicleId);
        sql.format(kDeleteVehicle, vehicleId);
        eraseId = vehicleId;
    } else if (recordKind == AbstractDatabaseRecord::KIND_VEHICLE &&
               (operation == AbstractDatabaseRecord::OPERATION_INSERT ||
                operation == AbstractDatabaseRecord::OPERATION_UPDATE)) {
        VehicleInfo record(AbstractDatabaseRecord::nullId());
        if (!record.deserializeFields(in))
            return false;
        record.getId().toText(vehicleId);
        std::vector<std::string> values = vehicleValues(record);
        if (operation == AbstractDatabaseRecord::OPERATION_INSERT) {
            values.insert(values.begin(), vehicleId);
            bindStep(step, m_insertVehicle, kInsertVehicle, std::move(values));
        } else {
            std::vector<std::string> inserted = values;
            inserted.insert(inserted.begin(), vehicleId);
            values.emplace_back(vehicleId);
            bindStep(step, m_updateVehicle, kUpdateVehicle, std::move(values));
            bindStep(insertIfMissing, m_insertVehicle, kInsertVehicle, std::move(inserted));
        }
        return true;
    } else {
        // Not a pair this table knows: taken and ignored.
        return false;
    }
    // Built to the size the values need: a record of any length is stored whole.
    if (sql.getText() == nullptr) {
        trace("DBManager: out of memory formatting a statement");
        return false;
    }
    step.sql = sql.getText();
    return true;
}

int DBManager::loadEvents(const char* condition)
{
    // Built without a length limit: a cut condition would select other rows.
    std::string text = "SELECT * FROM event_info ";
    if (condition != nullptr) {
        text += "WHERE ";
        text += condition;
        text += " ";
    }
    text += ";";
    EventLogger& logger = EventLogger::getInstance();
    ScopedLock listLock(logger.getLock());
    ScopedLock lock(getLock());
    logger.clear();
    requireOpen();
    EventLogger::List& list = logger.getList();
    RowSet rows(m_database, text.c_str());
    while (rows.next()) {
        list.emplace_back();
        list.back().readRow(rows);
    }
    return static_cast<int>(list.size());
}

int DBManager::loadAlarms(const std::string& condition, std::vector<AlarmRecord>& alarms)
{
    std::string text = "SELECT id, event_id, vehicle_id, vehicle_name, event_type, priority, device_title, "
                       "address, received, last_received, repeat_count, acknowledged, acknowledged_by, closed, "
                       "closed_by, notes FROM alarm_info ";
    if (!condition.empty())
        text += "WHERE " + condition + " ";
    text += "ORDER BY id;";
    alarms.clear();
    ScopedLock lock(getLock());
    requireOpen();
    RowSet rows(m_database, text.c_str());
    while (rows.next()) {
        alarms.emplace_back();
        alarms.back().readRow(rows);
    }
    return static_cast<int>(alarms.size());
}

int32_t DBManager::lastAlarmId()
{
    ScopedLock lock(getLock());
    requireOpen();
    RowSet rows(m_database, "SELECT IFNULL(MAX(id), 0) FROM alarm_info;");
    return rows.next() ? rows.getInt(0) : 0;
}

int DBManager::loadZones(std::vector<ZoneRecord>& zones)
{
    zones.clear();
    ScopedLock lock(getLock());
    requireOpen();
    RowSet rows(m_database, "SELECT id, name, shape, geometry, alarm_on_entry, alarm_on_exit, dwell_seconds, "
                            "speed_limit_kmh FROM zone_info ORDER BY id;");
    while (rows.next()) {
        zones.emplace_back();
        zones.back().readRow(rows);
    }
    return static_cast<int>(zones.size());
}

int32_t DBManager::lastZoneId()
{
    ScopedLock lock(getLock());
    requireOpen();
    RowSet rows(m_database, "SELECT IFNULL(MAX(id), 0) FROM zone_info;");
    return rows.next() ? rows.getInt(0) : 0;
}

int DBManager::loadVehicles()
{
    ScopedLock lock(getLock());
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    ScopedLock mapLock(container.getLock());
    container.clear();
    requireOpen();
    VehicleInfoContainer::Map& map = container.getMap();
    RowSet rows(m_database, "SELECT * FROM vehicle_info ;");
    while (rows.next()) {
        auto record = std::make_unique<VehicleInfo>(AbstractDatabaseRecord::nullId());
        record->readRow(rows);
        const UniqueID id = record->getId();
        map.emplace(id, std::move(record));
    }
    return static_cast<int>(map.size());
}

int DBManager::loadGPSData(const char* vehicleIdText)
{
    return loadGPSData(vehicleIdText, nullptr);
}

int DBManager::loadGPSData(const char* vehicleIdText, const char* condition)
{
    std::string text = "SELECT * FROM gps_data ";
    if (vehicleIdText != nullptr) {
        FormatableSQL vehicle("WHERE vehicle_id='%q' ", vehicleIdText);
        text += vehicle.getText() != nullptr ? vehicle.getText() : "";
    }
    if (condition != nullptr) {
        text += vehicleIdText != nullptr ? "AND (" : "WHERE (";
        text += condition;
        text += ") ";
    }
    text += ";";
    GPSDataContainer& container = GPSDataContainer::getInstance();
    ScopedLock listLock(container.getLock());
    ScopedLock lock(getLock());
    container.clear();
    requireOpen();
    GPSDataContainer::List& list = container.getList();
    RowSet rows(m_database, text.c_str());
    while (rows.next()) {
        list.emplace_back();
        list.back().readRow(rows);
    }
    return static_cast<int>(list.size());
}

void DBManager::requireOpen()
{
    // Answering "no rows" would report a failure as success.
    if (!m_database.isOpen())
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), SQLITE_MISUSE,
                                "no database is open");
}

} // namespace velmora
