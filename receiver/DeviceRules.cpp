#include "receiver/DeviceRules.h"

#include "intake/CallbackInfo.h"
#include "intake/GPSInfo.h"
#include "rules/AlarmKinds.h"
#include "store/SharedSettings.h"
#include "store/StoreText.h"
#include "store/StoredAlarm.h"
#include "store/StoredVehicle.h"

#include <cmath>
#include <iterator>

namespace velmora {

namespace {

// The optional-information keys a device sends, in StoreBatch's order.
const char* const INFO_KEYS[StoreBatch::INFO_COUNT] = {"Company", "Maker", "Model", "Registration", "Driver",
                                                       "License"};
const uint32_t INFO_FIELDS[StoreBatch::INFO_COUNT] = {StoreBatch::COMPANY, StoreBatch::MAKER,
                                                      StoreBatch::MODEL,   StoreBatch::REGISTRATION,
                                                      StoreBatch::DRIVER,  StoreBatch::LICENSE};

// Field positions in a $GPRMC sentence as GPSInfo splits it.
constexpr size_t LATITUDE_FIELD = 3;
constexpr size_t LONGITUDE_FIELD = 5;

std::string stored(const std::string& text, size_t maxBytes)
{
    return StoreText::clean(StoreText::cut(text, maxBytes));
}

} // namespace

DeviceRules::DeviceRules()
{
    // The store's defaults, until its settings are read.
    m_alarms.setPriorities(SharedSettings::defaultPriorities());
}

bool DeviceRules::hasPosition(const GPSInfo& fix)
{
    const auto& fields = fix.getFields();
    if (!fix.hasPosition() || fields.size() <= LONGITUDE_FIELD || fields[LATITUDE_FIELD].empty() ||
        fields[LONGITUDE_FIELD].empty()) {
        return false;
    }
    const double latitude = fix.getLatitude();
    const double longitude = fix.getLongitude();
    // NaN fails every comparison, so it is no position either.
    return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90.0 && latitude <= 90.0 &&
           longitude >= -180.0 && longitude <= 180.0;
}

void DeviceRules::setFleet(const std::vector<StoredVehicle>& vehicles)
{
    ById<Known> kept;
    for (const UniqueID& id : m_created) {
        const auto found = m_fleet.find(id);
        if (found != m_fleet.end()) {
            kept.insert(*found);
        }
    }
    for (const auto& entry : m_unconfirmed) {
        const auto found = m_fleet.find(entry.first);
        if (found != m_fleet.end()) {
            kept.insert(*found);
        }
    }
    m_fleet.swap(kept);
    for (const StoredVehicle& vehicle : vehicles) {
        updateVehicle(vehicle);
    }
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        it = m_fleet.count(it->first) != 0 ? std::next(it) : m_pending.erase(it);
    }
}

std::vector<UniqueID> DeviceRules::getFleetIds() const
{
    std::vector<UniqueID> ids;
    ids.reserve(m_fleet.size());
    for (const auto& entry : m_fleet) {
        ids.push_back(entry.first);
    }
    return ids;
}

void DeviceRules::handedOver(uint64_t number)
{
    for (const UniqueID& id : m_created) {
        m_unconfirmed[id] = number;
    }
    m_created.clear();
}

void DeviceRules::confirmed(uint64_t number)
{
    for (auto it = m_unconfirmed.begin(); it != m_unconfirmed.end();) {
        it = it->second <= number ? m_unconfirmed.erase(it) : std::next(it);
    }
}

void DeviceRules::updateVehicle(const StoredVehicle& vehicle)
{
    Known& known = m_fleet[vehicle.id];
    known.name = vehicle.name;
    known.editedName = vehicle.editedName;
    const std::string* info[StoreBatch::INFO_COUNT] = {&vehicle.company,      &vehicle.maker,  &vehicle.model,
                                                       &vehicle.registration, &vehicle.driver, &vehicle.license};
    for (int i = 0; i < StoreBatch::INFO_COUNT; ++i) {
        known.info[i] = *info[i];
    }
    known.deleted = vehicle.deleted;
    if (known.deleted) {
        // A removed vehicle is not watched: no silence, no zones.
        m_watch.forget(vehicle.id);
    }
}

void DeviceRules::forgetVehicle(const UniqueID& id)
{
    m_fleet.erase(id);
    m_pending.erase(id);
    m_unconfirmed.erase(id);
    m_watch.forget(id);
}

void DeviceRules::setPriorities(const AlarmBook::Priorities& priorities)
{
    m_alarms.setPriorities(priorities);
}

void DeviceRules::restoreAlarms(const std::vector<StoredAlarm>& open)
{
    int32_t lastId = 0;
    for (const StoredAlarm& stored : open) {
        lastId = std::max(lastId, stored.alarm.id);
    }
    AlarmBook book(lastId);
    book.setPriorities(m_alarms.getPriorities());
    for (const StoredAlarm& stored : open) {
        book.restore(stored.alarm);
    }
    m_alarms = std::move(book);
}

void DeviceRules::setWatchSettings(const WatchSettings& settings, const std::map<UniqueID, int32_t>& silentMinutes)
{
    m_watch.setSettings(settings);
    for (const auto& [id, minutes] : m_silentMinutes) {
        if (silentMinutes.count(id) == 0) {
            m_watch.setSilentMinutes(id, -1);
        }
    }
    for (const auto& [id, minutes] : silentMinutes) {
        m_watch.setSilentMinutes(id, minutes);
    }
    m_silentMinutes = silentMinutes;
}

void DeviceRules::setZones(const std::vector<Zone>& zones)
{
    m_watch.setZones(zones);
}

void DeviceRules::tick(std::time_t now, int64_t receivedMicros, StoreBatch& batch)
{
    m_watch.tick(now, m_requests);
    applyRequests(receivedMicros, batch);
}

void DeviceRules::applyRequests(int64_t receivedMicros, StoreBatch& batch)
{
    for (const AlarmRequest& request : m_requests) {
        ++m_counters.ruleRequests;
        if (request.step == AlarmRequest::RAISE) {
            raiseRule(request, receivedMicros, batch);
        } else {
            noteRule(request, batch);
        }
    }
    m_requests.clear();
}

void DeviceRules::raiseRule(const AlarmRequest& request, int64_t receivedMicros, StoreBatch& batch)
{
    const auto found = m_fleet.find(request.vehicle);
    if (found == m_fleet.end() || found->second.deleted) {
        return;
    }
    const std::string& name = found->second.editedName.empty() ? found->second.name : found->second.editedName;
    // The event first: the event log shows what a rule found, an alarm kind
    // or a plain event by the operator's priorities.
    StoreBatch::Event event;
    event.received = receivedMicros;
    event.vehicle = request.vehicle;
    event.name = stored(name, EVENT_NAME_MAX);
    event.time = request.time;
    event.kind = request.kind;
    event.title = stored(request.title, EVENT_TITLE_MAX);
    batch.events.push_back(std::move(event));

    const Alarm* open = m_alarms.openAlarmOf(request.vehicle, request.kind);
    const size_t notedBefore = open != nullptr ? open->notes.size() : 0;
    const Alarm* alarm = nullptr;
    const AlarmBook::Result result = m_alarms.raiseRule(request, name, &alarm);
    if (result == AlarmBook::Result::Full) {
        ++m_counters.alarmsRefused;
        return;
    }
    if (result != AlarmBook::Result::Raised && result != AlarmBook::Result::Repeated) {
        return;
    }
    ++(result == AlarmBook::Result::Raised ? m_counters.alarmsRaised : m_counters.alarmsRepeated);
    StoreBatch::AlarmRaise raise;
    raise.vehicle = request.vehicle;
    raise.vehicleName = StoreText::clean(AlarmBook::cut(name, AlarmBook::DEVICE_TEXT_MAX));
    raise.kind = request.kind;
    raise.priority = alarm->priority;
    raise.title = StoreText::clean(AlarmBook::cut(request.title, AlarmBook::DEVICE_TEXT_MAX));
    raise.first = request.time;
    raise.last = request.time;
    raise.count = 1;
    raise.event = static_cast<int32_t>(batch.events.size() - 1);
    // The lines the book wrote: a new alarm's notes, or what a repeat added.
    std::string added = result == AlarmBook::Result::Raised ? alarm->notes : alarm->notes.substr(notedBefore);
    if (!added.empty() && added.front() == '\n') {
        added.erase(0, 1);
    }
    raise.notes = StoreText::clean(added);
    batch.raise(raise);
}

void DeviceRules::noteRule(const AlarmRequest& request, StoreBatch& batch)
{
    const Alarm* alarm = nullptr;
    if (m_alarms.noteRule(request, &alarm) != AlarmBook::Result::Done) {
        return; // closed by a desk, or its notes are full
    }
    const size_t lastLine = alarm->notes.rfind('\n');
    StoreBatch::AlarmNote note;
    note.vehicle = request.vehicle;
    note.kind = request.kind;
    note.text = StoreText::clean(lastLine == std::string::npos ? alarm->notes : alarm->notes.substr(lastLine + 1));
    batch.alarmNotes.push_back(std::move(note));
}

int64_t DeviceRules::deviceTime(const CallbackInfo& message)
{
    const DateTime& time = message.getTime();
    const int32_t date = time.getDate().getValue();
    const int32_t clock = time.getTime().getValue();
    if (!m_hasLastTime || date != m_lastDate || clock != m_lastTime) {
        m_lastSeconds = StoreText::parseTime(StoreText::deviceTimeText(time));
        m_lastDate = date;
        m_lastTime = clock;
        m_hasLastTime = true;
    }
    return m_lastSeconds;
}

void DeviceRules::apply(const CallbackInfo& message, int64_t receivedMicros, std::time_t now, StoreBatch& batch)
{
    const int32_t kind = message.getEventType();
    if (kind < CallbackInfo::EVENT_GPS) {
        onEvent(message, receivedMicros, now, batch);
    } else if (kind == CallbackInfo::EVENT_GPS) {
        onFix(message, receivedMicros, now, batch);
    } else if (kind == CallbackInfo::EVENT_OPTIONAL_INFO) {
        onOptionalInfo(message, now, batch);
    }
    if (!m_requests.empty()) {
        applyRequests(receivedMicros, batch);
    }
}

void DeviceRules::rename(const UniqueID& id, Known& known, const std::string& name, StoreBatch& batch)
{
    if (name == known.name) {
        return;
    }
    known.name = name;
    StoreBatch::VehicleState& state = batch.vehicle(id);
    state.fields |= StoreBatch::NAME;
    state.name = StoreText::clean(name);
    state.described = true;
}

void DeviceRules::onFix(const CallbackInfo& message, int64_t receivedMicros, std::time_t now, StoreBatch& batch)
{
    ++m_counters.fixes;
    const UniqueID& id = message.getVehicleID();
    const int64_t time = deviceTime(message);
    const std::string& sentence = message.getGpsData();
    const GPSInfo fix(sentence);
    const bool moves = !sentence.empty() && hasPosition(fix);
    const auto found = m_fleet.find(id);
    if (found == m_fleet.end() || !found->second.deleted) {
        // Watched at the receiver's clock: a device's own may be anything.
        if (moves) {
            m_watch.fix(id, now, {fix.getLatitude(), fix.getLongitude()}, fix.getSpeed(), m_requests);
        } else {
            m_watch.heard(id, now);
        }
    }
    if (found == m_fleet.end()) {
        // The first fix makes the vehicle, named and timed by it.
        Known& known = m_fleet[id];
        known.name = message.getVehicleName();
        batch.newVehicles.push_back({id, StoreText::clean(known.name), time});
        m_created.push_back(id);
        ++m_counters.newVehicles;
        if (moves) {
            Pending& pending = waiting(id);
            pending.time = time;
            pending.moved = true;
            pending.latitude = fix.getLatitude();
            pending.longitude = fix.getLongitude();
        }
    } else if (!found->second.deleted) {
        rename(id, found->second, message.getVehicleName(), batch);
        Pending& pending = waiting(id);
        pending.time = time;
        if (moves) {
            pending.moved = true;
            pending.latitude = fix.getLatitude();
            pending.longitude = fix.getLongitude();
        }
    }
    // The sentence is kept even when it says nothing useful: what the
    // device sent is on record (a removed vehicle's too).
    if (!sentence.empty()) {
        batch.fixes.push_back({receivedMicros, id, time, stored(sentence, FIX_SENTENCE_MAX)});
    }
}

void DeviceRules::onEvent(const CallbackInfo& message, int64_t receivedMicros, std::time_t now, StoreBatch& batch)
{
    const UniqueID& id = message.getVehicleID();
    const auto found = m_fleet.find(id);
    if (found == m_fleet.end() || found->second.deleted) {
        ++m_counters.dropped;
        return;
    }
    ++m_counters.events;
    m_watch.heard(id, now);
    // The operator's name for the vehicle goes into the log and the alarm.
    const std::string& edited = found->second.editedName;
    const std::string& name = edited.empty() ? message.getVehicleName() : edited;
    StoreBatch::Event event;
    event.received = receivedMicros;
    event.vehicle = id;
    event.address = stored(message.getAddress(), EVENT_ADDRESS_MAX);
    event.name = stored(name, EVENT_NAME_MAX);
    event.time = deviceTime(message);
    event.kind = message.getEventType();
    event.title = stored(message.getDeviceTitle(), EVENT_TITLE_MAX);
    batch.events.push_back(std::move(event));

    const Alarm* alarm = nullptr;
    const AlarmBook::Result result =
        m_alarms.raise(id, name, message.getEventType(), message.getDeviceTitle(), message.getAddress(), now, &alarm);
    if (result == AlarmBook::Result::Full) {
        ++m_counters.alarmsRefused;
        return;
    }
    if (result != AlarmBook::Result::Raised && result != AlarmBook::Result::Repeated) {
        return;
    }
    ++(result == AlarmBook::Result::Raised ? m_counters.alarmsRaised : m_counters.alarmsRepeated);
    // This event's own texts, in case the store opens a new alarm for it.
    StoreBatch::AlarmRaise raise;
    raise.vehicle = id;
    raise.vehicleName = StoreText::clean(AlarmBook::cut(name, AlarmBook::DEVICE_TEXT_MAX));
    raise.kind = message.getEventType();
    raise.priority = alarm->priority;
    raise.title = StoreText::clean(AlarmBook::cut(message.getDeviceTitle(), AlarmBook::DEVICE_TEXT_MAX));
    raise.address = StoreText::clean(AlarmBook::cut(message.getAddress(), AlarmBook::DEVICE_TEXT_MAX));
    raise.first = now;
    raise.last = now;
    raise.count = 1;
    raise.event = static_cast<int32_t>(batch.events.size() - 1);
    batch.raise(raise);
}

void DeviceRules::onOptionalInfo(const CallbackInfo& message, std::time_t now, StoreBatch& batch)
{
    const UniqueID& id = message.getVehicleID();
    const auto found = m_fleet.find(id);
    if (found == m_fleet.end() || found->second.deleted) {
        ++m_counters.dropped;
        return;
    }
    ++m_counters.infos;
    m_watch.heard(id, now);
    Known& known = found->second;
    rename(id, known, message.getVehicleName(), batch);
    // A key the device left out keeps the value it sent before.
    const CallbackInfo::OptionalInfo& pairs = message.optionalInfo();
    for (int i = 0; i < StoreBatch::INFO_COUNT; ++i) {
        const auto value = pairs.find(INFO_KEYS[i]);
        if (value == pairs.end() || value->second == known.info[i]) {
            continue;
        }
        known.info[i] = value->second;
        StoreBatch::VehicleState& state = batch.vehicle(id);
        state.fields |= INFO_FIELDS[i];
        state.info[i] = StoreText::clean(value->second);
        state.described = true;
    }
}

DeviceRules::Pending& DeviceRules::waiting(const UniqueID& id)
{
    const auto found = m_pending.find(id);
    if (found != m_pending.end()) {
        return found->second;
    }
    m_pendingOrder.push_back(id);
    return m_pending[id];
}

void DeviceRules::flushPositions(StoreBatch& batch, size_t most)
{
    for (size_t flushed = 0; flushed < most && !m_pendingOrder.empty();) {
        const UniqueID id = m_pendingOrder.front();
        m_pendingOrder.pop_front();
        const auto held = m_pending.find(id);
        if (held == m_pending.end()) {
            continue; // forgotten meanwhile
        }
        const Pending pending = held->second;
        m_pending.erase(held);
        ++flushed;
        const auto known = m_fleet.find(id);
        if (known == m_fleet.end() || known->second.deleted) {
            continue;
        }
        StoreBatch::VehicleState& state = batch.vehicle(id);
        state.fields |= StoreBatch::TIME;
        state.time = pending.time;
        if (pending.moved) {
            state.fields |= StoreBatch::POSITION;
            state.latitude = pending.latitude;
            state.longitude = pending.longitude;
        }
    }
}

} // namespace velmora
