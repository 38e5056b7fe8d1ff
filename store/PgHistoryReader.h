#pragma once

#include "db/HistoryReader.h"
#include "store/PgConnection.h"

#include <mutex>
#include <string>

namespace velmora {

/// A desk's history read from the store: the event log a page at a time,
/// tracks and the alarm report, on a connection of its own (opened at the
/// first read, opened again after a lost link).
///
/// Event searches are bounded like the feed: a search takes the rows of
/// transactions below the oldest one still running at that moment
/// (FeedReader), so a batch that commits late, with lower ids, can change
/// neither the count nor a page of a search made before it.
///
/// Thread-safe: reads take turns on the connection. Every call can wait
/// for the store (up to the call time-out), so a window calls it off its
/// own thread. Failures throw DatabaseException with the store's words
/// (never the connection string).
class PgHistoryReader : public HistoryReader {
public:
    static constexpr int CONNECT_TIMEOUT_MS = 5000;
    static constexpr int CALL_TIMEOUT_MS = 20000;

    explicit PgHistoryReader(std::string conninfo);
    ~PgHistoryReader() override;
    PgHistoryReader(const PgHistoryReader&) = delete;
    PgHistoryReader& operator=(const PgHistoryReader&) = delete;

    std::unique_ptr<EventPages> eventPages() override;
    std::vector<GPSData> loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc) override;
    std::vector<GPSData> loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc, std::time_t toUtc,
                                          std::time_t nowUtc, int64_t& clockOffset) override;
    std::vector<AlarmRecord> loadAlarms(std::time_t from, std::time_t to) override;

    /// Ends any wait of the connection within a moment; later reads fail
    /// until clearAbort(). Any thread.
    void abort();

    /// Runs read with the connection open, under the reader's turn; a
    /// StoreException becomes a DatabaseException.
    template <typename Read> auto withConnection(Read read) -> decltype(read(std::declval<PgConnection&>()));

private:
    void open();
    [[noreturn]] static void rethrow(const std::exception_ptr& failure);

    std::string m_conninfo;
    std::mutex m_mutex;
    PgConnection m_connection;
};

template <typename Read>
auto PgHistoryReader::withConnection(Read read) -> decltype(read(std::declval<PgConnection&>()))
{
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        open();
        return read(m_connection);
    } catch (...) {
        rethrow(std::current_exception());
    }
}

} // namespace velmora
