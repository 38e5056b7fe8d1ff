#include "app/desk/DeskZones.h"

#include "app/desk/DeskLink.h"
#include "app/hub/WatchHub.h"
#include "store/ZoneTable.h"

namespace velmora {

DeskZones::DeskZones(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell)
    : m_link(link), m_by(std::move(by)), m_tell(std::move(tell)) {}

void DeskZones::attach(WatchHub& hub) {
    m_hub = &hub;
    hub.setZoneStore(this);
}

void DeskZones::replace(const std::vector<Zone>& zones) {
    if (m_hub != nullptr) {
        m_hub->replaceZones(zones);
    }
}

void DeskZones::refused(const QString& text) {
    m_tell(text);
    // The hub shows the change already: the store's zones take its place.
    m_link.reload();
}

void DeskZones::add(const Zone& zone) {
    const std::string source = m_by.source();
    m_link.submit(
        [this, zone, source](PgConnection& connection) -> std::function<void()> {
            const Zone made = ZoneTable::add(connection, zone, source);
            return [this, made] {
                if (m_hub != nullptr) {
                    m_hub->zoneMade(made);
                }
            };
        },
        [this](const QString& why) { refused(QStringLiteral("The new zone was not stored: %1").arg(why)); });
}

void DeskZones::change(const Zone& zone) {
    const std::string source = m_by.source();
    const QString name = QString::fromStdString(zone.getName());
    m_link.submit(
        [this, zone, source, name](PgConnection& connection) -> std::function<void()> {
            if (ZoneTable::update(connection, zone, source)) {
                return {};
            }
            return [this, name] { refused(QStringLiteral("The zone %1 was deleted at another desk.").arg(name)); };
        },
        [this, name](const QString& why) {
            refused(QStringLiteral("The change of zone %1 was not stored: %2").arg(name, why));
        });
}

void DeskZones::remove(int32_t id) {
    const std::string source = m_by.source();
    m_link.submit(
        [id, source](PgConnection& connection) -> std::function<void()> {
            // Gone already (another desk was first): nothing else to do.
            ZoneTable::remove(connection, id, source);
            return {};
        },
        [this, id](const QString& why) { refused(QStringLiteral("Zone %1 was not deleted: %2").arg(id).arg(why)); });
}

} // namespace velmora
