#include "db/SqliteHistoryReader.h"

#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/DeviceClock.h"
#include "db/EventPager.h"
#include "db/FormatableSQL.h"
#include "db/GPSDataContainer.h"
#include "foundation/thread/ScopedLock.h"

#include <sqlite3.h>

#include <algorithm>
#include <optional>

namespace velmora {

namespace {

// The event log's bounds when a day is not chosen; text comparison, as the
// stored times are texts of one width.
const char* const NO_FROM = "1970-01-01 00:00:00";
const char* const NO_TO = "2100-12-31 24:59:59";

void requireOpen()
{
    if (!DBManager::getInstance().isOpen()) {
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), SQLITE_MISUSE,
                                SqliteHistoryReader::NOT_OPEN);
    }
}

/// The first loaded fixes of the GPSDataContainer, whose lock the caller
/// holds.
std::vector<GPSData> firstFixes(int loaded)
{
    const GPSDataContainer::List& list = GPSDataContainer::getInstance().getList();
    const size_t count = std::min(list.size(), static_cast<size_t>(std::max(loaded, 0)));
    return std::vector<GPSData>(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(count));
}

class SqliteEventPages : public HistoryReader::EventPages {
public:
    int search(const HistoryReader::EventFilter& filter) override
    {
        requireOpen();
        const std::string condition = SqliteHistoryReader::eventCondition(filter);
        return m_pager.search(condition.empty() ? nullptr : condition.c_str());
    }
    int getCount() const override { return m_pager.getCount(); }
    void loadPage(int page, std::vector<EventLog>& rows) override
    {
        requireOpen();
        m_pager.loadPage(page, rows);
    }
    void readAfter(int64_t afterId, int count, std::vector<EventLog>& rows, int64_t& lastId) override
    {
        requireOpen();
        m_pager.readAfter(afterId, count, rows, lastId);
    }

private:
    EventPager m_pager;
};

} // namespace

SqliteHistoryReader& SqliteHistoryReader::getInstance()
{
    static SqliteHistoryReader instance;
    return instance;
}

std::unique_ptr<HistoryReader::EventPages> SqliteHistoryReader::eventPages()
{
    return std::make_unique<SqliteEventPages>();
}

std::string SqliteHistoryReader::eventCondition(const EventFilter& filter)
{
    if (filter.everything) {
        return {};
    }
    const std::string range = "time between '" + (filter.from.empty() ? std::string(NO_FROM) : filter.from) +
                              "' AND '" + (filter.to.empty() ? std::string(NO_TO) : filter.to) + "' ";
    if (!filter.hasVehicle) {
        return range;
    }
    return "vehicle_id = '" + filter.vehicle.toText() + "' AND " + range;
}

std::string SqliteHistoryReader::alarmCondition(std::time_t from, std::time_t to)
{
    // The stored times are digit texts of one width, so they compare as
    // the times they are.
    return "received >= '" + AlarmRecord::timeText(from) + "' AND received < '" + AlarmRecord::timeText(to) + "'";
}

int SqliteHistoryReader::fillTrack(const std::string& vehicleIdText, int hours, std::time_t nowUtc)
{
    DBManager& manager = DBManager::getInstance();
    GPSDataContainer& container = GPSDataContainer::getInstance();
    ScopedLock lock(container.getLock());
    if (hours <= 0) {
        return manager.loadGPSData(vehicleIdText.c_str());
    }
    // The vehicle's latest fix first: its sentence tells the device clock.
    const FormatableSQL latest("id = (SELECT MAX(id) FROM gps_data WHERE vehicle_id='%q')", vehicleIdText.c_str());
    if (latest.getText() == nullptr || manager.loadGPSData(vehicleIdText.c_str(), latest.getText()) == 0) {
        container.clear();
        return 0;
    }
    const GPSData& last = container.getList().back();
    const std::string now = DeviceClock::deviceNow(last.getUpdateTime(), last.getGpsData(), nowUtc);
    const FormatableSQL since("update_time >= DATETIME('%q', '-%d hours')", now.c_str(), hours);
    if (since.getText() == nullptr) {
        container.clear();
        return 0;
    }
    return manager.loadGPSData(vehicleIdText.c_str(), since.getText());
}

std::vector<GPSData> SqliteHistoryReader::loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc)
{
    requireOpen();
    GPSDataContainer& container = GPSDataContainer::getInstance();
    ScopedLock lock(container.getLock());
    return firstFixes(fillTrack(vehicle.toText(), hours, nowUtc));
}

std::vector<GPSData> SqliteHistoryReader::loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc,
                                                           std::time_t toUtc, std::time_t nowUtc, int64_t& clockOffset)
{
    requireOpen();
    clockOffset = 0;
    const std::string id = vehicle.toText();
    DBManager& manager = DBManager::getInstance();
    GPSDataContainer& container = GPSDataContainer::getInstance();
    ScopedLock lock(container.getLock());
    // The vehicle's latest fix tells how far its clock is from UTC.
    const FormatableSQL latest("id = (SELECT MAX(id) FROM gps_data WHERE vehicle_id='%q')", id.c_str());
    if (latest.getText() == nullptr || manager.loadGPSData(id.c_str(), latest.getText()) == 0) {
        container.clear();
        return {};
    }
    const GPSData& last = container.getList().back();
    const std::optional<int64_t> present =
        DeviceClock::parseTimeText(DeviceClock::deviceNow(last.getUpdateTime(), last.getGpsData(), nowUtc).c_str());
    clockOffset = present ? *present - static_cast<int64_t>(nowUtc) : 0;
    const std::string from = DeviceClock::timeText(static_cast<int64_t>(fromUtc) + clockOffset);
    const std::string to = DeviceClock::timeText(static_cast<int64_t>(toUtc) + clockOffset);
    const FormatableSQL between("update_time >= DATETIME('%q') AND update_time <= DATETIME('%q')", from.c_str(),
                                to.c_str());
    if (between.getText() == nullptr) {
        container.clear();
        return {};
    }
    return firstFixes(manager.loadGPSData(id.c_str(), between.getText()));
}

std::vector<AlarmRecord> SqliteHistoryReader::loadAlarms(std::time_t from, std::time_t to)
{
    requireOpen();
    std::vector<AlarmRecord> alarms;
    DBManager::getInstance().loadAlarms(alarmCondition(from, to), alarms);
    return alarms;
}

} // namespace velmora
