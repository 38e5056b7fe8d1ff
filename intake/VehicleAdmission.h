#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velmora {

class CallbackInfo;

/// Decides on the intake thread which device messages reach the console:
/// messages of admitted vehicles always do; a vehicle id never seen before
/// is admitted by its first GPS fix only under the operator's rules, so a
/// sender that floods the port with new ids creates at most a few vehicles
/// and never reaches the window.
///
/// Rules: "open" admits a new id unless its sender admitted the per-minute
/// limit of new vehicles in the last 60 s, or the fleet holds the fleet
/// limit; "known vehicles only" admits none by itself. Refused ids that keep
/// sending fixes are listed as candidates (bounded) for the operator to
/// admit or ignore. Refusals are counted per sender address (bounded).
///
/// Thread-safe: check() runs on the intake thread, everything else on the
/// window's thread; one mutex guards all state and is held only briefly.
class VehicleAdmission {
public:
    enum Mode { OPEN = 0, KNOWN_ONLY = 1 };

    struct Rules {
        Mode mode = OPEN;
        int newPerMinute = 60; ///< new vehicles one sender may add in 60 s
        int fleetLimit = 20000; ///< vehicles the fleet may hold, deleted ones too
        bool operator==(const Rules& other) const {
            return mode == other.mode && newPerMinute == other.newPerMinute && fleetLimit == other.fleetLimit;
        }
    };

    enum Verdict {
        KNOWN,   ///< an admitted vehicle's message
        NEW,     ///< the first fix of a vehicle admitted just now
        REFUSED  ///< not taken: unknown id, ignored id or a limit reached
    };

    /// A refused id that keeps sending fixes.
    struct Candidate {
        UniqueID id;
        std::string address;
        std::string name;
        std::time_t firstSeen = 0;
        std::time_t lastSeen = 0;
        uint64_t messages = 0;
    };

    /// What was refused in the last minute and who sent most of it.
    struct Refusals {
        uint64_t count = 0;
        std::string topSender;
        uint64_t topSenderCount = 0;
    };

    static constexpr size_t MAX_CANDIDATES = 200;
    static constexpr size_t MAX_SENDERS = 1024;
    static constexpr size_t MAX_IGNORED = 10000;
    static constexpr int64_t MINUTE_MS = 60000;

    VehicleAdmission();
    VehicleAdmission(const VehicleAdmission&) = delete;
    VehicleAdmission& operator=(const VehicleAdmission&) = delete;

    /// The clocks: steady milliseconds for the limits, wall seconds for the
    /// candidates' times. Tests set their own; the defaults are the system's.
    void setClocks(std::function<int64_t()> steadyMs, std::function<std::time_t()> wallSeconds);

    void setRules(const Rules& rules);
    Rules getRules() const;

    /// Replaces the admitted ids (the stored fleet, deleted vehicles too).
    void setKnown(const std::vector<UniqueID>& ids);
    /// The operator admits id: its next fix creates the vehicle.
    void admit(const UniqueID& id);
    /// The operator ignores id: its messages are refused without listing it.
    void ignore(const UniqueID& id);
    /// id is no longer part of the fleet (deleted for good): it is a new
    /// vehicle again should it send.
    void forget(const UniqueID& id);

    /// The verdict on one parsed message, counted.
    Verdict check(const CallbackInfo& message);

    bool isKnown(const UniqueID& id) const;
    size_t getKnownCount() const;
    /// The candidates, most recently seen first.
    std::vector<Candidate> getCandidates() const;
    Refusals getRecentRefusals() const;
    uint64_t getRefusedTotal() const;
    uint64_t getAdmittedTotal() const;

private:
    // Per sender: when it added vehicles (at most the per-minute limit of
    // times are kept) and its refusals in one-second slots of the last minute.
    struct Sender {
        std::string address;
        std::vector<int64_t> admittedAt;
        uint32_t refusedSlots[60] = {};
        int64_t slotSecond[60] = {};
    };
    struct IdHash {
        size_t operator()(const UniqueID& id) const;
    };

    Sender& senderOf(const std::string& address);
    void countRefusal(Sender& sender, int64_t nowMs);
    void noteCandidate(const CallbackInfo& message);
    /// Takes id off the candidates, if it is there; the caller holds the mutex.
    void dropCandidate(const UniqueID& id);
    static uint64_t refusedInLastMinute(const Sender& sender, int64_t nowMs);

    mutable std::mutex m_mutex;
    std::function<int64_t()> m_steadyMs;
    std::function<std::time_t()> m_wallSeconds;
    Rules m_rules;
    std::unordered_set<UniqueID, IdHash> m_known;
    std::unordered_set<UniqueID, IdHash> m_ignored;
    // Senders, most recently heard first; the index points into the list.
    std::list<Sender> m_senders;
    std::unordered_map<std::string, std::list<Sender>::iterator> m_senderIndex;
    // Candidates, most recently seen first.
    std::list<Candidate> m_candidates;
    std::unordered_map<UniqueID, std::list<Candidate>::iterator, IdHash> m_candidateIndex;
    uint64_t m_refusedTotal = 0;
    uint64_t m_admittedTotal = 0;
};

} // namespace velmora
