#pragma once

#include "app/hub/IVehicleStore.h"
#include "store/DeskActions.h"

#include <QString>

#include <functional>

namespace velmora {

class DeskLink;

/// A desk keeps the operator's vehicle changes in the store: each one
/// transaction (DeskActions), which every desk follows. Only the fields the
/// operator changed are written, so two desks editing different fields of
/// one vehicle keep both. A change the store does not take is told (tell)
/// and the desk reads the fleet again, so it never shows what the store
/// does not hold.
class DeskVehicleStore : public IVehicleStore {
public:
    DeskVehicleStore(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell);

    bool save(const VehicleInfo& vehicle, uint32_t fields) override;
    bool erase(const VehicleInfo& vehicle) override;

private:
    DeskLink& m_link;
    DeskActions::Operator m_by;
    std::function<void(const QString&)> m_tell;
};

} // namespace velmora
