#include "app/desk/DeskSettings.h"

#include "app/desk/DeskLink.h"

namespace velmora {

DeskSettings::DeskSettings(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell)
    : m_link(link), m_by(std::move(by)), m_tell(std::move(tell)) {}

VehicleAdmission::Rules DeskSettings::getAdmission() const {
    VehicleAdmission::Rules rules;
    rules.mode = m_values.admission.knownOnly ? VehicleAdmission::KNOWN_ONLY : VehicleAdmission::OPEN;
    rules.newPerMinute = m_values.admission.newPerMinute;
    rules.fleetLimit = m_values.admission.fleetLimit;
    return rules;
}

bool DeskSettings::store(const VehicleAdmission::Rules& admission, const AlarmBook::Priorities& priorities,
                         const WatchSettings& rules, QString& problem) {
    SharedSettings::Values values = m_values;
    values.admission.knownOnly = admission.mode == VehicleAdmission::KNOWN_ONLY;
    values.admission.newPerMinute = admission.newPerMinute;
    values.admission.fleetLimit = admission.fleetLimit;
    values.priorities = priorities;
    values.watch = rules;
    const std::string source = m_by.source();
    if (!send([values, source](PgConnection& connection) { SharedSettings::store(connection, values, source); },
              QStringLiteral("The settings were not stored: %1"), problem)) {
        return false;
    }
    // Shown at once; the feed brings the store's word.
    m_values = values;
    return true;
}

int32_t DeskSettings::getVehicleSilentMinutes(const UniqueID& vehicle) const {
    const auto found = m_values.vehicleSilentMinutes.find(vehicle);
    return found == m_values.vehicleSilentMinutes.end() ? -1 : found->second;
}

bool DeskSettings::storeVehicleSilentMinutes(const UniqueID& vehicle, int32_t minutes, QString& problem) {
    const std::string source = m_by.source();
    if (!send([vehicle, minutes, source](PgConnection& connection) {
            SharedSettings::storeVehicleSilentMinutes(connection, vehicle, minutes, source);
        },
              QStringLiteral("The vehicle's silent time was not stored: %1"), problem)) {
        return false;
    }
    // Shown at once; the feed brings the store's word.
    if (minutes >= 0) {
        m_values.vehicleSilentMinutes[vehicle] = minutes;
    } else {
        m_values.vehicleSilentMinutes.erase(vehicle);
    }
    return true;
}

bool DeskSettings::send(std::function<void(PgConnection&)> write, const QString& failed, QString& problem) {
    if (!m_link.isReachable()) {
        problem = QString::fromLatin1(DeskLink::UNREACHABLE);
        return false;
    }
    m_link.submit(
        [write = std::move(write)](PgConnection& connection) -> std::function<void()> {
            write(connection);
            return {};
        },
        [this, failed](const QString& why) { m_tell(failed.arg(why)); });
    return true;
}

} // namespace velmora
