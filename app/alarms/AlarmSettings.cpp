#include "app/alarms/AlarmSettings.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"
#include "rules/AlarmKinds.h"

namespace velmora {

AlarmBook::Priorities AlarmSettings::defaults() {
    return {{PANIC, 1},
            {G_SENSOR, 2},
            {AlarmKinds::SILENT, 2},
            {AlarmKinds::ZONE_ENTRY, 3},
            {AlarmKinds::ZONE_EXIT, 3},
            {AlarmKinds::SPEEDING, 3}};
}

std::string AlarmSettings::key(int32_t kind) { return Setup::KEY_ALARM_PRIORITY_PREFIX + std::to_string(kind); }

AlarmBook::Priorities AlarmSettings::load(AbstractSetup& setup) {
    const AlarmBook::Priorities fallback = defaults();
    AlarmBook::Priorities priorities;
    try {
        for (const int32_t kind : AlarmKinds::all()) {
            const auto known = fallback.find(kind);
            const int32_t byDefault = known == fallback.end() ? 0 : known->second;
            int32_t priority = setup.getInt(key(kind).c_str(), byDefault);
            if (priority < 0 || priority > AlarmBook::PRIORITY_MAX) {
                priority = byDefault;
            }
            if (priority > 0) {
                priorities[kind] = priority;
            }
        }
    } catch (const DatabaseException& e) {
        traceException(e);
        return fallback;
    }
    return priorities;
}

void AlarmSettings::store(SetupDatabase& database, const AlarmBook::Priorities& priorities) {
    for (const int32_t kind : AlarmKinds::all()) {
        const auto found = priorities.find(kind);
        database.setInt(key(kind).c_str(), found == priorities.end() ? 0 : found->second);
    }
}

} // namespace velmora
