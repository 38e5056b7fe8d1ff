#include "rules/AlarmBook.h"

#include "rules/AlarmKinds.h"

#include <algorithm>

namespace velmora {

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
    const auto open = m_byVehicleKind.find({vehicle, kind});
    if (open != m_byVehicleKind.end()) {
        Alarm& same = m_open[open->second];
        if (same.repeats < INT32_MAX) {
            ++same.repeats;
        }
        same.lastReceived = now;
        if (alarm != nullptr) {
            *alarm = &same;
        }
        return Result::Repeated;
    }
    if (m_open.size() >= MAX_OPEN) {
        return Result::Full;
    }
    Alarm fresh;
    fresh.id = ++m_lastId;
    fresh.vehicle = vehicle;
    fresh.vehicleName = cut(vehicleName, DEVICE_TEXT_MAX);
    fresh.kind = kind;
    fresh.priority = priority;
    fresh.deviceTitle = cut(deviceTitle, DEVICE_TEXT_MAX);
    fresh.address = cut(address, DEVICE_TEXT_MAX);
    fresh.received = now;
    fresh.lastReceived = now;
    m_byVehicleKind[{vehicle, kind}] = fresh.id;
    Alarm& stored = m_open[fresh.id] = std::move(fresh);
    if (alarm != nullptr) {
        *alarm = &stored;
    }
    return Result::Raised;
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
    std::string note = cut(text, NOTE_MAX);
    std::replace_if(note.begin(), note.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    const size_t first = note.find_first_not_of(' ');
    if (first == std::string::npos) {
        return Result::EmptyNote;
    }
    note = note.substr(first, note.find_last_not_of(' ') - first + 1);
    std::string line = Alarm::timeText(now) + " " + user + ": " + note;
    if (alarm->notes.size() + line.size() + 1 > NOTES_MAX) {
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
    if (!alarm->isAcknowledged()) {
        alarm->acknowledged = now;
        alarm->acknowledgedBy = user;
    }
    alarm->closed = now;
    alarm->closedBy = user;
    if (closed != nullptr) {
        *closed = *alarm;
    }
    m_byVehicleKind.erase({alarm->vehicle, alarm->kind});
    m_open.erase(id);
    return Result::Done;
}

bool AlarmBook::restore(const Alarm& alarm) {
    if (alarm.closed != 0 || m_open.count(alarm.id) != 0 || m_open.size() >= MAX_OPEN) {
        return false;
    }
    m_lastId = std::max(m_lastId, alarm.id);
    // Two open alarms of one vehicle and kind cannot arise here, but a
    // file edited by hand may hold them: repeats count on the newer.
    m_byVehicleKind[{alarm.vehicle, alarm.kind}] = alarm.id;
    m_open[alarm.id] = alarm;
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
    return std::any_of(m_open.begin(), m_open.end(), [priority](const auto& entry) {
        return entry.second.priority == priority && !entry.second.isAcknowledged();
    });
}

bool AlarmBook::vehicleUnacknowledged(const UniqueID& vehicle) const {
    return std::any_of(m_open.begin(), m_open.end(), [&vehicle](const auto& entry) {
        return entry.second.vehicle == vehicle && !entry.second.isAcknowledged();
    });
}

} // namespace velmora
