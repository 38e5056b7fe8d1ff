#include "app/hub/AdmissionSettings.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"

namespace velmora {

VehicleAdmission::Rules AdmissionSettings::load(AbstractSetup& setup) {
    const VehicleAdmission::Rules defaults;
    VehicleAdmission::Rules rules;
    try {
        const int32_t mode = setup.getInt(Setup::KEY_ADMISSION_MODE, defaults.mode);
        rules.mode = mode == VehicleAdmission::KNOWN_ONLY ? VehicleAdmission::KNOWN_ONLY : VehicleAdmission::OPEN;
        rules.newPerMinute = setup.getInt(Setup::KEY_NEW_PER_MINUTE, defaults.newPerMinute);
        rules.fleetLimit = setup.getInt(Setup::KEY_FLEET_LIMIT, defaults.fleetLimit);
    } catch (const DatabaseException& e) {
        traceException(e);
        return defaults;
    }
    // A value edited by hand out of range falls back to its default.
    if (rules.newPerMinute < PER_MINUTE_MIN || rules.newPerMinute > PER_MINUTE_MAX) {
        rules.newPerMinute = defaults.newPerMinute;
    }
    if (rules.fleetLimit < FLEET_LIMIT_MIN || rules.fleetLimit > FLEET_LIMIT_MAX) {
        rules.fleetLimit = defaults.fleetLimit;
    }
    return rules;
}

void AdmissionSettings::store(SetupDatabase& database, const VehicleAdmission::Rules& rules) {
    database.setInt(Setup::KEY_ADMISSION_MODE, rules.mode);
    database.setInt(Setup::KEY_NEW_PER_MINUTE, rules.newPerMinute);
    database.setInt(Setup::KEY_FLEET_LIMIT, rules.fleetLimit);
}

QString AdmissionSettings::check(const VehicleAdmission::Rules& rules) {
    if (rules.newPerMinute < PER_MINUTE_MIN || rules.newPerMinute > PER_MINUTE_MAX) {
        return QStringLiteral("New vehicles per minute must be between %1 ~ %2").arg(PER_MINUTE_MIN).arg(PER_MINUTE_MAX);
    }
    if (rules.fleetLimit < FLEET_LIMIT_MIN || rules.fleetLimit > FLEET_LIMIT_MAX) {
        return QStringLiteral("Fleet limit must be between %1 ~ %2").arg(FLEET_LIMIT_MIN).arg(FLEET_LIMIT_MAX);
    }
    return QString();
}

} // namespace velmora
