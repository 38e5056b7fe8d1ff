#pragma once

#include "rules/AlarmRequest.h"
#include "rules/GeoPoint.h"
#include "rules/SpeedEpisode.h"
#include "rules/WatchSettings.h"
#include "rules/Zone.h"
#include "rules/ZoneIndex.h"
#include "foundation/UniqueID.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <unordered_map>
#include <vector>

namespace velmora {

/// The watch rules: they turn what the vehicles send, and the silence
/// between, into alarm requests (AlarmRequest) for the alarm queue.
///
/// - Silent: a vehicle not heard for its silent minutes (the setting, or
///   its own; 0 never) is raised once, at a tick(). When it is heard again
///   the alarm gets the note "Heard again at ...". It can be Silent again
///   only after it has been heard for REARM_SECONDS; falling quiet before
///   that adds a note to the same alarm instead of raising another.
/// - Zones: a vehicle counts as having entered (left) a zone once its fixes
///   have stayed inside (outside) for the zone's dwell time, from the first
///   fix inside (outside) to a later one, with none on the other side in
///   between; the zone alarms on entry, exit or both. A vehicle's first fix
///   after a zone appears (or its outline changes) only tells where it is:
///   a vehicle already inside raises nothing.
/// - Speeding: the limit in force is the lowest of the zones holding the
///   fix that have a limit of their own, else the setting (0: none). An
///   episode (see SpeedEpisode) raises one alarm when it starts and adds a
///   note with its duration, distance and peak when it ends.
///
/// Costs: heard() is one hash lookup; fix() adds a lookup in the zone index
/// and exact tests of the few zones it names (Lookup::Linear tests every
/// zone instead: the plain reference the benchmark measures against);
/// tick() walks the vehicles once. Callers pass the time (UTC seconds) of
/// every call; the rules have no clock, no storage and no locks, and are
/// used by one thread at a time. Vehicles are bounded by VEHICLES_MAX and
/// zones by ZONES_MAX.
class WatchRules {
public:
    using Requests = std::vector<AlarmRequest>;
    enum class Lookup { Index, Linear };

    static constexpr size_t VEHICLES_MAX = 200000;
    static constexpr size_t ZONES_MAX = 10000;
    /// Seconds a vehicle back from silence is heard before it can be
    /// Silent again.
    static constexpr std::time_t REARM_SECONDS = 60;
    static constexpr double KMH_PER_KNOT = 1.852;

    explicit WatchRules(Lookup lookup = Lookup::Index);
    WatchRules(const WatchRules&) = delete;
    WatchRules& operator=(const WatchRules&) = delete;

    /// The fleet's settings, each clamped to its range.
    void setSettings(const WatchSettings& settings);
    const WatchSettings& getSettings() const { return m_settings; }
    /// The vehicle's own silent minutes (0 never); a negative value drops
    /// its own and the setting holds again. False when the vehicle cannot
    /// be watched (VEHICLES_MAX).
    bool setSilentMinutes(const UniqueID& vehicle, int32_t minutes);
    /// The silent minutes that hold for the vehicle.
    int32_t getSilentMinutes(const UniqueID& vehicle) const;

    /// Replaces every zone by zones (invalid ones and those past ZONES_MAX
    /// are left out); a zone whose id and outline stay the same keeps what
    /// the rules know of the vehicles in it. Returns the number taken.
    size_t setZones(const std::vector<Zone>& zones);
    /// Adds the zone, or replaces the zone of its id. A new outline starts
    /// afresh (vehicles inside raise no entry); new settings only apply from
    /// now on. False when the zone is not valid or ZONES_MAX are held.
    bool putZone(const Zone& zone);
    /// Takes the zone away, with no alarm; false when it is not held.
    bool removeZone(int32_t id);
    /// The zone of id; null when not held.
    const Zone* findZone(int32_t id) const;
    size_t getZoneCount() const { return m_zoneOfId.size(); }
    /// The ids of the zones holding point, in no particular order.
    std::vector<int32_t> zonesAt(GeoPoint point) const;

    /// Any message of the vehicle, received at time: it is heard.
    void heard(const UniqueID& vehicle, std::time_t time);
    /// A GPS fix of the vehicle received at time (heard too): zones and
    /// speeding; what it raises or notes is appended to out. A fix older
    /// than the vehicle's last one, or without a valid place, only counts
    /// as heard.
    void fix(const UniqueID& vehicle, std::time_t time, GeoPoint position, double speedKnots, Requests& out);
    /// The silent check of every vehicle at now; requests appended to out.
    void tick(std::time_t now, Requests& out);
    /// Stops watching the vehicle (deleted, ignored); its own silent
    /// minutes go with it.
    void forget(const UniqueID& vehicle);

    size_t getVehicleCount() const { return m_vehicles.size(); }
    /// Messages not watched because VEHICLES_MAX vehicles were.
    uint64_t getRefusedCount() const { return m_refused; }

private:
    enum class Silence : uint8_t { Armed, Silent, Back };

    /// What the rules know of one vehicle in one zone: inside or not as
    /// counted, and since when the fixes say the other.
    struct Presence {
        uint32_t slot = 0;
        uint64_t revision = 0;
        std::time_t pendingSince = 0;
        bool pending = false;
        bool inside = false;
    };

    struct Vehicle {
        std::time_t lastHeard = 0;
        bool everHeard = false;
        Silence silence = Silence::Armed;
        std::time_t silentSince = 0;
        std::time_t returnedAt = 0;
        bool returned = false;
        std::time_t backSince = 0;
        int32_t silentMinutes = -1;
        bool hasFix = false;
        std::time_t lastFix = 0;
        GeoPoint lastPosition;
        /// The zones' revision at the last fix: zones newer than it are
        /// seeded, not entered.
        uint64_t zoneRevision = 0;
        /// The zone whose limit the current episode broke; 0 the setting's.
        int32_t speedZoneId = 0;
        std::vector<Presence> zones;
        SpeedEpisode speed;
    };

    struct ZoneSlot {
        Zone zone;
        uint64_t revision = 0;
        bool live = false;
    };

    struct IdHash {
        size_t operator()(const UniqueID& id) const;
    };

    Vehicle* vehicleOf(const UniqueID& id);
    void hear(Vehicle& vehicle, std::time_t time);
    void findZones(GeoPoint position);
    void updateZones(const UniqueID& id, Vehicle& vehicle, std::time_t time, GeoPoint position, Requests& out);
    void countDwell(const UniqueID& id, Presence& presence, bool inside, std::time_t time, GeoPoint position,
                    Requests& out);
    void updateSpeed(const UniqueID& id, Vehicle& vehicle, std::time_t time, GeoPoint position, double speedKnots,
                     Requests& out);
    void checkSilence(const UniqueID& id, Vehicle& vehicle, std::time_t now, Requests& out);
    void endSpeedingAtSilence(const UniqueID& id, Vehicle& vehicle, Requests& out);
    AlarmRequest request(AlarmRequest::Step step, const UniqueID& id, int32_t kind, std::time_t time) const;
    int32_t silentMinutesOf(const Vehicle& vehicle) const;

    Lookup m_lookup;
    WatchSettings m_settings;
    std::unordered_map<UniqueID, Vehicle, IdHash> m_vehicles;
    uint64_t m_refused = 0;

    std::vector<ZoneSlot> m_zones;
    std::vector<uint32_t> m_freeSlots;
    std::unordered_map<int32_t, uint32_t> m_zoneOfId;
    uint64_t m_revision = 0;
    ZoneIndex m_index;
    /// Scratch of fix(): candidate slots, then the slots holding the fix.
    std::vector<uint32_t> m_candidates;
    std::vector<uint32_t> m_inside;
};

} // namespace velmora
