#include "rules/AlarmBook.h"

#include "rules/AlarmKinds.h"

#include <algorithm>

namespace velmora {

namespace {

// The tally slot of a priority; a stored row may carry any number.
size_t slotOf(int32_t priority) {
    return priority >= AlarmBook::PRIORITY_MIN && priority <= AlarmBook::PRIORITY_MAX ? static_cast<size_t>(priority)
                                                                                        : 0;
}

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

} // namespace

void AlarmBook::setPriorities(const Priorities& priorities) {
    m_priorities.clear();
    for (const auto& [kind, priority] : priorities) {
        if (priority >= PRIORITY_MIN && priority <= PRIORITY_MAX) {
            m_priorities[kind] = priority;
        }
    }
}

int32_t AlarmBook::priorityOf(int32_t kind) const {
    const auto found = m_priorities.find(kind);
    return found == m_priorities.end() ? 0 : found->second;
}

std::string AlarmBook::cut(const std::string& text, size_t max) {
    if (text.size() <= max) {
        return text;
    }
    size_t end = max;
    // Back off continuation bytes so the cut lands between characters.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

size_t AlarmBook::characters(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !isContinuation(c); }));
}

std::string AlarmBook::cutCharacters(const std::string& text, size_t max) {
    size_t seen = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if (!isContinuation(text[at]) && seen++ == max) {
            return text.substr(0, at);
        }
    }
    return text;
}

void AlarmBook::count(const Alarm& alarm, int step) {
    const auto add = [step](size_t& tally) { tally = step > 0 ? tally + 1 : tally - 1; };
    if (alarm.isFold()) {
        // Folds are bounded by FOLDS_MAX, not by either tally.
    } else if (alarm.unreviewed) {
        add(m_unreviewedOpen);
        size_t& sender = m_unreviewedBySender[alarm.address];
        add(sender);
        if (sender == 0) {
            m_unreviewedBySender.erase(alarm.address);
        }
    } else {
        add(m_reviewedOpen);
    }
    if (!alarm.isAcknowledged()) {
        countAcknowledged(alarm, -step);
    }
}

void AlarmBook::countAcknowledged(const Alarm& alarm, int step) {
    // step -1: one more unacknowledged row (it opened, or became new again).
    size_t& tally = m_unacknowledged[slotOf(alarm.priority)];
    tally = step < 0 ? tally + 1 : tally - 1;
    if (alarm.isFold()) {
        return;
    }
    size_t& vehicle = m_unacknowledgedOf[alarm.vehicle];
    vehicle = step < 0 ? vehicle + 1 : vehicle - 1;
    if (vehicle == 0) {
        m_unacknowledgedOf.erase(alarm.vehicle);
    }
}

Alarm& AlarmBook::open(Alarm fresh) {
    fresh.id = ++m_lastId;
    const int32_t id = fresh.id;
    if (!fresh.isFold()) {
        m_byVehicleKind[{fresh.vehicle, fresh.kind}] = id;
    }
    Alarm& stored = m_open[id] = std::move(fresh);
    count(stored, 1);
    return stored;
}

bool AlarmBook::repeat(const UniqueID& vehicle, int32_t kind, std::time_t now, const Alarm** alarm) {
    const auto open = m_byVehicleKind.find({vehicle, kind});
    if (open == m_byVehicleKind.end()) {
        return false;
    }
    Alarm& same = m_open[open->second];
    if (same.repeats < INT32_MAX) {
        ++same.repeats;
    }
    same.lastReceived = now;
    if (alarm != nullptr) {
        *alarm = &same;
    }
    return true;
}

AlarmBook::Result AlarmBook::raiseUnreviewed(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                                             const std::string& deviceTitle, const std::string& address,
                                             std::time_t now, const Alarm** alarm) {
    const int32_t priority = priorityOf(kind);
    if (AlarmKinds::isRuleKind(kind) || priority == 0) {
        return Result::NotAnAlarm;
    }
    if (repeat(vehicle, kind, now, alarm)) {
        return Result::Repeated;
    }
    const std::string sender = cut(address, DEVICE_TEXT_MAX);
    const auto own = m_unreviewedBySender.find(sender);
    const size_t ownRows = own == m_unreviewedBySender.end() ? 0 : own->second;
    // Once a sender folds, it folds until its fold is closed: its rows stay
    // where the operator found them.
    if (m_folds.count(sender) == 0 && ownRows < UNREVIEWED_PER_SENDER && m_unreviewedOpen < UNREVIEWED_OPEN) {
        Alarm fresh;
        fresh.vehicle = vehicle;
        fresh.vehicleName = cut(vehicleName, DEVICE_TEXT_MAX);
        fresh.kind = kind;
        fresh.priority = priority;
        fresh.deviceTitle = cut(deviceTitle, DEVICE_TEXT_MAX);
        fresh.address = sender;
        fresh.received = now;
        fresh.lastReceived = now;
        fresh.unreviewed = true;
        const Alarm& stored = open(std::move(fresh));
        if (alarm != nullptr) {
            *alarm = &stored;
        }
        return Result::Raised;
    }
    return fold(vehicle, kind, priority, sender, now, alarm);
}

AlarmBook::Result AlarmBook::fold(const UniqueID& vehicle, int32_t kind, int32_t priority, const std::string& address,
                                  std::time_t now, const Alarm** alarm) {
    // Past FOLDS_MAX senders, the further ones share the row of "".
    const std::string key = m_folds.count(address) != 0 || m_folds.size() < FOLDS_MAX ? address : std::string();
    Result result = Result::Folded;
    auto found = m_folds.find(key);
    if (found == m_folds.end()) {
        Alarm fresh;
        fresh.vehicle = UniqueID::fromBytes(AlarmRequest::NO_VEHICLE);
        fresh.kind = FOLDED_KIND;
        fresh.priority = priority;
        fresh.address = key;
        fresh.received = now;
        // A fold from the start: it is counted as one below.
        fresh.foldedAlarms = 1;
        const Alarm& stored = open(std::move(fresh));
        found = m_folds.emplace(key, Fold{stored.id, {}, {}}).first;
        result = Result::Raised;
    }
    Fold& folded = found->second;
    Alarm& row = m_open[folded.id];
    if (folded.alarms.insert({vehicle, kind}).second) {
        row.foldedAlarms = static_cast<int32_t>(std::min<size_t>(folded.alarms.size(), INT32_MAX));
        row.repeats = row.foldedAlarms - 1;
    }
    folded.vehicles.insert(vehicle);
    row.foldedVehicles = static_cast<int32_t>(std::min<size_t>(folded.vehicles.size(), INT32_MAX));
    row.lastReceived = now;
    if (priority < row.priority) {
        // More urgent than anything it held: the operator must see it anew.
        if (!row.isAcknowledged()) {
            countAcknowledged(row, 1);
        }
        row.priority = priority;
        row.acknowledged = 0;
        row.acknowledgedBy.clear();
        countAcknowledged(row, -1);
    }
    if (alarm != nullptr) {
        *alarm = &row;
    }
    return result;
}

AlarmBook::Result AlarmBook::raise(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                                   const std::string& deviceTitle, const std::string& address, std::time_t now,
                                   const Alarm** alarm) {
    // Only the rules raise rule kinds, never a datagram that names one.
    if (AlarmKinds::isRuleKind(kind)) {
        return Result::NotAnAlarm;
    }
    return raiseKind(vehicle, vehicleName, kind, deviceTitle, address, now, alarm);
}

AlarmBook::Result AlarmBook::raiseRule(const AlarmRequest& request, const std::string& vehicleName,
                                       const Alarm** alarm) {
    if (request.step != AlarmRequest::RAISE || !AlarmKinds::isRuleKind(request.kind)) {
        return Result::NotAnAlarm;
    }
    const Alarm* raised = nullptr;
    const Result result =
        raiseKind(request.vehicle, vehicleName, request.kind, request.title, std::string(), request.time, &raised);
    if (result == Result::Raised && !request.text.empty()) {
        addNote(raised->id, RULES_AUTHOR, request.text, request.time);
    } else if (result == Result::Repeated) {
        addNote(raised->id, RULES_AUTHOR, request.text.empty() ? request.title : request.title + ": " + request.text,
                request.time);
    }
    if (alarm != nullptr) {
        *alarm = raised;
    }
    return result;
}

AlarmBook::Result AlarmBook::noteRule(const AlarmRequest& request, const Alarm** alarm) {
    if (request.step != AlarmRequest::NOTE || !AlarmKinds::isRuleKind(request.kind)) {
        return Result::NotAnAlarm;
    }
    const Alarm* open = openAlarmOf(request.vehicle, request.kind);
    if (open == nullptr) {
        return Result::Unknown;
    }
    const Result result = addNote(open->id, RULES_AUTHOR, request.text, request.time);
    if (alarm != nullptr) {
        *alarm = open;
    }
    return result;
}

const Alarm* AlarmBook::openAlarmOf(const UniqueID& vehicle, int32_t kind) const {
    const auto open = m_byVehicleKind.find({vehicle, kind});
    return open == m_byVehicleKind.end() ? nullptr : find(open->second);
}

AlarmBook::Result AlarmBook::raiseKind(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                                       const std::string& deviceTitle, const std::string& address, std::time_t now,
                                       const Alarm** alarm) {
    const int32_t priority = priorityOf(kind);
    if (priority == 0) {
        return Result::NotAnAlarm;
    }
    if (repeat(vehicle, kind, now, alarm)) {
        return Result::Repeated;
    }
    if (m_reviewedOpen >= MAX_OPEN) {
        return Result::Full;
    }
    Alarm fresh;
    fresh.vehicle = vehicle;
    fresh.vehicleName = cut(vehicleName, DEVICE_TEXT_MAX);
    fresh.kind = kind;
    fresh.priority = priority;
    fresh.deviceTitle = cut(deviceTitle, DEVICE_TEXT_MAX);
    fresh.address = cut(address, DEVICE_TEXT_MAX);
    fresh.received = now;
    fresh.lastReceived = now;
    const Alarm& stored = open(std::move(fresh));
    if (alarm != nullptr) {
        *alarm = &stored;
    }
    return Result::Raised;
}

std::vector<int32_t> AlarmBook::openAlarmsOf(const UniqueID& vehicle) const {
    std::vector<int32_t> ids;
    for (auto at = m_byVehicleKind.lower_bound({vehicle, INT32_MIN});
         at != m_byVehicleKind.end() && at->first.first == vehicle; ++at) {
        ids.push_back(at->second);
    }
    return ids;
}

const Alarm* AlarmBook::foldOf(const std::string& address) const {
    const auto found = m_folds.find(address);
    return found == m_folds.end() ? nullptr : find(found->second.id);
}

Alarm* AlarmBook::findOpen(int32_t id) {
    const auto found = m_open.find(id);
    return found == m_open.end() ? nullptr : &found->second;
}

const Alarm* AlarmBook::find(int32_t id) const {
    const auto found = m_open.find(id);
    return found == m_open.end() ? nullptr : &found->second;
}

AlarmBook::Result AlarmBook::acknowledge(int32_t id, const std::string& user, std::time_t now) {
    Alarm* alarm = findOpen(id);
    if (alarm == nullptr) {
        return Result::Unknown;
    }
    if (alarm->isAcknowledged()) {
        return Result::AlreadyDone;
    }
    countAcknowledged(*alarm, 1);
    alarm->acknowledged = now;
    alarm->acknowledgedBy = user;
    return Result::Done;
}

AlarmBook::Result AlarmBook::addNote(int32_t id, const std::string& user, const std::string& text, std::time_t now) {
    Alarm* alarm = findOpen(id);
    if (alarm == nullptr) {
        return Result::Unknown;
    }
    // One line per note: line breaks typed into it become spaces.
    std::string note = cutCharacters(text, NOTE_MAX);
    std::replace_if(note.begin(), note.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    const size_t first = note.find_first_not_of(' ');
    if (first == std::string::npos) {
        return Result::EmptyNote;
    }
    note = note.substr(first, note.find_last_not_of(' ') - first + 1);
    std::string line = Alarm::timeText(now) + " " + user + ": " + note;
    if (characters(alarm->notes) + characters(line) + 1 > NOTES_MAX) {
        return Result::Full;
    }
    if (!alarm->notes.empty()) {
        alarm->notes += '\n';
    }
    alarm->notes += line;
    return Result::Done;
}

AlarmBook::Result AlarmBook::close(int32_t id, const std::string& user, std::time_t now, Alarm* closed) {
    Alarm* alarm = findOpen(id);
    if (alarm == nullptr) {
        return Result::Unknown;
    }
    if (alarm->priority == 1 && alarm->notes.empty()) {
        return Result::NeedsNote;
    }
    count(*alarm, -1);
    if (!alarm->isAcknowledged()) {
        alarm->acknowledged = now;
        alarm->acknowledgedBy = user;
    }
    alarm->closed = now;
    alarm->closedBy = user;
    if (closed != nullptr) {
        *closed = *alarm;
    }
    if (alarm->isFold()) {
        const auto folded = m_folds.find(alarm->address);
        if (folded != m_folds.end() && folded->second.id == id) {
            m_folds.erase(folded);
        }
    } else {
        const auto own = m_byVehicleKind.find({alarm->vehicle, alarm->kind});
        if (own != m_byVehicleKind.end() && own->second == id) {
            m_byVehicleKind.erase(own);
        }
    }
    m_open.erase(id);
    return Result::Done;
}

bool AlarmBook::restore(const Alarm& alarm) {
    // Room for the rows a run can leave open: reviewed ones, unreviewed
    // ones and folds.
    if (alarm.closed != 0 || m_open.count(alarm.id) != 0 ||
        m_open.size() >= MAX_OPEN + UNREVIEWED_OPEN + FOLDS_MAX + 1) {
        return false;
    }
    m_lastId = std::max(m_lastId, alarm.id);
    Alarm restored = alarm;
    // Every vehicle stored before this start is reviewed; a fold stays the
    // row it was, counting its alarms, but takes no new ones.
    restored.unreviewed = false;
    restored.foldedAlarms = alarm.kind == FOLDED_KIND ? std::max(1, alarm.repeats + 1) : 0;
    restored.foldedVehicles = 0;
    if (!restored.isFold()) {
        // Two open alarms of one vehicle and kind cannot arise here, but a
        // file edited by hand may hold them: repeats count on the newer.
        m_byVehicleKind[{alarm.vehicle, alarm.kind}] = alarm.id;
    }
    const Alarm& stored = m_open[alarm.id] = std::move(restored);
    count(stored, 1);
    return true;
}

std::vector<const Alarm*> AlarmBook::ordered() const {
    std::vector<const Alarm*> alarms;
    alarms.reserve(m_open.size());
    for (const auto& entry : m_open) {
        alarms.push_back(&entry.second);
    }
    std::stable_sort(alarms.begin(), alarms.end(), [](const Alarm* a, const Alarm* b) {
        if (a->priority != b->priority) {
            return a->priority < b->priority;
        }
        return a->received != b->received ? a->received < b->received : a->id < b->id;
    });
    return alarms;
}

bool AlarmBook::hasUnacknowledged(int32_t priority) const {
    const size_t slot = slotOf(priority);
    return (slot != 0 || priority == 0) && m_unacknowledged[slot] > 0;
}

bool AlarmBook::vehicleUnacknowledged(const UniqueID& vehicle) const {
    return m_unacknowledgedOf.count(vehicle) != 0;
}

} // namespace velmora
