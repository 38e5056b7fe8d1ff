#pragma once

#include "db/EventLog.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

/// The events of one event search, read from event_info a page at a time
/// rather than all into memory, so the event log costs the same at any
/// table size.
///
/// A search fixes its set of events: those matching the condition whose id
/// is at most the newest id at the moment of the search. Ids only grow and
/// rows are never deleted, so events stored while the log is open change
/// neither the count nor any page. Rows come in ascending id, the order
/// DBManager::loadEvents reads them in, and page p (1-based) holds the rows
/// at positions 100 (p - 1) to 100 p - 1 of that order.
///
/// Every read holds the manager lock (DBManager::getLock) for one query
/// only, so the writer never waits for more than a page. Used by one thread.
class EventPager {
public:
    static constexpr int PAGE_SIZE = 100;
    /// Rows per query while walking a whole search.
    static constexpr int CHUNK_SIZE = 1000;
    /// The index that lets a search for one vehicle read only that
    /// vehicle's rows. SQLite keeps the row id as the index's last column,
    /// so within one vehicle its entries stand in id order and a
    /// single-vehicle search still reads rows in table order.
    static constexpr const char* INDEX_SQL =
        "CREATE INDEX IF NOT EXISTS event_info_vehicle_idx ON event_info(vehicle_id);";

    /// Counts the events matching condition (an SQL condition as
    /// DBManager::loadEvents takes it; null or empty for every event) and
    /// fixes the set the pages show. Returns the count. Throws
    /// DatabaseException, also when the tracking database is not open; the
    /// pager then holds an empty search.
    int search(const char* condition);
    int getCount() const { return m_count; }
    /// The count divided by 100, rounded up; 0 for an empty search.
    int getPageCount() const;
    /// Replaces rows with the events of page (1-based); no rows for a page
    /// outside 1 to getPageCount(). Throws DatabaseException.
    void loadPage(int page, std::vector<EventLog>& rows);
    /// Hands every event of the search, once and in order, to visitor in
    /// runs of at most chunkSize; the manager lock is free while visitor
    /// runs. Stops when visitor returns false. Returns whether every event
    /// was handed over. Throws DatabaseException.
    bool forEach(int chunkSize, const std::function<bool(const std::vector<EventLog>&)>& visitor);
    /// Replaces rows with at most count events of the search that follow the
    /// row id afterId, in order, holding the manager lock for that one
    /// query; lastId gets the last row's id. Throws DatabaseException.
    void readAfter(int64_t afterId, int count, std::vector<EventLog>& rows, int64_t& lastId);

    /// Creates the vehicle index (INDEX_SQL) unless the file has it. Takes
    /// the manager lock; does nothing when the database is not open. Throws
    /// DatabaseException.
    static void ensureIndex();

private:
    /// Runs one SELECT over the search's set ("" or "AND ..." for extra,
    /// the ORDER BY/LIMIT tail in order), appends its rows and gives the
    /// ids of the first and last row read.
    void select(const std::string& extra, const std::string& order, std::vector<EventLog>& rows, int64_t& firstId,
                int64_t& lastId);
    void clear();

    // "WHERE (condition) AND id <= newest" or "WHERE id <= newest".
    std::string m_where;
    int m_count = 0;
    // Keyset for the neighbouring pages: the page read last and the ids of
    // its first and last rows (no page when m_loadedPage is 0).
    int m_loadedPage = 0;
    int64_t m_firstId = 0;
    int64_t m_lastId = 0;
};

} // namespace velmora
