#pragma once

#include "intake/VehicleAdmission.h"
#include "rules/AlarmBook.h"

#include <QString>

namespace velmora {

/// The settings every desk of a control room shares (the rules for new
/// vehicle ids, which events are alarms at which priority), kept in the
/// store. A console without one keeps them in its setup.db.
class ISharedSettings {
public:
    virtual ~ISharedSettings() = default;
    virtual VehicleAdmission::Rules getAdmission() const = 0;
    virtual AlarmBook::Priorities getPriorities() const = 0;
    /// Hands both over to be kept together; false, with why in problem,
    /// when that cannot be done now.
    virtual bool store(const VehicleAdmission::Rules& admission, const AlarmBook::Priorities& priorities,
                       QString& problem) = 0;
};

} // namespace velmora
