#pragma once

#include "db/HistoryReader.h"

#include <string>

namespace velmora {

/// The single desk's history: its app.db, through DBManager (events paged by
/// EventPager, tracks through the GPSDataContainer, alarms from alarm_info).
/// Reads hold the manager lock one query at a time; they run on the
/// caller's thread.
class SqliteHistoryReader : public HistoryReader {
public:
    /// The one the windows use unless they are handed another.
    static SqliteHistoryReader& getInstance();

    std::unique_ptr<EventPages> eventPages() override;
    std::vector<GPSData> loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc) override;
    std::vector<GPSData> loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc, std::time_t toUtc,
                                          std::time_t nowUtc, int64_t& clockOffset) override;
    std::vector<AlarmRecord> loadAlarms(std::time_t from, std::time_t to) override;

    /// The search condition over event_info of filter: exactly what the
    /// event log has always searched with (text bounds, the upper one
    /// "2100-12-31 24:59:59" when open); empty for every event.
    static std::string eventCondition(const EventFilter& filter);
    /// The alarms received from from (inclusive) to to (exclusive), as a
    /// condition over alarm_info.
    static std::string alarmCondition(std::time_t from, std::time_t to);
    /// Fills the GPSDataContainer with the vehicle's fixes of the last hours
    /// and answers their number (TrackHistory::load). Callers that then walk
    /// the list hold the container's lock around both.
    static int fillTrack(const std::string& vehicleIdText, int hours, std::time_t nowUtc);

    /// What a read says when app.db is not open.
    static constexpr const char* NOT_OPEN = "The tracking database is not open.";
};

} // namespace velmora
