#pragma once

#include "app/hub/IZoneStore.h"
#include "store/DeskActions.h"

#include <QString>

#include <functional>
#include <vector>

namespace velmora {

class DeskLink;
class WatchHub;

/// A desk keeps the zones of the watch rules in the store, which the
/// receiver watches with and every desk follows: each change the operator
/// makes is one transaction (ZoneTable); a new zone gets its id from the
/// store and is shown under it once the store has answered. What the store
/// holds (snapshot, and again on each zone entry of the feed) replaces the
/// hub's zones. A change the store does not take is told (tell) and the desk
/// reads the store again, so it never keeps a zone the store does not hold.
/// Window thread only.
class DeskZones : public IZoneStore {
public:
    DeskZones(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell);

    /// The hub's zone changes come here and the store's zones go there;
    /// the hub outlives the desk.
    void attach(WatchHub& hub);
    /// The zones as the store now holds them.
    void replace(const std::vector<Zone>& zones);

    void add(const Zone& zone) override;
    void change(const Zone& zone) override;
    void remove(int32_t id) override;

private:
    void refused(const QString& text);

    DeskLink& m_link;
    DeskActions::Operator m_by;
    std::function<void(const QString&)> m_tell;
    WatchHub* m_hub = nullptr;
};

} // namespace velmora
