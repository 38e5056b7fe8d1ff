#pragma once

#include "rules/AlarmBook.h"

#include <cstdint>
#include <string>

namespace velmora {

class AbstractSetup;
class SetupDatabase;

/// Which event kinds raise an alarm, and at which priority, as setup.db
/// keeps them: "setup/AlarmPriority/<code>" for each of the 14 event kinds
/// and the watch rules' kinds (AlarmKinds), 0 for a plain event or 1 to 3.
/// By default a Panic (13) is an alarm of priority 1, a G-Sensor event (11)
/// and a Silent vehicle ones of priority 2, and Zone Entry, Zone Exit and
/// Speeding ones of priority 3.
class AlarmSettings {
public:
    static constexpr int32_t PANIC = 13;
    static constexpr int32_t G_SENSOR = 11;

    static AlarmBook::Priorities defaults();
    static std::string key(int32_t kind);
    /// The stored priorities; a value out of range counts as the kind's
    /// default, an unreadable store gives the defaults.
    static AlarmBook::Priorities load(AbstractSetup& setup);
    /// Writes every kind's priority; the caller holds the store's lock and
    /// transaction.
    static void store(SetupDatabase& database, const AlarmBook::Priorities& priorities);
};

} // namespace velmora
