#pragma once

#include "app/hub/ISharedSettings.h"
#include "store/DeskActions.h"
#include "store/SharedSettings.h"

#include <functional>

namespace velmora {

class DeskLink;

/// The control room's shared settings at a desk: as the store last said
/// (snapshot, feed), and changed in one transaction of the store
/// (SharedSettings::store), which every desk and the receiver follow.
class DeskSettings : public ISharedSettings {
public:
    DeskSettings(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell);

    void replace(const SharedSettings::Values& values) { m_values = values; }
    const SharedSettings::Values& getValues() const { return m_values; }

    VehicleAdmission::Rules getAdmission() const override;
    AlarmBook::Priorities getPriorities() const override { return m_values.priorities; }
    WatchSettings getRules() const override { return m_values.watch; }
    bool store(const VehicleAdmission::Rules& admission, const AlarmBook::Priorities& priorities,
               const WatchSettings& rules, QString& problem) override;
    int32_t getVehicleSilentMinutes(const UniqueID& vehicle) const override;
    bool storeVehicleSilentMinutes(const UniqueID& vehicle, int32_t minutes, QString& problem) override;

private:
    /// Hands write to the link as one transaction of the store; false, with
    /// why in problem, when the store cannot be reached. A later failure is
    /// told with failed (its %1 the store's words).
    bool send(std::function<void(PgConnection&)> write, const QString& failed, QString& problem);

    DeskLink& m_link;
    DeskActions::Operator m_by;
    std::function<void(const QString&)> m_tell;
    SharedSettings::Values m_values;
};

} // namespace velmora
