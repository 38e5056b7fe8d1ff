#include "receiver/StoreWriter.h"

#include "db/DatabaseException.h"
#include "foundation/Trace.h"
#include "receiver/ReceiverCounters.h"
#include "receiver/Spool.h"
#include "receiver/StoreWriterDelegate.h"
#include "store/ChangeFeed.h"
#include "store/FeedReader.h"
#include "store/FleetReader.h"
#include "store/PgTransaction.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"
#include "store/StoreText.h"
#include "store/ZoneTable.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

namespace velmora {

namespace {

const char* const PROGRAM = "velmora-receiver";

void say(const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", PROGRAM, line.c_str());
}

int64_t today()
{
    return StoreText::dayOfMicros(StoreText::nowMicros());
}

} // namespace

StoreWriter::StoreWriter(const std::string& conninfo, Spool& spool, ReceiverCounters& counters,
                         StoreWriterDelegate& delegate)
    : m_conninfo(conninfo), m_source(ChangeFeed::sourceName(PROGRAM)), m_spool(spool), m_counters(counters),
      m_delegate(delegate), m_writer(spool.getReceiver(), m_source)
{
}

StoreWriter::~StoreWriter()
{
    finish(PgConnection::steadyNowMs());
}

void StoreWriter::start()
{
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { run(); });
    }
}

void StoreWriter::finish(int64_t deadlineMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finishing = true;
        m_deadline = std::min(m_deadline, deadlineMs);
    }
    // Any wait on the store ends by the deadline.
    m_connection.abortAt(deadlineMs);
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

size_t StoreWriter::getMemoryCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memory.size();
}

void StoreWriter::submit(StoreBatch&& batch)
{
    const size_t bytes = batch.getBytes();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_storeUp && m_memoryBytes + bytes <= MEMORY_LIMIT_BYTES) {
            m_memory.emplace_back(std::move(batch), bytes);
            m_memoryBytes += bytes;
            m_changed.notify_one();
            return;
        }
    }
    // The store is away, or slower than the port: the spool holds the
    // batch, in its place by number.
    toSpool(batch);
    m_changed.notify_one();
}

void StoreWriter::toSpool(const StoreBatch& batch)
{
    if (m_spool.add(batch)) {
        ++m_counters.spooledBatches;
        return;
    }
    ++m_counters.refusedBatches;
    m_counters.refusedRows += batch.getMessageCount();
    const int64_t now = PgConnection::steadyNowMs();
    int64_t last = m_lastRefusalLog.load();
    if (now - last >= 60000 && m_lastRefusalLog.compare_exchange_strong(last, now)) {
        say("the spool " + m_spool.getPath() + " is full (" + std::to_string(m_spool.getBytes() / (1024 * 1024)) +
            " MB): batches are refused, " + std::to_string(m_counters.refusedRows.load()) +
            " fixes and events lost so far");
    }
}

void StoreWriter::spillMemory()
{
    std::deque<std::pair<StoreBatch, size_t>> spilled;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        spilled.swap(m_memory);
        m_memoryBytes = 0;
    }
    for (const auto& held : spilled) {
        toSpool(held.first);
    }
}

void StoreWriter::waitFor(int64_t milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(milliseconds, 1)),
                       [this] { return m_finishing || !m_memory.empty(); });
}

void StoreWriter::disconnect(const std::string& why)
{
    m_connection.close();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_storeUp = false;
    }
    m_counters.storeUp = false;
    if (m_counters.storeDownSince.load() == 0) {
        m_counters.storeDownSince = StoreText::nowMicros();
    }
    if (!m_reportedDown) {
        m_reportedDown = true;
        m_downSinceMs = PgConnection::steadyNowMs();
        say("store unreachable: " + why + "; keeping batches in the spool " + m_spool.getPath() + " and retrying");
    }
    const int64_t now = PgConnection::steadyNowMs();
    // Backing off with a little jitter, so receivers of one store do not
    // knock all at once.
    static thread_local std::minstd_rand jitter(std::random_device{}());
    m_nextAttempt = now + m_retryMs + static_cast<int64_t>(jitter() % static_cast<unsigned>(m_retryMs / 5 + 1));
    m_retryMs = std::min(m_retryMs * 2, RETRY_MAX_MS);
}

bool StoreWriter::connect()
{
    try {
        m_connection.open(m_conninfo, PROGRAM, CONNECT_TIMEOUT_MS);
        m_connection.setCallTimeout(CALL_TIMEOUT_MS);
        StoreSchema::migrate(m_connection, PROGRAM);
        m_writer.prepare(m_connection);
        m_connection.listen(ChangeFeed::CHANNEL);
        load();
        const int64_t day = today();
        StoreSchema::ensureFixDays(m_connection, {day, day + 1});
    } catch (const StoreException& e) {
        if (e.getKind() == StoreException::SCHEMA) {
            // Nothing this program can fix: said at every try (once a
            // minute), batches kept.
            m_connection.close();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_storeUp = false;
            }
            m_counters.storeUp = false;
            say("the store is not written to: " + std::string(e.getMessage()) + "; keeping batches in the spool " +
                m_spool.getPath() + " and trying again in a minute");
            m_reportedDown = true;
            m_downSinceMs = PgConnection::steadyNowMs();
            m_nextAttempt = PgConnection::steadyNowMs() + SCHEMA_RETRY_MS;
        } else {
            disconnect(e.getMessage());
        }
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_storeUp = true;
    }
    ++m_counters.connects;
    m_counters.storeUp = true;
    m_counters.storeDownSince = 0;
    m_retryMs = RETRY_FIRST_MS;
    const size_t spooled = m_spool.getCount();
    if (m_reportedDown) {
        say("store reachable again after " +
            std::to_string((PgConnection::steadyNowMs() - m_downSinceMs + 500) / 1000) + " s; " +
            std::to_string(spooled) + " spooled batches to write");
    } else {
        say("writing to the store (" + PgConnection::describe(m_conninfo) + ")" +
            (spooled > 0 ? "; " + std::to_string(spooled) + " spooled batches first" : std::string()));
    }
    m_reportedDown = false;
    return true;
}

void StoreWriter::load()
{
    StoreWriterDelegate::Snapshot snapshot;
    {
        // One snapshot for the state and the feed position it pairs with.
        PgTransaction transaction(m_connection, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        m_position = FeedReader::currentPosition(m_connection);
        snapshot.vehicles = FleetReader::loadVehicles(m_connection);
        snapshot.openAlarms = FleetReader::loadOpenAlarms(m_connection);
        snapshot.settings = SharedSettings::load(m_connection);
        snapshot.decisions = FleetReader::loadDecisions(m_connection);
        snapshot.zones = ZoneTable::load(m_connection);
        transaction.commit();
    }
    m_lastFollow = PgConnection::steadyNowMs();
    m_delegate.onStoreLoaded(snapshot);
}

void StoreWriter::follow(int64_t now)
{
    bool others = false;
    for (const PgConnection::Notice& notice : m_connection.takeNotices()) {
        others = others || notice.senderPid != m_connection.getServerPid();
    }
    if (!others && now - m_lastFollow < FOLLOW_INTERVAL_MS) {
        return;
    }
    m_lastFollow = now;
    FeedReader::Options options;
    options.fixes = false;
    options.events = false;
    const FeedReader::Changes changes = FeedReader::read(m_connection, m_position, options);
    m_position = changes.next;
    if (changes.reloadNeeded || changes.fleetChanged) {
        load();
        return;
    }
    // What this receiver wrote itself it knows already.
    std::set<std::string> vehiclesByOthers;
    bool alarmsByOthers = false;
    bool zonesChanged = false;
    for (const FeedReader::Entry& entry : changes.entries) {
        zonesChanged = zonesChanged || entry.kind == ChangeFeed::ZONE;
        if (entry.source == m_source) {
            continue;
        }
        if (entry.kind == ChangeFeed::VEHICLE) {
            vehiclesByOthers.insert(entry.key);
        } else if (entry.kind == ChangeFeed::ALARM) {
            alarmsByOthers = true;
        }
    }
    std::vector<StoredVehicle> changed;
    for (const StoredVehicle& vehicle : changes.vehicles) {
        if (vehiclesByOthers.count(vehicle.id.toText()) != 0) {
            changed.push_back(vehicle);
        }
    }
    if (!changed.empty() || !changes.deletedVehicles.empty()) {
        m_delegate.onVehiclesChanged(changed, changes.deletedVehicles);
    }
    if (alarmsByOthers) {
        m_delegate.onOpenAlarms(FleetReader::loadOpenAlarms(m_connection));
    }
    if (changes.settingsChanged) {
        m_delegate.onSettings(SharedSettings::load(m_connection));
    }
    if (zonesChanged) {
        m_delegate.onZones(ZoneTable::load(m_connection));
    }
    if (!changes.decisions.empty()) {
        m_delegate.onDecisions(changes.decisions);
    }
}

void StoreWriter::maintain(int64_t now)
{
    if (m_lastMaintenance != 0 && now - m_lastMaintenance < MAINTENANCE_INTERVAL_MS) {
        return;
    }
    m_lastMaintenance = now;
    const int64_t day = today();
    StoreSchema::ensureFixDays(m_connection, {day, day + 1});
    const SharedSettings::Values settings = SharedSettings::load(m_connection);
    if (settings.fixRetentionDays > 0) {
        const int dropped = StoreSchema::dropFixDaysBefore(m_connection, day - settings.fixRetentionDays);
        if (dropped > 0) {
            say("dropped " + std::to_string(dropped) + " days of fixes older than " +
                std::to_string(settings.fixRetentionDays) + " days");
        }
    }
    ChangeFeed::prune(m_connection);
}

void StoreWriter::publishCandidates(int64_t now)
{
    if (now - m_lastCandidates < CANDIDATES_INTERVAL_MS) {
        return;
    }
    m_lastCandidates = now;
    const std::vector<ReceiverIntake::Candidate> candidates = m_delegate.getCandidates();
    std::string shown;
    for (const ReceiverIntake::Candidate& candidate : candidates) {
        shown += candidate.id.toText() + ":" + std::to_string(candidate.messages) + ";";
    }
    if (shown == m_candidatesShown) {
        return;
    }
    PgTransaction transaction(m_connection);
    m_connection.query("DELETE FROM admission_candidate WHERE receiver = $1", {m_source});
    for (const ReceiverIntake::Candidate& candidate : candidates) {
        m_connection.query(
            "INSERT INTO admission_candidate (vehicle_id, address, name, first_seen, last_seen, messages, receiver) "
            "VALUES ($1, $2, $3, to_timestamp($4), to_timestamp($5), $6, $7) ON CONFLICT (vehicle_id) DO UPDATE SET "
            "address = EXCLUDED.address, name = EXCLUDED.name, last_seen = EXCLUDED.last_seen, "
            "messages = EXCLUDED.messages, receiver = EXCLUDED.receiver",
            {candidate.id.toText(), StoreText::clean(candidate.address), StoreText::clean(candidate.name),
             static_cast<int64_t>(candidate.firstSeen), static_cast<int64_t>(candidate.lastSeen),
             static_cast<int64_t>(candidate.messages), m_source});
    }
    ChangeFeed::append(m_connection, ChangeFeed::CANDIDATES, "", m_source);
    ChangeFeed::notify(m_connection, "candidates");
    transaction.commit();
    m_candidatesShown = shown;
}

bool StoreWriter::writeOne(StoreBatch& batch, bool fromSpool)
{
    // A statement the server gave up only because of another transaction
    // is worth a second and third try.
    for (int attempt = 1;; ++attempt) {
        try {
            const BatchWriter::Result result = m_writer.write(m_connection, batch);
            if (result.duplicate) {
                ++m_counters.duplicateBatches;
            } else {
                ++m_counters.storedBatches;
                m_counters.storedFixes += static_cast<uint64_t>(result.fixes);
                m_counters.storedEvents += static_cast<uint64_t>(result.events);
                m_counters.storedAlarms += static_cast<uint64_t>(result.alarms);
                const int64_t committed = StoreText::nowMicros();
                for (const StoreBatch::Fix& fix : batch.fixes) {
                    m_counters.addLatency((committed - fix.received) / 1000, 1);
                }
            }
            if (fromSpool) {
                ++m_counters.replayedBatches;
            }
            m_delegate.onBatchStored(batch.number);
            return true;
        } catch (const StoreException& e) {
            if (e.isStoreAway() || !m_connection.isOpen()) {
                if (!fromSpool) {
                    toSpool(batch);
                }
                disconnect(e.getMessage());
                return false;
            }
            if (e.isTransient() && attempt < 3) {
                continue;
            }
            ++m_counters.rejectedBatches;
            m_counters.rejectedRows += batch.getMessageCount();
            say("the store refused batch " + std::to_string(batch.number) + " (" +
                std::to_string(batch.getMessageCount()) + " fixes and events, lost): " + e.getMessage());
            return true;
        }
    }
}

void StoreWriter::run()
{
    StoreBatch batch;
    for (;;) {
        bool finishing = false;
        int64_t deadline = INT64_MAX;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            finishing = m_finishing;
            deadline = m_deadline;
            if (finishing && m_memory.empty()) {
                break;
            }
        }
        const int64_t now = PgConnection::steadyNowMs();
        if (finishing && (now >= deadline || !m_connection.isOpen())) {
            // No time or no store left: the spool keeps the rest for the
            // next start.
            spillMemory();
            break;
        }
        if (!m_connection.isOpen()) {
            if (now < m_nextAttempt || !connect()) {
                spillMemory();
                waitFor(std::min<int64_t>(m_nextAttempt - PgConnection::steadyNowMs(), 1000));
                continue;
            }
        }
        try {
            if (!finishing) {
                follow(now);
                maintain(now);
                publishCandidates(now);
            }
        } catch (const StoreException& e) {
            if (e.isStoreAway() || !m_connection.isOpen()) {
                disconnect(e.getMessage());
                continue;
            }
            traceException(e);
        }

        // The oldest batch held, from memory or the spool.
        bool fromSpool = false;
        bool have = false;
        uint64_t spoolFront = 0;
        try {
            spoolFront = finishing ? 0 : m_spool.getFrontNumber();
        } catch (const DatabaseException& e) {
            traceException(e);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto nextFits = [this, spoolFront] {
                return !m_memory.empty() && (spoolFront == 0 || m_memory.front().first.number < spoolFront);
            };
            if (nextFits()) {
                batch = std::move(m_memory.front().first);
                m_memoryBytes -= m_memory.front().second;
                m_memory.pop_front();
                have = true;
                // Behind the port: batches waiting one after another go in
                // one transaction, so the commits' cost does not grow the
                // backlog.
                while (nextFits() &&
                       batch.getMessageCount() + m_memory.front().first.getMessageCount() <= MERGED_MESSAGES_MAX) {
                    m_memoryBytes -= m_memory.front().second;
                    batch.append(std::move(m_memory.front().first));
                    m_memory.pop_front();
                }
            }
        }
        if (!have && spoolFront != 0) {
            try {
                have = m_spool.readFront(batch);
                fromSpool = have;
            } catch (const DatabaseException& e) {
                traceException(e);
            }
        }
        if (!have) {
            waitFor(200);
            continue;
        }
        if (writeOne(batch, fromSpool) && fromSpool) {
            try {
                m_spool.remove(batch.number);
            } catch (const DatabaseException& e) {
                // Written again later, and skipped by the store then.
                traceException(e);
            }
        }
    }
    m_connection.close();
}

} // namespace velmora
