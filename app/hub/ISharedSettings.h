#pragma once

#include "foundation/UniqueID.h"
#include "intake/VehicleAdmission.h"
#include "rules/AlarmBook.h"
#include "rules/WatchSettings.h"

#include <QString>

#include <cstdint>

namespace velmora {

/// The settings every desk of a control room shares (the rules for new
/// vehicle ids, which events are alarms at which priority, the fleet's
/// watch rules), kept in the store. A console without one keeps them in its setup.db.
class ISharedSettings {
public:
    virtual ~ISharedSettings() = default;
    virtual VehicleAdmission::Rules getAdmission() const = 0;
    virtual AlarmBook::Priorities getPriorities() const = 0;
    /// The fleet's silent minutes, speed limit and speeding seconds.
    virtual WatchSettings getRules() const = 0;
    /// Hands them all over to be kept together; false, with why in problem,
    /// when that cannot be done now.
    virtual bool store(const VehicleAdmission::Rules& admission, const AlarmBook::Priorities& priorities,
                       const WatchSettings& rules, QString& problem) = 0;
    /// A vehicle's own silent minutes; -1 when the fleet's apply.
    virtual int32_t getVehicleSilentMinutes(const UniqueID& vehicle) const = 0;
    /// Hands a vehicle's own silent minutes over (-1: the fleet's apply);
    /// false, with why in problem, when that cannot be done now.
    virtual bool storeVehicleSilentMinutes(const UniqueID& vehicle, int32_t minutes, QString& problem) = 0;
};

} // namespace velmora
