#pragma once

#include "db/ZoneRecord.h"
#include "rules/WatchRules.h"
#include "rules/Zone.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velmora {

class AbstractSetup;
class IPageRunner;
class IZoneStore;
class UniqueID;

/// The console's watch rules (WatchRules) and the zones they watch: what
/// ConsoleHub hears from the vehicles goes in, what the rules ask of the
/// alarm queue comes out to the request listener; the zones are kept in
/// app.db's zone_info through the tracking database's writer and drawn in
/// the page's zone layer.
///
/// Times are the console's UTC receive times, never a device's clock.
/// Settings come from setup.db (RuleSettings): the fleet's, and a vehicle's
/// own silent minutes.
///
/// At a control-room desk the zones are the store's (setZoneStore): a
/// change goes there and is in force here at once; a new zone is shown
/// once the store has given it its id (zoneMade); what other desks change
/// comes in whole (replaceZones).
///
/// Without a store, zones are numbered by the console, following the
/// highest id stored. A
/// zone the operator draws or changes is in force at once; its row waits
/// in order in the hub while the writer's queue refuses it and goes on the
/// next tick (a new outline starts afresh: vehicles inside raise no entry).
///
/// Runs on the GUI thread; nothing waits.
class WatchHub {
public:
    /// Zone changes kept while the database queue refuses them.
    static constexpr size_t UNSAVED_MAX = 10000;

    /// The collaborators outlive the hub.
    WatchHub(IPageRunner& page, AbstractSetup& setup);
    WatchHub(const WatchHub&) = delete;
    WatchHub& operator=(const WatchHub&) = delete;

    /// Told of every request of the rules, in order; none when empty.
    void setRequestListener(std::function<void(const AlarmRequest&)> listener) { m_onRequest = std::move(listener); }
    /// Told whenever a zone was added, changed or removed.
    void setZonesListener(std::function<void()> listener) { m_onZones = std::move(listener); }
    /// Told the id of a zone this console's operator drew, once it is made.
    void setZoneMadeListener(std::function<void(int32_t)> listener) { m_onMade = std::move(listener); }
    /// Where zone changes go instead of app.db (a desk's store); none: app.db.
    /// The store outlives the hub.
    void setZoneStore(IZoneStore* store) { m_zoneStore = store; }

    /// Reads the settings and every vehicle's own silent minutes.
    void loadSettings();
    /// Reads the vehicle's own silent minutes again (after its editor).
    void loadVehicleSettings(const UniqueID& vehicle);
    /// Reads the zones of app.db (once it is open); rows that hold no zone
    /// are traced and left alone.
    void loadZones();
    /// The zones as the store now holds them: those gone are taken off the
    /// page, new and changed ones drawn.
    void replaceZones(const std::vector<Zone>& zones);
    /// A zone this console drew, as the store made it (with its id).
    void zoneMade(const Zone& zone);
    /// Draws every zone in the page (after it loaded).
    void pageLoaded();

    /// Any message of an admitted vehicle, received at time.
    void heard(const UniqueID& vehicle, std::time_t time);
    /// A fix with a position on the globe, received at time; the speed in
    /// knots.
    void fix(const UniqueID& vehicle, std::time_t time, double latitude, double longitude, double speedKnots);
    /// The silent check, once a second; also hands waiting zone rows on.
    void tick(std::time_t now);
    /// The vehicle is no longer watched (removed or deleted).
    void forget(const UniqueID& vehicle);

    /// A zone the operator drew on the page (shape and outline text as the
    /// page reports them), named "Zone <id>", alarming on entry after the
    /// default dwell; its id, or 0 when the text holds no valid zone or the
    /// rules hold the most zones they can, or when the zone store gives the
    /// id later (zoneMade).
    int32_t zoneDrawn(const std::string& shape, const std::string& geometry);
    /// New vertices of a zone moved on the page; false when the id or the
    /// outline is not one.
    bool zoneEdited(const std::string& zoneIdText, const std::string& shape, const std::string& geometry);
    /// Replaces the zone of the same id (name, settings, outline); false
    /// when it is not held or not valid.
    bool changeZone(const Zone& zone);
    /// Deletes the zone; false when it is not held.
    bool removeZone(int32_t id);
    const std::map<int32_t, Zone>& getZones() const { return m_zones; }
    const Zone* findZone(int32_t id) const;

    /// Hands every zone row still held to the database queue; at a stop.
    void flush();
    const WatchRules& getRules() const { return m_rules; }
    size_t getUnsavedCount() const { return m_unsaved.size(); }

private:
    void deliver();
    /// Takes zones in place of those held (and redraws what differs, when
    /// draw); whether anything differed.
    bool takeZones(const std::vector<Zone>& zones, bool draw);
    void store(const Zone& zone, AbstractDatabaseRecord::Operation operation);
    void zonesChanged();

    IPageRunner& m_page;
    AbstractSetup& m_setup;
    WatchRules m_rules;
    WatchRules::Requests m_requests;
    std::map<int32_t, Zone> m_zones;
    int32_t m_lastZoneId = 0;
    std::map<UniqueID, int32_t> m_ownSilentMinutes;
    std::deque<ZoneRecord> m_unsaved;
    std::function<void(const AlarmRequest&)> m_onRequest;
    std::function<void()> m_onZones;
    std::function<void(int32_t)> m_onMade;
    IZoneStore* m_zoneStore = nullptr;
};

} // namespace velmora
