#include "app/alarms/AlarmSettings.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"
#include "intake/EventTypeName.h"

namespace velmora {

AlarmBook::Priorities AlarmSettings::defaults() { return {{PANIC, 1}, {G_SENSOR, 2}}; }

std::string AlarmSettings::key(int32_t kind) { return Setup::KEY_ALARM_PRIORITY_PREFIX + std::to_string(kind); }

AlarmBook::Priorities AlarmSettings::load(AbstractSetup& setup) {
    const AlarmBook::Priorities fallback = defaults();
    AlarmBook::Priorities priorities;
    try {
        for (int32_t kind = 0; kind < EVENT_TYPE_COUNT; ++kind) {
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
    for (int32_t kind = 0; kind < EVENT_TYPE_COUNT; ++kind) {
        const auto found = priorities.find(kind);
        database.setInt(key(kind).c_str(), found == priorities.end() ? 0 : found->second);
    }
}

} // namespace velmora
