#pragma once

#include "db/AlarmRecord.h"
#include "db/EventLog.h"
#include "db/GPSData.h"
#include "foundation/UniqueID.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

/// What the windows read of the fleet's history: the event log a page at a
/// time (and whole, for the CSV export), a vehicle's track of the last hours
/// and the alarms of a time range. The single desk reads its app.db
/// (SqliteHistoryReader), a control-room desk the store (PgHistoryReader);
/// a window is handed one and never asks which.
///
/// Every read that fails throws DatabaseException with the store's own
/// words, whichever store it is.
class HistoryReader {
public:
    /// Which events a search takes: every one, or those with a device time
    /// between the bounds ("YYYY-MM-DD HH:MM:SS", both inclusive; an empty
    /// one is open), of one vehicle or of all.
    struct EventFilter {
        bool everything = true;
        bool hasVehicle = false;
        UniqueID vehicle;
        std::string from;
        std::string to;
    };

    /// The events of one search, read a page at a time. A search fixes its
    /// set: events stored after it change neither the count nor any page.
    /// Rows come in the order they were stored (ascending id); page p
    /// (1-based) holds positions 100 (p - 1) to 100 p - 1. Used by one thread.
    class EventPages {
    public:
        static constexpr int PAGE_SIZE = 100;
        /// Rows per read while walking a whole search.
        static constexpr int CHUNK_SIZE = 1000;

        virtual ~EventPages() = default;
        /// Counts the events of filter and fixes the set; the count.
        virtual int search(const EventFilter& filter) = 0;
        virtual int getCount() const = 0;
        /// The count divided by 100, rounded up; 0 for an empty search.
        int getPageCount() const { return (getCount() + PAGE_SIZE - 1) / PAGE_SIZE; }
        /// Replaces rows with page's events; none outside 1 to getPageCount().
        virtual void loadPage(int page, std::vector<EventLog>& rows) = 0;
        /// Replaces rows with at most count events of the set that follow
        /// the row id afterId (0: from the first), in order; lastId gets the
        /// row id of the last one. None when the walk is over.
        virtual void readAfter(int64_t afterId, int count, std::vector<EventLog>& rows, int64_t& lastId) = 0;
        /// Hands every event of the search, once and in order, to visitor in
        /// runs of at most chunkSize, on the caller's thread; stops when the
        /// visitor returns false. Whether every event was handed over.
        bool forEach(int chunkSize, const std::function<bool(const std::vector<EventLog>&)>& visitor);
    };

    virtual ~HistoryReader() = default;

    /// A pager for event searches.
    virtual std::unique_ptr<EventPages> eventPages() = 0;
    /// The vehicle's fixes of the last hours, counted in the device's own
    /// clock (DeviceClock), in stored order; hours <= 0: every fix.
    virtual std::vector<GPSData> loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc) = 0;
    /// The vehicle's fixes from fromUtc to toUtc (the console's UTC seconds,
    /// both included), counted in the device's own clock as loadTrack
    /// counts, in stored order. clockOffset gets the seconds the device's
    /// clock is ahead of UTC (0 when the vehicle has no fix).
    virtual std::vector<GPSData> loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc, std::time_t toUtc,
                                                  std::time_t nowUtc, int64_t& clockOffset) = 0;
    /// The alarms received from from (inclusive) to to (exclusive), UTC
    /// seconds, in id order.
    virtual std::vector<AlarmRecord> loadAlarms(std::time_t from, std::time_t to) = 0;
};

} // namespace velmora
