#include "app/hub/WatchHub.h"

#include "app/hub/IPageRunner.h"
#include "app/hub/IZoneStore.h"
#include "app/hub/RuleSettings.h"
#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "foundation/Trace.h"
#include "mapview/WatchCommands.h"

#include <charconv>
#include <vector>

namespace velmora {

namespace {

bool sameZone(const Zone& a, const Zone& b) {
    return a.getName() == b.getName() && a.shapeText() == b.shapeText() && a.geometryText() == b.geometryText() &&
           a.getAlarmOnEntry() == b.getAlarmOnEntry() && a.getAlarmOnExit() == b.getAlarmOnExit() &&
           a.getDwellSeconds() == b.getDwellSeconds() && a.getSpeedLimitKmh() == b.getSpeedLimitKmh();
}

} // namespace

WatchHub::WatchHub(IPageRunner& page, AbstractSetup& setup) : m_page(page), m_setup(setup) {}

void WatchHub::loadSettings() {
    m_rules.setSettings(RuleSettings::load(m_setup));
    const std::map<UniqueID, int32_t> own = RuleSettings::loadVehicleSilentMinutes(m_setup);
    for (const auto& [id, minutes] : m_ownSilentMinutes) {
        if (own.count(id) == 0) {
            m_rules.setSilentMinutes(id, -1);
        }
    }
    for (const auto& [id, minutes] : own) {
        m_rules.setSilentMinutes(id, minutes);
    }
    m_ownSilentMinutes = own;
}

void WatchHub::loadVehicleSettings(const UniqueID& vehicle) {
    const int32_t minutes = RuleSettings::vehicleSilentMinutes(m_setup, vehicle);
    m_rules.setSilentMinutes(vehicle, minutes);
    if (minutes < 0) {
        m_ownSilentMinutes.erase(vehicle);
    } else {
        m_ownSilentMinutes[vehicle] = minutes;
    }
}

void WatchHub::loadZones() {
    DBManager& database = DBManager::getInstance();
    if (!database.isOpen()) {
        return;
    }
    std::vector<ZoneRecord> rows;
    try {
        database.loadZones(rows);
        m_lastZoneId = std::max(m_lastZoneId, database.lastZoneId());
    } catch (const DatabaseException& e) {
        traceException(e);
        return;
    }
    std::vector<Zone> zones;
    for (const ZoneRecord& row : rows) {
        Zone zone;
        if (row.toZone(zone)) {
            zones.push_back(zone);
        } else {
            trace("WatchHub: stored zone %d has no outline the rules can use", row.id);
        }
    }
    // Read before the page loads: pageLoaded draws them.
    takeZones(zones, false);
    zonesChanged();
}

void WatchHub::replaceZones(const std::vector<Zone>& zones) {
    // The feed brings a desk's own changes back too: an open Zones window
    // is refreshed only when the zones differ from those shown.
    if (takeZones(zones, true)) {
        zonesChanged();
    }
}

bool WatchHub::takeZones(const std::vector<Zone>& zones, bool draw) {
    m_rules.setZones(zones);
    bool changed = false;
    std::map<int32_t, Zone> taken;
    for (const Zone& zone : zones) {
        if (m_rules.findZone(zone.getId()) != nullptr) {
            taken[zone.getId()] = zone;
        }
    }
    for (const auto& [id, zone] : m_zones) {
        if (taken.count(id) == 0) {
            if (draw) {
                m_page.execute(WatchCommands::removeZone(id));
            }
            changed = true;
        }
    }
    for (const auto& [id, zone] : taken) {
        const auto shown = m_zones.find(id);
        if (shown == m_zones.end() || !sameZone(shown->second, zone)) {
            if (draw) {
                m_page.execute(WatchCommands::putZone(zone));
            }
            changed = true;
        }
    }
    m_zones = std::move(taken);
    trace("WatchHub: %zu zones", m_zones.size());
    return changed;
}

void WatchHub::zoneMade(const Zone& zone) {
    if (!m_rules.putZone(zone)) {
        trace("WatchHub: zone %d is no zone the rules can hold", zone.getId());
        return;
    }
    m_zones[zone.getId()] = zone;
    m_page.execute(WatchCommands::putZone(zone));
    zonesChanged();
    if (m_onMade) {
        m_onMade(zone.getId());
    }
}

void WatchHub::pageLoaded() {
    for (const auto& [id, zone] : m_zones) {
        m_page.execute(WatchCommands::putZone(zone));
    }
}

void WatchHub::heard(const UniqueID& vehicle, std::time_t time) { m_rules.heard(vehicle, time); }

void WatchHub::fix(const UniqueID& vehicle, std::time_t time, double latitude, double longitude, double speedKnots) {
    m_rules.fix(vehicle, time, {latitude, longitude}, speedKnots, m_requests);
    deliver();
}

void WatchHub::tick(std::time_t now) {
    m_rules.tick(now, m_requests);
    deliver();
    flush();
}

void WatchHub::forget(const UniqueID& vehicle) {
    m_rules.forget(vehicle);
    m_ownSilentMinutes.erase(vehicle);
}

void WatchHub::deliver() {
    // The listener may be slow (it stores and redraws); the rules' scratch
    // is free again before it runs.
    if (m_requests.empty()) {
        return;
    }
    WatchRules::Requests requests;
    requests.swap(m_requests);
    if (m_onRequest) {
        for (const AlarmRequest& request : requests) {
            m_onRequest(request);
        }
    }
}

int32_t WatchHub::zoneDrawn(const std::string& shape, const std::string& geometry) {
    // The store numbers and names a desk's zone.
    const int32_t id = m_zoneStore != nullptr ? 0 : m_lastZoneId + 1;
    Zone zone;
    if (!Zone::parse(id, id != 0 ? "Zone " + std::to_string(id) : std::string(), shape, geometry, zone)) {
        trace("WatchHub: the page's %s is no zone", shape == "circle" ? "circle" : "polygon");
        return 0;
    }
    if (m_rules.getZoneCount() >= WatchRules::ZONES_MAX) {
        trace("WatchHub: %zu zones are held, no more are taken", m_rules.getZoneCount());
        return 0;
    }
    if (m_zoneStore != nullptr) {
        m_zoneStore->add(zone);
        return 0;
    }
    if (!m_rules.putZone(zone)) {
        trace("WatchHub: %zu zones are held, no more are taken", m_rules.getZoneCount());
        return 0;
    }
    m_lastZoneId = id;
    m_zones[id] = zone;
    store(zone, AbstractDatabaseRecord::OPERATION_INSERT);
    m_page.execute(WatchCommands::putZone(zone));
    zonesChanged();
    if (m_onMade) {
        m_onMade(id);
    }
    return id;
}

bool WatchHub::zoneEdited(const std::string& zoneIdText, const std::string& shape, const std::string& geometry) {
    int32_t id = 0;
    const char* end = zoneIdText.data() + zoneIdText.size();
    const auto read = std::from_chars(zoneIdText.data(), end, id);
    const Zone* known = findZone(id);
    if (read.ec != std::errc() || read.ptr != end || known == nullptr) {
        return false;
    }
    Zone moved;
    if (!Zone::parse(id, known->getName(), shape, geometry, moved)) {
        // The page still shows the moved vertices: draw the zone as it is.
        m_page.execute(WatchCommands::putZone(*known));
        return false;
    }
    moved.setAlarmOnEntry(known->getAlarmOnEntry());
    moved.setAlarmOnExit(known->getAlarmOnExit());
    moved.setDwellSeconds(known->getDwellSeconds());
    moved.setSpeedLimitKmh(known->getSpeedLimitKmh());
    return changeZone(moved);
}

bool WatchHub::changeZone(const Zone& zone) {
    if (m_zones.count(zone.getId()) == 0 || !m_rules.putZone(zone)) {
        return false;
    }
    m_zones[zone.getId()] = zone;
    store(zone, AbstractDatabaseRecord::OPERATION_UPDATE);
    m_page.execute(WatchCommands::putZone(zone));
    zonesChanged();
    return true;
}

bool WatchHub::removeZone(int32_t id) {
    const auto known = m_zones.find(id);
    if (known == m_zones.end()) {
        return false;
    }
    const Zone gone = known->second;
    m_rules.removeZone(id);
    m_zones.erase(known);
    store(gone, AbstractDatabaseRecord::OPERATION_DELETE);
    m_page.execute(WatchCommands::removeZone(id));
    zonesChanged();
    return true;
}

const Zone* WatchHub::findZone(int32_t id) const {
    const auto found = m_zones.find(id);
    return found == m_zones.end() ? nullptr : &found->second;
}

void WatchHub::store(const Zone& zone, AbstractDatabaseRecord::Operation operation) {
    if (m_zoneStore != nullptr) {
        if (operation == AbstractDatabaseRecord::OPERATION_DELETE) {
            m_zoneStore->remove(zone.getId());
        } else {
            m_zoneStore->change(zone);
        }
        return;
    }
    if (!DBManager::getInstance().isOpen()) {
        return;
    }
    ZoneRecord record = ZoneRecord::of(zone);
    record.setOperation(operation);
    // Behind rows still waiting, so a zone is made before it changes.
    if (m_unsaved.empty() && DBManager::getInstance().enqueue(record)) {
        return;
    }
    if (m_unsaved.size() >= UNSAVED_MAX) {
        trace("WatchHub: %zu zone changes wait for the database; the oldest is given up", m_unsaved.size());
        m_unsaved.pop_front();
    }
    m_unsaved.push_back(record);
}

void WatchHub::flush() {
    DBManager& database = DBManager::getInstance();
    while (!m_unsaved.empty() && database.isOpen() && database.enqueue(m_unsaved.front())) {
        m_unsaved.pop_front();
    }
}

void WatchHub::zonesChanged() {
    if (m_onZones) {
        m_onZones();
    }
}

} // namespace velmora
