#pragma once

#include "db/Database.h"
#include "foundation/UniqueID.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace velmora {

class StoreBatch;

/// The receiver's spool: batches not written to the store yet, kept in a
/// local SQLite file in batch-number order, so the store may be away for a
/// while without a datagram being lost. Bounded in bytes: a batch past the
/// bound is refused (the caller counts and logs it), never held in memory.
///
/// The file also keeps who this receiver is (a random id, made with the
/// file) and the batch numbers it has handed out: numbers are reserved in
/// blocks, durably, so after a restart they continue above every number
/// used before, and the store can tell a replayed batch from a new one.
///
/// Thread-safe: one mutex guards the file; every call is short.
class Spool {
public:
    static constexpr int64_t DEFAULT_LIMIT_BYTES = 1024LL * 1024 * 1024;
    /// Batch numbers reserved by one durable write.
    static constexpr uint64_t NUMBER_BLOCK = 100000;

    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    /// Opens the spool at path, making it when missing. A file that is not
    /// a spool is moved aside to path + ".damaged" (and said so on standard
    /// error), and a new one made. Throws DatabaseException when no spool
    /// can be opened there.
    void open(const std::string& path, int64_t limitBytes);
    void close();

    const UniqueID& getReceiver() const { return m_receiver; }
    /// The next batch number; durable before it is handed out (a file that
    /// takes no writes is said so on standard error, and numbering goes on).
    uint64_t takeNumber();

    /// Keeps batch; false when it would pass the bound or the file refuses
    /// it (the batch is then not kept).
    bool add(const StoreBatch& batch);
    /// The number of the oldest batch held; 0 when none.
    uint64_t getFrontNumber();
    /// The oldest batch held; false when none. A damaged entry is dropped
    /// and counted (getDamaged), and the next one read.
    bool readFront(StoreBatch& batch);
    /// Drops the batch of number (written to the store).
    void remove(uint64_t number);

    size_t getCount() const;
    /// Bytes of the batches held.
    int64_t getBytes() const;
    /// The most bytes held at once since open.
    int64_t getPeakBytes() const;
    /// The size of the file (with its write-ahead log) on disk.
    int64_t getFileBytes() const;
    uint64_t getDamaged() const;
    const std::string& getPath() const { return m_path; }

private:
    void openFile();
    void readMeta();
    void writeMeta(const char* key, const std::string& value);

    mutable std::mutex m_mutex;
    Database m_database;
    std::string m_path;
    int64_t m_limit = DEFAULT_LIMIT_BYTES;
    UniqueID m_receiver;
    uint64_t m_next = 1;
    uint64_t m_reserved = 0;
    size_t m_count = 0;
    int64_t m_bytes = 0;
    int64_t m_peak = 0;
    uint64_t m_damaged = 0;
};

} // namespace velmora
