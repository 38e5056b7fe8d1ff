#pragma once

#include "foundation/UniqueID.h"
#include "rules/AlarmBook.h"
#include "rules/WatchRules.h"
#include "store/StoreBatch.h"
#include "store/UniqueIdHash.h"

#include <cstdint>
#include <cstddef>
#include <ctime>
#include <deque>
#include <map>
#include <unordered_map>
#include <string>
#include <vector>

namespace velmora {

class CallbackInfo;
class GPSInfo;
struct StoredAlarm;
struct StoredVehicle;

/// What a device message does to the fleet's rows, the same as the
/// console does to app.db: a GPS fix (kind 100) makes its vehicle on the
/// first fix, renames it, moves it when it carries a position on the globe
/// and is stored as received; optional information (101) fills the
/// vehicle's Company ... License; an event (kinds below 100) of a known
/// vehicle is stored under the operator's name for the vehicle and may
/// raise an alarm by the alarm rules (AlarmBook, priorities from the shared
/// settings). A removed vehicle's row is left alone and its events dropped;
/// its fixes are still stored. Texts are cut to app.db's limits.
///
/// Positions and times change with every fix but are written every few
/// seconds per vehicle (flushPositions): desks learn them from the fixes,
/// and the store is spared an UPDATE per fix. Names and information go out
/// with the next batch, into the change feed.
///
/// The watch rules (WatchRules) run here too, as they run in a single
/// desk: every message of a known vehicle that is not removed counts as
/// heard at the receiver's clock, a fix with a position goes through the
/// zones and the speeding rule, and tick() checks for silence. What they
/// raise is an event of the rule's kind (so the event log shows it) and an
/// alarm of it with the rule's text in its notes; a note is added to the
/// open alarm of its kind, none when a desk closed it. The receiver's own
/// alarm book decides, so each alarm is raised once.
///
/// Keeps the fleet it knows (names, information, removed or not), the open
/// alarms, the zones and the rules' settings; all are loaded from the store
/// and kept current from its change feed. Used by one thread.
class DeviceRules {
public:
    /// Limits of app.db's stored texts, in bytes.
    static constexpr size_t EVENT_ADDRESS_MAX = 15;
    static constexpr size_t EVENT_NAME_MAX = 32;
    static constexpr size_t EVENT_TITLE_MAX = 32;
    static constexpr size_t FIX_SENTENCE_MAX = 81;

    struct Counters {
        uint64_t fixes = 0;
        uint64_t events = 0;
        uint64_t infos = 0;
        uint64_t newVehicles = 0;
        /// Events and information of vehicles not known or removed.
        uint64_t dropped = 0;
        uint64_t alarmsRaised = 0;
        uint64_t alarmsRepeated = 0;
        /// Alarms not opened because MAX_OPEN alarms were open.
        uint64_t alarmsRefused = 0;
        /// Requests of the watch rules (raises and notes).
        uint64_t ruleRequests = 0;
    };

    DeviceRules();

    /// Replaces the known fleet by the store's, keeping the vehicles this
    /// receiver made that the store may not hold yet (their batches are not
    /// confirmed stored).
    void setFleet(const std::vector<StoredVehicle>& vehicles);
    /// The ids of the known fleet, removed vehicles too.
    std::vector<UniqueID> getFleetIds() const;
    /// The vehicles made since the last hand-over went out in batch number.
    void handedOver(uint64_t number);
    /// Every batch up to number is in the store.
    void confirmed(uint64_t number);
    /// A vehicle's row as the store now holds it (a desk renamed or removed it).
    void updateVehicle(const StoredVehicle& vehicle);
    /// A vehicle deleted for good: a fix makes it new again.
    void forgetVehicle(const UniqueID& id);
    bool knows(const UniqueID& id) const { return m_fleet.count(id) != 0; }
    size_t getFleetSize() const { return m_fleet.size(); }

    void setPriorities(const AlarmBook::Priorities& priorities);
    /// Replaces the open alarms by those the store holds.
    void restoreAlarms(const std::vector<StoredAlarm>& open);
    /// The watch rules' settings, and the vehicles with silent minutes of
    /// their own (any other vehicle follows the settings).
    void setWatchSettings(const WatchSettings& settings, const std::map<UniqueID, int32_t>& silentMinutes);
    /// Replaces the zones.
    void setZones(const std::vector<Zone>& zones);
    const WatchRules& getWatchRules() const { return m_watch; }
    /// The silent check at now (UTC seconds); what it raises goes into
    /// batch as taken at receivedMicros.
    void tick(std::time_t now, int64_t receivedMicros, StoreBatch& batch);

    /// One admitted message, taken at receivedMicros (UTC microseconds) and
    /// handled at now (UTC seconds): its rows go into batch.
    void apply(const CallbackInfo& message, int64_t receivedMicros, std::time_t now, StoreBatch& batch);
    /// Positions and times waiting to be written (one per vehicle).
    size_t getPendingCount() const { return m_pending.size(); }
    /// Moves up to most waiting positions and times into batch, those
    /// waiting longest first.
    void flushPositions(StoreBatch& batch, size_t most = SIZE_MAX);

    const Counters& getCounters() const { return m_counters; }

    /// Whether a decoded fix carries a position the console would show: not
    /// cut short, latitude and longitude fields given, on the globe.
    static bool hasPosition(const GPSInfo& fix);

private:
    struct Known {
        std::string name;
        std::string editedName;
        std::string info[StoreBatch::INFO_COUNT];
        bool deleted = false;
    };
    /// A position and time not written yet.
    struct Pending {
        int64_t time = 0;
        bool moved = false;
        double latitude = 0;
        double longitude = 0;
    };

    void onFix(const CallbackInfo& message, int64_t receivedMicros, std::time_t now, StoreBatch& batch);
    void onEvent(const CallbackInfo& message, int64_t receivedMicros, std::time_t now, StoreBatch& batch);
    void onOptionalInfo(const CallbackInfo& message, std::time_t now, StoreBatch& batch);
    /// The vehicle's waiting position and time, made when it has none.
    Pending& waiting(const UniqueID& id);
    /// The device's time in seconds (as stored), remembering the last one:
    /// most messages of a moment carry the same time.
    int64_t deviceTime(const CallbackInfo& message);
    /// Puts the changed name into batch when it differs from the known one.
    void rename(const UniqueID& id, Known& known, const std::string& name, StoreBatch& batch);
    /// Hands the watch rules' requests to the alarm book and their rows to
    /// batch.
    void applyRequests(int64_t receivedMicros, StoreBatch& batch);
    void raiseRule(const AlarmRequest& request, int64_t receivedMicros, StoreBatch& batch);
    void noteRule(const AlarmRequest& request, StoreBatch& batch);

    template <typename T> using ById = std::unordered_map<UniqueID, T, UniqueIdHash, UniqueIdEqual>;

    ById<Known> m_fleet;
    ById<Pending> m_pending;
    /// The vehicles of m_pending in the order they began to wait.
    std::deque<UniqueID> m_pendingOrder;
    /// Vehicles made and not yet confirmed stored: in the batch being
    /// built, and by the number of the batch they went out in.
    std::vector<UniqueID> m_created;
    ById<uint64_t> m_unconfirmed;
    AlarmBook m_alarms;
    WatchRules m_watch;
    WatchRules::Requests m_requests;
    /// The vehicles with silent minutes of their own, as last set.
    std::map<UniqueID, int32_t> m_silentMinutes;
    Counters m_counters;
    int32_t m_lastDate = 0;
    int32_t m_lastTime = 0;
    int64_t m_lastSeconds = 0;
    bool m_hasLastTime = false;
};

} // namespace velmora
