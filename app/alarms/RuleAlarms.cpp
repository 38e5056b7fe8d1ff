#include "app/alarms/RuleAlarms.h"

#include "app/alarms/AlarmPanel.h"
#include "db/DBManager.h"
#include "db/EventLog.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"
#include "rules/Alarm.h"

#include <string>

namespace velmora {

RuleAlarms::RuleAlarms(AlarmPanel& panel, VehicleInfoContainer& vehicles) : m_panel(panel), m_vehicles(vehicles) {}

void RuleAlarms::take(const AlarmRequest& request) {
    std::string name;
    {
        ScopedLock lock(m_vehicles.getLock());
        const VehicleInfo* vehicle = m_vehicles.find(request.vehicle);
        if (vehicle == nullptr || vehicle->getDeleted()) {
            return;
        }
        name = vehicle->getEditedName().empty() ? vehicle->getName() : vehicle->getEditedName();
    }
    if (request.step == AlarmRequest::RAISE && DBManager::getInstance().isOpen()) {
        EventLog event;
        event.setId(0);
        event.setAddress("");
        event.setName(name.c_str());
        event.setTime(Alarm::timeText(request.time).c_str());
        event.setEventType(request.kind);
        event.setDeviceTitle(request.title.c_str());
        event.setVehicleId(request.vehicle);
        event.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
        event.setRecordKind(AbstractDatabaseRecord::KIND_EVENT);
        // Queued before the alarm's row, which names the newest event of
        // its vehicle and kind.
        if (!DBManager::getInstance().enqueue(event)) {
            trace("RuleAlarms: the event of a %d alarm was not stored", request.kind);
        }
    }
    const Alarm* alarm = m_panel.onRule(request, name);
    if (alarm == nullptr || request.step != AlarmRequest::RAISE) {
        return;
    }
    // The place of the alarm's first decision, not of a repeat.
    if (m_places.count(alarm->id) == 0) {
        if (m_places.size() >= PLACES_MAX) {
            m_places.erase(m_places.begin());
        }
        m_places[alarm->id] = Place{request.time, request.hasPosition, request.position};
    }
}

std::optional<RuleAlarms::Place> RuleAlarms::placeOf(int32_t alarmId) const {
    const auto found = m_places.find(alarmId);
    if (found == m_places.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace velmora
