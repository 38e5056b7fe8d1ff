#include "receiver/Spool.h"

#include "db/DatabaseException.h"
#include "db/RowSet.h"
#include "db/Statement.h"
#include "foundation/Trace.h"
#include "store/StoreBatch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace velmora {

namespace {

const char* const SCHEMA_SQL =
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS batch (number INTEGER PRIMARY KEY, bytes INTEGER NOT NULL, content BLOB NOT NULL);";

} // namespace

void Spool::open(const std::string& path, int64_t limitBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = path;
    m_limit = limitBytes;
    try {
        openFile();
    } catch (const DatabaseException& e) {
        // Not a spool (or a damaged one): kept aside for a look, never
        // overwritten; the receiver goes on with a new spool.
        traceException(e);
        m_database.close();
        std::error_code code;
        if (!std::filesystem::exists(path, code)) {
            throw;
        }
        std::fprintf(stderr, "velmora-receiver: the spool %s cannot be read (%s); moved aside to %s.damaged\n",
                     path.c_str(), e.getMessage(), path.c_str());
        std::filesystem::rename(path, path + ".damaged", code);
        std::filesystem::remove(path + "-wal", code);
        std::filesystem::remove(path + "-shm", code);
        openFile();
    }
}

void Spool::openFile()
{
    m_database.open(m_path.c_str(), 5000);
    // Incremental vacuum must be chosen before the first table exists; it
    // lets an emptied spool give its pages back to the disk.
    m_database.execute("PRAGMA auto_vacuum = INCREMENTAL;");
    m_database.execute("PRAGMA journal_mode = WAL;");
    // A batch in the spool is the only copy of what devices sent: synced
    // before add() answers.
    m_database.execute("PRAGMA synchronous = FULL;");
    m_database.execute(SCHEMA_SQL);
    readMeta();
    RowSet rows(m_database, "SELECT COUNT(*), COALESCE(SUM(bytes), 0) FROM batch;");
    if (rows.next()) {
        m_count = static_cast<size_t>(rows.getInt64(0));
        m_bytes = rows.getInt64(1);
    }
    m_peak = m_bytes;
}

void Spool::readMeta()
{
    std::string receiver;
    std::string reserved;
    {
        RowSet rows(m_database, "SELECT key, value FROM meta;");
        while (rows.next()) {
            const std::string key = rows.getText(0) != nullptr ? rows.getText(0) : "";
            const std::string value = rows.getText(1) != nullptr ? rows.getText(1) : "";
            if (key == "receiver") {
                receiver = value;
            } else if (key == "reserved") {
                reserved = value;
            }
        }
    }
    if (receiver.empty() || !UniqueID::parse(receiver.c_str(), m_receiver)) {
        m_receiver = UniqueID();
        writeMeta("receiver", m_receiver.toText());
    }
    m_reserved = reserved.empty() ? 0 : std::strtoull(reserved.c_str(), nullptr, 10);
    // Numbers up to the reservation may have been used by the last run.
    m_next = m_reserved + 1;
    RowSet highest(m_database, "SELECT COALESCE(MAX(number), 0) FROM batch;");
    if (highest.next() && static_cast<uint64_t>(highest.getInt64(0)) >= m_next) {
        m_next = static_cast<uint64_t>(highest.getInt64(0)) + 1;
    }
    m_reserved = m_next - 1;
}

void Spool::writeMeta(const char* key, const std::string& value)
{
    Statement statement(m_database, "INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?);");
    statement.bindText(1, key);
    statement.bindText(2, value.c_str());
    statement.execute();
}

void Spool::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_database.close();
}

uint64_t Spool::takeNumber()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_next > m_reserved) {
        const uint64_t reserved = m_next + NUMBER_BLOCK - 1;
        try {
            writeMeta("reserved", std::to_string(reserved));
        } catch (const DatabaseException& e) {
            // Numbering goes on in memory: the batches are still written;
            // only a restart before the next good write could number again.
            std::fprintf(stderr, "velmora-receiver: the spool %s takes no writes: %s\n", m_path.c_str(),
                         e.getMessage());
        }
        m_reserved = reserved;
    }
    return m_next++;
}

bool Spool::add(const StoreBatch& batch)
{
    std::string bytes;
    batch.serialize(bytes);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bytes + static_cast<int64_t>(bytes.size()) > m_limit) {
        return false;
    }
    try {
        Statement statement(m_database, "INSERT OR REPLACE INTO batch (number, bytes, content) VALUES (?, ?, ?);");
        statement.bindInt64(1, static_cast<int64_t>(batch.number));
        statement.bindInt64(2, static_cast<int64_t>(bytes.size()));
        statement.bindBlob(3, bytes.data(), static_cast<int>(bytes.size()));
        statement.execute();
    } catch (const DatabaseException& e) {
        // A full disk or a failing one: the batch is refused like one past
        // the bound.
        traceException(e);
        return false;
    }
    ++m_count;
    m_bytes += static_cast<int64_t>(bytes.size());
    m_peak = std::max(m_peak, m_bytes);
    return true;
}

uint64_t Spool::getFrontNumber()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_count == 0) {
        return 0;
    }
    RowSet rows(m_database, "SELECT number FROM batch ORDER BY number LIMIT 1;");
    return rows.next() ? static_cast<uint64_t>(rows.getInt64(0)) : 0;
}

bool Spool::readFront(StoreBatch& batch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_count > 0) {
        int64_t number = 0;
        bool read = false;
        {
            RowSet rows(m_database, "SELECT number, content FROM batch ORDER BY number LIMIT 1;");
            if (!rows.next()) {
                m_count = 0;
                m_bytes = 0;
                return false;
            }
            number = rows.getInt64(0);
            read = batch.deserialize(rows.getBlob(1), static_cast<size_t>(rows.getBytes(1)));
        }
        if (read) {
            return true;
        }
        ++m_damaged;
        std::fprintf(stderr, "velmora-receiver: spooled batch %lld is damaged and dropped\n",
                     static_cast<long long>(number));
        Statement drop(m_database, "DELETE FROM batch WHERE number = ?;");
        drop.bindInt64(1, number);
        drop.execute();
        --m_count;
    }
    return false;
}

void Spool::remove(uint64_t number)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t bytes = 0;
    {
        RowSet rows(m_database, ("SELECT bytes FROM batch WHERE number = " + std::to_string(number) + ";").c_str());
        if (!rows.next()) {
            return;
        }
        bytes = rows.getInt64(0);
    }
    Statement drop(m_database, "DELETE FROM batch WHERE number = ?;");
    drop.bindInt64(1, static_cast<int64_t>(number));
    drop.execute();
    --m_count;
    m_bytes -= bytes;
    if (m_count == 0) {
        m_bytes = 0;
        // An empty spool gives its pages back.
        m_database.execute("PRAGMA incremental_vacuum; PRAGMA wal_checkpoint(TRUNCATE);");
    }
}

size_t Spool::getCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

int64_t Spool::getBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

int64_t Spool::getPeakBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

int64_t Spool::getFileBytes() const
{
    std::error_code code;
    int64_t bytes = 0;
    for (const char* suffix : {"", "-wal"}) {
        const auto size = std::filesystem::file_size(m_path + suffix, code);
        if (!code) {
            bytes += static_cast<int64_t>(size);
        }
    }
    return bytes;
}

uint64_t Spool::getDamaged() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_damaged;
}

} // namespace velmora
