#pragma once

#include "foundation/UniqueID.h"
#include "intake/SeededHash.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace velmora {

class CallbackInfo;

/// Decides on the intake thread which device messages reach the console:
/// messages of admitted vehicles always do; a vehicle id never seen before
/// is admitted by its first GPS fix only under the operator's rules, so a
/// sender that floods the port with new ids creates at most a few vehicles
/// and never reaches the window. A message whose id field named no vehicle
/// (CallbackInfo::hasVehicleID) is refused and counted as malformed.
///
/// Rules: "open" admits a new id unless its sender admitted the per-minute
/// limit of new vehicles in the last 60 s, all senders together admitted
/// their per-minute limit, the unreviewed vehicles reach their limit or the
/// fleet holds the fleet limit; "known vehicles only" admits none by
/// itself. Source addresses can be forged, so the overall limits are what
/// keeps a crowd of senders from filling the fleet.
///
/// Reviewed and unreviewed: the stored fleet (setKnown), ids the operator
/// admitted by hand and ids the operator looked at (review) are reviewed;
/// ids that admitted themselves this run are unreviewed until then. The
/// verdict tells them apart, so the console can keep their messages and
/// alarms apart, and the unreviewed ids are listed by the sender that
/// brought them, so all of one sender's can be deleted at once.
///
/// Senders: per sender address, its admissions and refusals of the last
/// minute. The table is bounded; a sender is evicted only once it has been
/// quiet for a minute, so churning other addresses never resets anyone's
/// allowance. While the table is full of active senders, a new sender gets
/// no admission (refused and counted) until one ages out.
///
/// Candidates: refused ids that keep sending fixes are listed for the
/// operator to admit or ignore, ranked by how often they were seen. A new
/// id takes the place of the weakest only when that one was seen once (or
/// not for CANDIDATE_STALE_MS), so ids seen once cannot push out one seen
/// again and again; each sender holds at most MAX_CANDIDATES_PER_SENDER.
///
/// Containers keyed by ids or addresses hash with SeededHash: a sender
/// cannot choose keys that make lookups slow.
///
/// Thread-safe: check() runs on the intake thread, everything else on the
/// window's thread; one mutex guards all state and is held only briefly.
class VehicleAdmission {
public:
    enum Mode { OPEN = 0, KNOWN_ONLY = 1 };

    struct Rules {
        Mode mode = OPEN;
        int newPerMinute = 60;      ///< new vehicles one sender may add in 60 s
        int fleetLimit = 20000;     ///< vehicles the fleet may hold, deleted ones too
        int unreviewedLimit = 2000; ///< unreviewed vehicles the fleet may hold at once
        int allNewPerMinute = 600;  ///< new vehicles all senders together may add in 60 s
        bool operator==(const Rules& other) const = default;
    };

    enum Verdict {
        KNOWN,      ///< a reviewed vehicle's message
        UNREVIEWED, ///< a message of a vehicle that admitted itself this run
        NEW,        ///< the first fix of a vehicle admitted just now (unreviewed)
        REFUSED     ///< not taken: unknown id, ignored id, no id or a limit reached
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

    /// A sender address and how many unreviewed vehicles it brought.
    struct UnreviewedSender {
        std::string address;
        size_t vehicles = 0;
    };

    static constexpr size_t MAX_CANDIDATES = 200;
    static constexpr size_t MAX_CANDIDATES_PER_SENDER = 50;
    static constexpr size_t MAX_SENDERS = 1024;
    static constexpr size_t MAX_IGNORED = 10000;
    static constexpr int64_t MINUTE_MS = 60000;
    /// A candidate not seen for this long may give its place to a new one,
    /// however often it was seen before.
    static constexpr int64_t CANDIDATE_STALE_MS = 10 * MINUTE_MS;

    VehicleAdmission();
    VehicleAdmission(const VehicleAdmission&) = delete;
    VehicleAdmission& operator=(const VehicleAdmission&) = delete;

    /// The clocks: steady milliseconds for the limits, wall seconds for the
    /// candidates' times. Tests set their own; the defaults are the system's.
    void setClocks(std::function<int64_t()> steadyMs, std::function<std::time_t()> wallSeconds);

    /// Negative limits count as 0.
    void setRules(const Rules& rules);
    Rules getRules() const;

    /// Replaces the admitted ids (the stored fleet, deleted vehicles too);
    /// all of them are reviewed.
    void setKnown(const std::vector<UniqueID>& ids);
    /// The operator admits id: its next fix creates the vehicle; reviewed.
    void admit(const UniqueID& id);
    /// The operator looked at id (edited the vehicle): an admitted id is
    /// reviewed from now on; any other id is left alone.
    void review(const UniqueID& id);
    /// The operator ignores id: its messages are refused without listing it.
    void ignore(const UniqueID& id);
    /// id is no longer part of the fleet (deleted for good): it is a new
    /// vehicle again should it send.
    void forget(const UniqueID& id);

    /// The verdict on one parsed message, counted.
    Verdict check(const CallbackInfo& message);

    bool isKnown(const UniqueID& id) const;
    /// Whether id admitted itself this run and was not reviewed since.
    bool isUnreviewed(const UniqueID& id) const;
    size_t getKnownCount() const;
    size_t getUnreviewedCount() const;
    /// The unreviewed ids that address brought, in id order.
    std::vector<UniqueID> unreviewedOf(const std::string& address) const;
    /// The senders of unreviewed vehicles, most vehicles first.
    std::vector<UnreviewedSender> getUnreviewedSenders() const;
    /// The candidates, most recently seen first.
    std::vector<Candidate> getCandidates() const;
    Refusals getRecentRefusals() const;
    /// Messages refused since construction, malformed ones included.
    uint64_t getRefusedTotal() const;
    uint64_t getAdmittedTotal() const;
    /// Messages refused because their id field named no vehicle.
    uint64_t getMalformedTotal() const;
    /// Senders in the table (at most MAX_SENDERS).
    size_t getSenderCount() const;

private:
    // Refusals in one-second slots of the last minute.
    struct RefusalSlots {
        uint32_t counts[60] = {};
        int64_t seconds[60] = {};
        void add(int64_t nowMs);
        uint64_t inLastMinute(int64_t nowMs) const;
    };
    // Per sender: when it added vehicles in the last minute and its refusals.
    struct Sender {
        std::string address;
        std::vector<int64_t> admittedAt;
        int64_t lastActiveMs = 0;
        RefusalSlots refusals;
    };
    // A listed candidate; order is the sequence number of its last sighting.
    struct Listed {
        Candidate candidate;
        uint64_t order = 0;
        int64_t lastSeenMs = 0;
    };
    // Weakest first: fewest sightings, then least recently seen.
    using Rank = std::pair<uint64_t, uint64_t>;
    using Ranks = std::map<Rank, UniqueID>;

    Sender* senderOf(const std::string& address, int64_t nowMs);
    void countRefusal(Sender* sender, int64_t nowMs);
    bool mayAdmit(Sender& sender, int64_t nowMs);
    void noteCandidate(const CallbackInfo& message, int64_t nowMs);
    void rank(const Listed& listed);
    void unrank(const Listed& listed);
    // The caller holds the mutex for these.
    void dropCandidate(const UniqueID& id);
    void dropUnreviewed(const UniqueID& id);

    mutable std::mutex m_mutex;
    std::function<int64_t()> m_steadyMs;
    std::function<std::time_t()> m_wallSeconds;
    Rules m_rules;
    std::unordered_set<UniqueID, SeededHash> m_known;
    std::unordered_set<UniqueID, SeededHash> m_ignored;
    // Unreviewed ids with the sender that brought them, and by sender.
    std::unordered_map<UniqueID, std::string, SeededHash> m_unreviewed;
    std::map<std::string, std::set<UniqueID>> m_unreviewedBySender;
    // Admissions of all senders in the last minute, oldest first.
    std::deque<int64_t> m_recentAdmissions;
    // Senders, most recently active first; the index points into the list.
    std::list<Sender> m_senders;
    std::unordered_map<std::string, std::list<Sender>::iterator, SeededHash> m_senderIndex;
    // Refusals of senders the full table had no room for.
    RefusalSlots m_unlisted;
    // Candidates, most recently seen first, with their ranks overall and
    // per sender.
    std::list<Listed> m_candidates;
    std::unordered_map<UniqueID, std::list<Listed>::iterator, SeededHash> m_candidateIndex;
    Ranks m_ranks;
    std::unordered_map<std::string, Ranks, SeededHash> m_senderRanks;
    uint64_t m_sightings = 0;
    uint64_t m_refusedTotal = 0;
    uint64_t m_admittedTotal = 0;
    uint64_t m_malformedTotal = 0;
};

} // namespace velmora
