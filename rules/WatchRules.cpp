#include "rules/WatchRules.h"

#include "rules/Alarm.h"
#include "rules/AlarmKinds.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_set>

namespace velmora {

namespace {

// Texts for the operator. Numbers go through to_chars and to_string, which
// never take the locale's decimal comma.

std::string number(double value, int decimals) {
    char text[48];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("?");
}

std::string kmh(double value) { return number(std::round(value), 0) + " km/h"; }

std::string duration(int64_t seconds) {
    if (seconds < 60) {
        return std::to_string(seconds) + " s";
    }
    if (seconds < 3600) {
        const int64_t rest = seconds % 60;
        return std::to_string(seconds / 60) + " min" + (rest != 0 ? " " + std::to_string(rest) + " s" : "");
    }
    const int64_t minutes = (seconds / 60) % 60;
    return std::to_string(seconds / 3600) + " h" + (minutes != 0 ? " " + std::to_string(minutes) + " min" : "");
}

std::string distance(double metres) {
    if (metres < 1000.0) {
        return number(std::round(metres), 0) + " m";
    }
    return number(metres / 1000.0, 1) + " km";
}

std::string when(std::time_t time) { return Alarm::timeText(time); }

} // namespace

size_t WatchRules::IdHash::operator()(const UniqueID& id) const {
    uint64_t low = 0;
    uint64_t high = 0;
    std::memcpy(&low, id.getBytes(), 8);
    std::memcpy(&high, id.getBytes() + 8, 8);
    return static_cast<size_t>(low ^ (high * 0x9E3779B97F4A7C15ULL));
}

WatchRules::WatchRules(Lookup lookup) : m_lookup(lookup) {}

void WatchRules::setSettings(const WatchSettings& settings) {
    m_settings.silentMinutes = std::clamp(settings.silentMinutes, 0, WatchSettings::SILENT_MINUTES_MAX);
    m_settings.speedLimitKmh = std::clamp(settings.speedLimitKmh, 0, WatchSettings::SPEED_LIMIT_MAX);
    m_settings.speedingSeconds = std::clamp(settings.speedingSeconds, 0, WatchSettings::SPEEDING_SECONDS_MAX);
}

bool WatchRules::setSilentMinutes(const UniqueID& vehicle, int32_t minutes) {
    Vehicle* v = vehicleOf(vehicle);
    if (v == nullptr) {
        return false;
    }
    v->silentMinutes = minutes < 0 ? -1 : std::min(minutes, WatchSettings::SILENT_MINUTES_MAX);
    return true;
}

int32_t WatchRules::getSilentMinutes(const UniqueID& vehicle) const {
    const auto found = m_vehicles.find(vehicle);
    return found == m_vehicles.end() ? m_settings.silentMinutes : silentMinutesOf(found->second);
}

int32_t WatchRules::silentMinutesOf(const Vehicle& vehicle) const {
    return vehicle.silentMinutes >= 0 ? vehicle.silentMinutes : m_settings.silentMinutes;
}

WatchRules::Vehicle* WatchRules::vehicleOf(const UniqueID& id) {
    const auto found = m_vehicles.find(id);
    if (found != m_vehicles.end()) {
        return &found->second;
    }
    if (m_vehicles.size() >= VEHICLES_MAX) {
        ++m_refused;
        return nullptr;
    }
    return &m_vehicles[id];
}

void WatchRules::forget(const UniqueID& vehicle) { m_vehicles.erase(vehicle); }

// --- zones ---------------------------------------------------------------

size_t WatchRules::setZones(const std::vector<Zone>& zones) {
    std::unordered_set<int32_t> kept;
    for (const Zone& zone : zones) {
        if (zone.isValid()) {
            kept.insert(zone.getId());
        }
    }
    std::vector<int32_t> gone;
    for (const auto& [id, slot] : m_zoneOfId) {
        if (kept.count(id) == 0) {
            gone.push_back(id);
        }
    }
    for (int32_t id : gone) {
        removeZone(id);
    }
    size_t taken = 0;
    for (const Zone& zone : zones) {
        if (putZone(zone)) {
            ++taken;
        }
    }
    return taken;
}

bool WatchRules::putZone(const Zone& zone) {
    if (!zone.isValid()) {
        return false;
    }
    const auto known = m_zoneOfId.find(zone.getId());
    if (known != m_zoneOfId.end()) {
        ZoneSlot& slot = m_zones[known->second];
        if (!slot.zone.sameGeometry(zone)) {
            // A new outline is a new zone to the vehicles: the old revision's
            // presences lapse and every vehicle is seeded again.
            m_index.remove(known->second, slot.zone);
            m_index.insert(known->second, zone);
            slot.revision = ++m_revision;
        }
        slot.zone = zone;
        return true;
    }
    if (m_zoneOfId.size() >= ZONES_MAX) {
        return false;
    }
    uint32_t index = 0;
    if (!m_freeSlots.empty()) {
        index = m_freeSlots.back();
        m_freeSlots.pop_back();
    } else {
        index = static_cast<uint32_t>(m_zones.size());
        m_zones.emplace_back();
    }
    ZoneSlot& slot = m_zones[index];
    slot.zone = zone;
    slot.revision = ++m_revision;
    slot.live = true;
    m_index.insert(index, zone);
    m_zoneOfId[zone.getId()] = index;
    return true;
}

bool WatchRules::removeZone(int32_t id) {
    const auto known = m_zoneOfId.find(id);
    if (known == m_zoneOfId.end()) {
        return false;
    }
    ZoneSlot& slot = m_zones[known->second];
    m_index.remove(known->second, slot.zone);
    slot.live = false;
    slot.zone = Zone();
    m_freeSlots.push_back(known->second);
    m_zoneOfId.erase(known);
    return true;
}

const Zone* WatchRules::findZone(int32_t id) const {
    const auto known = m_zoneOfId.find(id);
    return known == m_zoneOfId.end() ? nullptr : &m_zones[known->second].zone;
}

void WatchRules::findZones(GeoPoint position) {
    m_inside.clear();
    if (m_lookup == Lookup::Index) {
        m_candidates.clear();
        m_index.candidates(position, m_candidates);
        for (uint32_t slot : m_candidates) {
            if (m_zones[slot].live && m_zones[slot].zone.contains(position)) {
                m_inside.push_back(slot);
            }
        }
        return;
    }
    for (uint32_t slot = 0; slot < m_zones.size(); ++slot) {
        if (m_zones[slot].live && m_zones[slot].zone.contains(position)) {
            m_inside.push_back(slot);
        }
    }
}

std::vector<int32_t> WatchRules::zonesAt(GeoPoint point) const {
    std::vector<uint32_t> candidates;
    m_index.candidates(point, candidates);
    std::vector<int32_t> ids;
    for (uint32_t slot : candidates) {
        if (m_zones[slot].live && m_zones[slot].zone.contains(point)) {
            ids.push_back(m_zones[slot].zone.getId());
        }
    }
    return ids;
}

// --- messages and fixes --------------------------------------------------

void WatchRules::hear(Vehicle& vehicle, std::time_t time) {
    if (!vehicle.everHeard || time > vehicle.lastHeard) {
        vehicle.lastHeard = time;
    }
    vehicle.everHeard = true;
    // The first message after the alarm is the one "heard again" names;
    // the note itself is written at the next tick.
    if (vehicle.silence == Silence::Silent && !vehicle.returned) {
        vehicle.returned = true;
        vehicle.returnedAt = time;
    }
}

void WatchRules::heard(const UniqueID& vehicle, std::time_t time) {
    if (Vehicle* v = vehicleOf(vehicle)) {
        hear(*v, time);
    }
}

void WatchRules::fix(const UniqueID& id, std::time_t time, GeoPoint position, double speedKnots, Requests& out) {
    Vehicle* vehicle = vehicleOf(id);
    if (vehicle == nullptr) {
        return;
    }
    hear(*vehicle, time);
    if (!position.isValid() || (vehicle->hasFix && time < vehicle->lastFix)) {
        return;
    }
    findZones(position);
    updateZones(id, *vehicle, time, position, out);
    updateSpeed(id, *vehicle, time, position, speedKnots, out);
    vehicle->hasFix = true;
    vehicle->lastFix = time;
    vehicle->lastPosition = position;
    vehicle->zoneRevision = m_revision;
}

void WatchRules::updateZones(const UniqueID& id, Vehicle& vehicle, std::time_t time, GeoPoint position,
                             Requests& out) {
    std::vector<Presence>& known = vehicle.zones;
    // The zones the vehicle is counted inside, or about to change in.
    for (size_t i = 0; i < known.size();) {
        Presence& presence = known[i];
        const bool current = presence.slot < m_zones.size() && m_zones[presence.slot].live &&
                             m_zones[presence.slot].revision == presence.revision;
        if (current) {
            const bool inside = std::binary_search(m_inside.begin(), m_inside.end(), presence.slot);
            countDwell(id, presence, inside, time, position, out);
        }
        // Counted outside with nothing pending is what every other zone
        // is: no need to keep it.
        if (!current || (!presence.inside && !presence.pending)) {
            presence = known.back();
            known.pop_back();
        } else {
            ++i;
        }
    }
    // Zones holding the fix that the vehicle was counted outside of, or has
    // not been seen against yet.
    for (uint32_t slot : m_inside) {
        if (std::any_of(known.begin(), known.end(), [slot](const Presence& p) { return p.slot == slot; })) {
            continue;
        }
        Presence presence;
        presence.slot = slot;
        presence.revision = m_zones[slot].revision;
        if (vehicle.hasFix && presence.revision <= vehicle.zoneRevision) {
            // The zone was there at the last fix, which was outside.
            countDwell(id, presence, true, time, position, out);
        } else {
            // The first fix since the zone appeared: where the vehicle is,
            // not where it went.
            presence.inside = true;
        }
        if (presence.inside || presence.pending) {
            known.push_back(presence);
        }
    }
}

void WatchRules::countDwell(const UniqueID& id, Presence& presence, bool inside, std::time_t time,
                            GeoPoint position, Requests& out) {
    if (inside == presence.inside) {
        // Back on the counted side: a drive-by or a jitter, forgotten.
        presence.pending = false;
        return;
    }
    if (!presence.pending) {
        presence.pending = true;
        presence.pendingSince = time;
    }
    const Zone& zone = m_zones[presence.slot].zone;
    if (time - presence.pendingSince < zone.getDwellSeconds()) {
        return;
    }
    presence.inside = inside;
    presence.pending = false;
    if (inside ? !zone.getAlarmOnEntry() : !zone.getAlarmOnExit()) {
        return;
    }
    AlarmRequest r = request(AlarmRequest::RAISE, id, inside ? AlarmKinds::ZONE_ENTRY : AlarmKinds::ZONE_EXIT, time);
    r.since = presence.pendingSince;
    r.hasPosition = true;
    r.position = position;
    r.zoneId = zone.getId();
    r.zoneName = zone.getName();
    r.title = (inside ? "Entered " : "Left ") + zone.getName();
    r.text = (inside ? "In zone " : "Out of zone ") + zone.getName() + " since " + when(presence.pendingSince) +
             " (dwell " + std::to_string(zone.getDwellSeconds()) + " s)";
    out.push_back(std::move(r));
}

void WatchRules::updateSpeed(const UniqueID& id, Vehicle& vehicle, std::time_t time, GeoPoint position,
                             double speedKnots, Requests& out) {
    // The lowest limit of the zones holding the fix, if any has one.
    int32_t limit = 0;
    int32_t limitZone = 0;
    for (uint32_t slot : m_inside) {
        const Zone& zone = m_zones[slot].zone;
        if (zone.getSpeedLimitKmh() > 0 && (limit == 0 || zone.getSpeedLimitKmh() < limit)) {
            limit = zone.getSpeedLimitKmh();
            limitZone = zone.getId();
        }
    }
    if (limit == 0) {
        limit = m_settings.speedLimitKmh;
    }
    const double speedKmh = speedKnots * KMH_PER_KNOT;
    const SpeedEpisode::Change change =
        vehicle.speed.step(time, position, speedKmh, limit, m_settings.speedingSeconds);
    const SpeedEpisode& episode = vehicle.speed;
    if (change == SpeedEpisode::Change::Started) {
        vehicle.speedZoneId = limitZone;
        AlarmRequest r = request(AlarmRequest::RAISE, id, AlarmKinds::SPEEDING, time);
        r.since = episode.getStart();
        r.hasPosition = true;
        r.position = position;
        r.speedKmh = episode.getPeakKmh();
        r.limitKmh = episode.getLimitKmh();
        r.zoneId = limitZone;
        if (const Zone* zone = findZone(limitZone)) {
            r.zoneName = zone->getName();
        }
        r.title = "Speeding " + kmh(r.speedKmh) + ", limit " + kmh(r.limitKmh);
        r.text = "Above " + kmh(r.limitKmh) + (r.zoneName.empty() ? "" : " in zone " + r.zoneName) + " since " +
                 when(r.since) + ", " + kmh(r.speedKmh) + " so far";
        out.push_back(std::move(r));
    } else if (change == SpeedEpisode::Change::Ended) {
        AlarmRequest r = request(AlarmRequest::NOTE, id, AlarmKinds::SPEEDING, time);
        r.since = episode.getStart();
        r.hasPosition = true;
        r.position = position;
        r.speedKmh = episode.getPeakKmh();
        r.limitKmh = episode.getLimitKmh();
        r.zoneId = vehicle.speedZoneId;
        r.durationSeconds = episode.getDuration();
        r.distanceMetres = episode.getDistanceMetres();
        r.text = "Speeding ended at " + when(time) + ": " + duration(r.durationSeconds) + ", " +
                 distance(r.distanceMetres) + ", peak " + kmh(r.speedKmh);
        out.push_back(std::move(r));
    }
}

// --- silence -------------------------------------------------------------

void WatchRules::tick(std::time_t now, Requests& out) {
    for (auto& [id, vehicle] : m_vehicles) {
        if (vehicle.everHeard) {
            checkSilence(id, vehicle, now, out);
        }
    }
}

void WatchRules::checkSilence(const UniqueID& id, Vehicle& vehicle, std::time_t now, Requests& out) {
    const int32_t minutes = silentMinutesOf(vehicle);
    const bool quiet = minutes > 0 && now - vehicle.lastHeard >= static_cast<std::time_t>(minutes) * 60;
    if (vehicle.silence == Silence::Silent) {
        if (!vehicle.returned) {
            return;
        }
        AlarmRequest r = request(AlarmRequest::NOTE, id, AlarmKinds::SILENT, vehicle.returnedAt);
        r.since = vehicle.silentSince;
        r.durationSeconds = vehicle.returnedAt - vehicle.silentSince;
        r.text = "Heard again at " + when(vehicle.returnedAt) + " after " + duration(r.durationSeconds) +
                 " without a message";
        out.push_back(std::move(r));
        vehicle.silence = Silence::Back;
        vehicle.backSince = vehicle.returnedAt;
    }
    if (vehicle.silence == Silence::Back) {
        if (vehicle.lastHeard - vehicle.backSince >= REARM_SECONDS) {
            vehicle.silence = Silence::Armed;
        } else {
            if (quiet) {
                // Quiet again before it was back for good: the same alarm
                // says so, no new one.
                vehicle.silence = Silence::Silent;
                vehicle.returned = false;
                AlarmRequest r = request(AlarmRequest::NOTE, id, AlarmKinds::SILENT, now);
                r.since = vehicle.lastHeard;
                r.text = "Not heard again since " + when(vehicle.lastHeard);
                out.push_back(std::move(r));
                endSpeedingAtSilence(id, vehicle, out);
            }
            return;
        }
    }
    if (!quiet) {
        return;
    }
    vehicle.silence = Silence::Silent;
    vehicle.silentSince = vehicle.lastHeard;
    vehicle.returned = false;
    AlarmRequest r = request(AlarmRequest::RAISE, id, AlarmKinds::SILENT, now);
    r.since = vehicle.lastHeard;
    r.hasPosition = vehicle.hasFix;
    r.position = vehicle.lastPosition;
    r.title = "Not heard for " + std::to_string(minutes) + " min";
    r.text = "Not heard since " + when(vehicle.lastHeard) + (vehicle.hasFix ? ", last fix " + when(vehicle.lastFix) : "");
    out.push_back(std::move(r));
    endSpeedingAtSilence(id, vehicle, out);
}

void WatchRules::endSpeedingAtSilence(const UniqueID& id, Vehicle& vehicle, Requests& out) {
    // An episode cannot run on through a silence: it ends at the last fix.
    if (!vehicle.speed.stop()) {
        return;
    }
    const SpeedEpisode& episode = vehicle.speed;
    AlarmRequest r = request(AlarmRequest::NOTE, id, AlarmKinds::SPEEDING, episode.getEnd());
    r.since = episode.getStart();
    r.hasPosition = true;
    r.position = vehicle.lastPosition;
    r.speedKmh = episode.getPeakKmh();
    r.limitKmh = episode.getLimitKmh();
    r.zoneId = vehicle.speedZoneId;
    r.durationSeconds = episode.getDuration();
    r.distanceMetres = episode.getDistanceMetres();
    r.text = "Speeding ended with the last fix at " + when(episode.getEnd()) + " (no fixes since): " +
             duration(r.durationSeconds) + ", " + distance(r.distanceMetres) + ", peak " + kmh(r.speedKmh);
    out.push_back(std::move(r));
}

AlarmRequest WatchRules::request(AlarmRequest::Step step, const UniqueID& id, int32_t kind, std::time_t time) const {
    AlarmRequest r;
    r.step = step;
    r.vehicle = id;
    r.kind = kind;
    r.time = time;
    return r;
}

} // namespace velmora
