#include "app/desk/DeskVehicleStore.h"

#include "app/desk/DeskLink.h"
#include "db/VehicleInfo.h"

namespace velmora {

// The window's field bits are the store's.
static_assert(uint32_t{IVehicleStore::EDITED_NAME} == DeskActions::EDITED_NAME &&
                  uint32_t{IVehicleStore::INFO} == DeskActions::INFO &&
                  uint32_t{IVehicleStore::IMAGE} == DeskActions::IMAGE &&
                  uint32_t{IVehicleStore::DELETED} == DeskActions::DELETED,
              "the window's fields are the store's");

namespace {

std::string shownName(const VehicleInfo& vehicle) {
    return vehicle.getEditedName().empty() ? vehicle.getName() : vehicle.getEditedName();
}

} // namespace

DeskVehicleStore::DeskVehicleStore(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell)
    : m_link(link), m_by(std::move(by)), m_tell(std::move(tell)) {}

bool DeskVehicleStore::save(const VehicleInfo& vehicle, uint32_t fields) {
    DeskActions::VehicleEdit edit;
    edit.fields = fields;
    edit.editedName = vehicle.getEditedName();
    edit.info1 = vehicle.getInfo1();
    edit.info2 = vehicle.getInfo2();
    edit.imagePath = vehicle.getImagePath();
    edit.deleted = vehicle.getDeleted();
    const UniqueID id = vehicle.getId();
    const QString name = QString::fromStdString(shownName(vehicle));
    const DeskActions::Operator by = m_by;
    m_link.submit(
        [id, edit, by](PgConnection& connection) -> std::function<void()> {
            DeskActions::saveVehicle(connection, id, edit, by);
            return {};
        },
        [this, name](const QString& why) {
            m_tell(QStringLiteral("The change of %1 was not stored: %2").arg(name, why));
            m_link.reload();
        });
    return m_link.isReachable();
}

bool DeskVehicleStore::erase(const VehicleInfo& vehicle) {
    if (!m_link.isReachable()) {
        return false;
    }
    const UniqueID id = vehicle.getId();
    const QString name = QString::fromStdString(shownName(vehicle));
    const DeskActions::Operator by = m_by;
    m_link.submit(
        [id, by](PgConnection& connection) -> std::function<void()> {
            DeskActions::deleteVehicle(connection, id, by);
            return {};
        },
        [this, name](const QString& why) {
            m_tell(QStringLiteral("%1 was not deleted: %2").arg(name, why));
            m_link.reload();
        });
    return true;
}

} // namespace velmora
