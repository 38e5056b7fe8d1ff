#include "store/PgHistoryReader.h"

#include "db/DatabaseException.h"
#include "db/DeviceClock.h"
#include "store/FleetReader.h"
#include "store/PgTransaction.h"
#include "store/StoreException.h"
#include "store/StoreText.h"

#include <sqlite3.h>

#include <algorithm>

namespace velmora {

namespace {

/// The open ends of an event search in time: what the single desk's text
/// bounds take ("1970-01-01 00:00:00" to "2100-12-31 24:59:59").
constexpr int64_t NO_FROM_SECONDS = 0;
constexpr int64_t NO_TO_SECONDS = 4133980800; // 2101-01-01 00:00:00

EventLog eventLogOf(const StoredEvent& event)
{
    EventLog row;
    row.setId(static_cast<int32_t>(event.id));
    row.setAddress(event.address.c_str());
    row.setName(event.name.c_str());
    row.setTime(StoreText::formatTime(event.time).c_str());
    row.setEventType(event.kind);
    row.setDeviceTitle(event.title.c_str());
    row.setVehicleId(event.vehicle);
    return row;
}

GPSData gpsDataOf(const StoredFix& fix)
{
    GPSData row;
    row.setId(static_cast<int32_t>(fix.id));
    row.setGpsData(fix.sentence.c_str());
    row.setUpdateTime(StoreText::formatTime(fix.time).c_str());
    row.setVehicleId(fix.vehicle);
    return row;
}

/// The fixes of a query over FleetReader::FIX_COLUMNS.
std::vector<GPSData> fixesOf(const PgResult& rows)
{
    std::vector<GPSData> fixes;
    fixes.reserve(static_cast<size_t>(rows.getRowCount()));
    for (int row = 0; row < rows.getRowCount(); ++row) {
        fixes.push_back(gpsDataOf(FleetReader::fixAt(rows, row)));
    }
    return fixes;
}

std::string who(const std::string& user, const std::string& desk)
{
    return desk.empty() || user.empty() ? user : user + " on " + desk;
}

/// The events of one search in the store, paged by id like EventPager.
class PgEventPages : public HistoryReader::EventPages {
public:
    explicit PgEventPages(PgHistoryReader& reader) : m_reader(reader) {}

    int search(const HistoryReader::EventFilter& filter) override
    {
        m_where.clear();
        m_count = 0;
        m_loadedPage = 0;
        std::string condition;
        if (!filter.everything) {
            const int64_t from = filter.from.empty() ? NO_FROM_SECONDS : StoreText::parseTime(filter.from);
            const int64_t to = filter.to.empty() ? NO_TO_SECONDS - 1 : StoreText::parseTime(filter.to);
            // Bounds come from the window's calendar; one that is no time
            // finds nothing, as a text bound that sorts nowhere would.
            if (from == StoreText::NO_TIME || to == StoreText::NO_TIME) {
                condition = "AND false ";
            } else {
                condition = "AND time >= to_timestamp(" + std::to_string(from) + ") AND time <= to_timestamp(" +
                            std::to_string(to) + ") ";
            }
            if (filter.hasVehicle) {
                // toText() writes hex digits and dashes only.
                condition += "AND vehicle_id = '" + filter.vehicle.toText() + "' ";
            }
        }
        m_reader.withConnection([&](PgConnection& connection) {
            PgTransaction transaction(connection, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
            const int64_t horizon =
                connection.execute("SELECT pg_snapshot_xmin(pg_current_snapshot())::text::bigint").getInt64(0, 0);
            const std::string where = "WHERE tx < " + std::to_string(horizon) + " " + condition;
            const PgResult count = connection.execute("SELECT COUNT(*) FROM event_info " + where);
            transaction.commit();
            m_where = where;
            m_count = static_cast<int>(std::min<int64_t>(count.getInt64(0, 0), INT32_MAX));
            return 0;
        });
        return m_count;
    }

    int getCount() const override { return m_count; }

    void loadPage(int page, std::vector<EventLog>& rows) override
    {
        rows.clear();
        if (m_where.empty() || page < 1 || page > getPageCount()) {
            return;
        }
        const int64_t start = static_cast<int64_t>(page - 1) * PAGE_SIZE;
        const int64_t size = std::min<int64_t>(PAGE_SIZE, m_count - start);
        const int64_t after = m_count - start - size;
        const std::string limit = "LIMIT " + std::to_string(size);
        bool reversed = false;
        std::string tail;
        if (m_loadedPage > 0 && page == m_loadedPage + 1) {
            tail = "AND id > " + std::to_string(m_lastId) + " ORDER BY id " + limit;
        } else if (m_loadedPage > 0 && page == m_loadedPage - 1) {
            tail = "AND id < " + std::to_string(m_firstId) + " ORDER BY id DESC " + limit;
            reversed = true;
        } else if (start <= after) {
            tail = "ORDER BY id " + limit + " OFFSET " + std::to_string(start);
        } else {
            // Nearer the end: counted back from the newest row.
            tail = "ORDER BY id DESC " + limit + " OFFSET " + std::to_string(after);
            reversed = true;
        }
        std::vector<StoredEvent> events = select(tail);
        if (reversed) {
            std::reverse(events.begin(), events.end());
        }
        for (const StoredEvent& event : events) {
            rows.push_back(eventLogOf(event));
        }
        if (events.empty()) {
            m_loadedPage = 0;
        } else {
            m_loadedPage = page;
            m_firstId = events.front().id;
            m_lastId = events.back().id;
        }
    }

    void readAfter(int64_t afterId, int count, std::vector<EventLog>& rows, int64_t& lastId) override
    {
        rows.clear();
        if (m_where.empty()) {
            return;
        }
        const std::vector<StoredEvent> events =
            select("AND id > " + std::to_string(afterId) + " ORDER BY id LIMIT " + std::to_string(std::max(1, count)));
        for (const StoredEvent& event : events) {
            rows.push_back(eventLogOf(event));
            lastId = event.id;
        }
    }

private:
    std::vector<StoredEvent> select(const std::string& tail)
    {
        return m_reader.withConnection([&](PgConnection& connection) {
            const PgResult rows =
                connection.execute(std::string("SELECT ") + FleetReader::EVENT_COLUMNS + " FROM event_info " +
                                   m_where + tail);
            std::vector<StoredEvent> events;
            events.reserve(static_cast<size_t>(rows.getRowCount()));
            for (int row = 0; row < rows.getRowCount(); ++row) {
                events.push_back(FleetReader::eventAt(rows, row));
            }
            return events;
        });
    }

    PgHistoryReader& m_reader;
    std::string m_where;
    int m_count = 0;
    int m_loadedPage = 0;
    int64_t m_firstId = 0;
    int64_t m_lastId = 0;
};

} // namespace

PgHistoryReader::PgHistoryReader(std::string conninfo) : m_conninfo(std::move(conninfo)) {}

PgHistoryReader::~PgHistoryReader() = default;

void PgHistoryReader::open()
{
    if (m_connection.isOpen()) {
        return;
    }
    m_connection.open(m_conninfo, "velmora desk history", CONNECT_TIMEOUT_MS);
    m_connection.setCallTimeout(CALL_TIMEOUT_MS);
}

void PgHistoryReader::abort()
{
    m_connection.abortAt(PgConnection::steadyNowMs());
}

void PgHistoryReader::rethrow(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const StoreException& e) {
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), SQLITE_IOERR, e.getMessage());
    }
}

std::unique_ptr<HistoryReader::EventPages> PgHistoryReader::eventPages()
{
    return std::make_unique<PgEventPages>(*this);
}

std::vector<GPSData> PgHistoryReader::loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc)
{
    return withConnection([&](PgConnection& connection) {
        const std::string id = vehicle.toText();
        const std::string columns = FleetReader::FIX_COLUMNS;
        PgResult rows;
        if (hours <= 0) {
            rows = connection.query("SELECT " + columns + " FROM gps_data WHERE vehicle_id = $1 ORDER BY received, id",
                                    {id});
        } else {
            // The vehicle's latest fix first: its sentence tells the device clock.
            const PgResult latest = connection.query(
                "SELECT " + columns + " FROM gps_data WHERE vehicle_id = $1 ORDER BY received DESC, id DESC LIMIT 1",
                {id});
            if (latest.getRowCount() == 0) {
                return std::vector<GPSData>();
            }
            const StoredFix last = FleetReader::fixAt(latest, 0);
            const std::string now =
                DeviceClock::deviceNow(StoreText::formatTime(last.time).c_str(), last.sentence, nowUtc);
            const std::optional<int64_t> present = DeviceClock::parseTimeText(now.c_str());
            const int64_t since = present.value_or(static_cast<int64_t>(nowUtc)) - static_cast<int64_t>(hours) * 3600;
            rows = connection.query("SELECT " + columns +
                                        " FROM gps_data WHERE vehicle_id = $1 AND update_time >= to_timestamp($2) "
                                        "ORDER BY received, id",
                                    {id, since});
        }
        return fixesOf(rows);
    });
}

std::vector<GPSData> PgHistoryReader::loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc, std::time_t toUtc,
                                                       std::time_t nowUtc, int64_t& clockOffset)
{
    clockOffset = 0;
    return withConnection([&](PgConnection& connection) {
        const std::string id = vehicle.toText();
        const std::string columns = FleetReader::FIX_COLUMNS;
        // The vehicle's latest fix first: its sentence tells the device clock.
        const PgResult latest = connection.query(
            "SELECT " + columns + " FROM gps_data WHERE vehicle_id = $1 ORDER BY received DESC, id DESC LIMIT 1", {id});
        if (latest.getRowCount() == 0) {
            return std::vector<GPSData>();
        }
        const StoredFix last = FleetReader::fixAt(latest, 0);
        const std::string now = DeviceClock::deviceNow(StoreText::formatTime(last.time).c_str(), last.sentence, nowUtc);
        const std::optional<int64_t> present = DeviceClock::parseTimeText(now.c_str());
        clockOffset = present ? *present - static_cast<int64_t>(nowUtc) : 0;
        const PgResult rows = connection.query(
            "SELECT " + columns +
                " FROM gps_data WHERE vehicle_id = $1 AND update_time >= to_timestamp($2) AND "
                "update_time <= to_timestamp($3) ORDER BY received, id",
            {id, static_cast<int64_t>(fromUtc) + clockOffset, static_cast<int64_t>(toUtc) + clockOffset});
        return fixesOf(rows);
    });
}

std::vector<AlarmRecord> PgHistoryReader::loadAlarms(std::time_t from, std::time_t to)
{
    return withConnection([&](PgConnection& connection) {
        const PgResult rows = connection.query(std::string("SELECT ") + FleetReader::ALARM_COLUMNS +
                                                   " FROM alarm_info WHERE received >= to_timestamp($1) AND "
                                                   "received < to_timestamp($2) ORDER BY id",
                                               {static_cast<int64_t>(from), static_cast<int64_t>(to)});
        std::vector<AlarmRecord> alarms;
        alarms.reserve(static_cast<size_t>(rows.getRowCount()));
        for (int row = 0; row < rows.getRowCount(); ++row) {
            const StoredAlarm stored = FleetReader::alarmAt(rows, row);
            AlarmRecord record = AlarmRecord::of(stored.alarm);
            record.eventId = static_cast<int32_t>(stored.eventId);
            record.acknowledgedBy = who(stored.alarm.acknowledgedBy, stored.acknowledgedDesk);
            record.closedBy = who(stored.alarm.closedBy, stored.closedDesk);
            alarms.push_back(std::move(record));
        }
        return alarms;
    });
}

} // namespace velmora
