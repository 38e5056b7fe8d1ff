#pragma once

#include "rules/Alarm.h"
#include "rules/AlarmRequest.h"
#include "foundation/UniqueID.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

/// The rules of the alarm lifecycle, new -> acknowledged -> closed, and the
/// open alarms. No Qt, no clock, no storage: callers pass the time and the
/// operator's name and store what changed.
///
/// Which event kinds are alarms, and at which priority (1 the most
/// urgent), is the operator's setting. An alarm kind that comes again from
/// the same vehicle while its alarm is open counts on that alarm instead of
/// opening another, so a device that repeats its panic fills no queue. The
/// texts a device or an operator adds to an alarm are bounded.
///
/// Vehicles the operator knows and vehicles that admitted themselves
/// (unreviewed) come in by separate doors, raise() and raiseUnreviewed(),
/// and are bounded apart: reviewed vehicles' and the rules' alarms each get
/// a row of their own up to MAX_OPEN; unreviewed vehicles' alarms get rows
/// of their own only up to UNREVIEWED_PER_SENDER per sender address and
/// UNREVIEWED_OPEN in all, and past that fold into one row per sender
/// ("312 alarms from 280 unreviewed vehicles of 10.0.0.7"), at most
/// FOLDS_MAX such rows and one for all further senders. Senders that forge
/// their addresses can therefore never take a known vehicle's row. A fold
/// is acknowledged, noted and closed like any alarm; its priority is the
/// most urgent of what it holds, and a more urgent alarm folding in makes
/// it new again.
///
/// Notes are limited in characters (Unicode code points), the unit the
/// editor counts in.
///
/// Device events and the watch rules' requests (AlarmRequest) come in by
/// separate doors: raise() takes device kinds only, raiseRule() and
/// noteRule() the rule kinds (AlarmKinds), so a device that sends a rule
/// kind's number raises nothing.
class AlarmBook {
public:
    /// Open alarms of reviewed vehicles and of the rules.
    static constexpr size_t MAX_OPEN = 5000;
    /// Rows of their own the alarms of unreviewed vehicles may hold, per
    /// sender and in all; past either a sender's alarms fold.
    static constexpr size_t UNREVIEWED_PER_SENDER = 5;
    static constexpr size_t UNREVIEWED_OPEN = 100;
    /// Senders' fold rows at most; further senders share one more.
    static constexpr size_t FOLDS_MAX = 900;
    /// The kind of a fold row: no device or rule raises it.
    static constexpr int32_t FOLDED_KIND = 1900;
    /// Bytes kept of one device text (name, title, address).
    static constexpr size_t DEVICE_TEXT_MAX = 64;
    /// Characters kept of one note, and of all notes of an alarm.
    static constexpr size_t NOTE_MAX = 1000;
    static constexpr size_t NOTES_MAX = 16000;
    /// Priorities an alarm kind can have; 0 makes a kind a plain event.
    static constexpr int32_t PRIORITY_MIN = 1;
    static constexpr int32_t PRIORITY_MAX = 3;
    /// The author of the notes the watch rules write.
    static constexpr const char* RULES_AUTHOR = "rules";

    enum class Result {
        Raised,      ///< a new alarm is open
        Repeated,    ///< counted on the vehicle's open alarm of that kind
        NotAnAlarm,  ///< the kind raises no alarm
        Full,        ///< MAX_OPEN alarms are open (of notes: no room); nothing changed
        Folded,      ///< counted on the sender's fold row
        Done,        ///< the step was taken
        Unknown,     ///< no open alarm has that id
        AlreadyDone, ///< the alarm was acknowledged before
        NeedsNote,   ///< a priority 1 alarm closes only with a note
        EmptyNote,   ///< a note of nothing but blanks
    };

    /// Kind -> priority; kinds not named are plain events.
    using Priorities = std::map<int32_t, int32_t>;

    /// Ids of new alarms follow lastId (the highest stored).
    explicit AlarmBook(int32_t lastId = 0) : m_lastId(lastId) {}

    void setPriorities(const Priorities& priorities);
    const Priorities& getPriorities() const { return m_priorities; }
    /// The priority of kind; 0 when it raises no alarm.
    int32_t priorityOf(int32_t kind) const;

    /// A device event of kind from vehicle, received at now. On Raised and
    /// Repeated, alarm points to the open alarm (valid until the next change).
    /// A rule kind is NotAnAlarm here.
    Result raise(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                 const std::string& deviceTitle, const std::string& address, std::time_t now, const Alarm** alarm);
    /// A device event of kind from a vehicle that admitted itself, sent
    /// from address: a row of its own while the bounds allow, else counted
    /// on address's fold (Raised when that fold opened now, Folded when it
    /// was open). alarm points to the row it counted on. A rule kind is
    /// NotAnAlarm here.
    Result raiseUnreviewed(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                           const std::string& deviceTitle, const std::string& address, std::time_t now,
                           const Alarm** alarm);
    /// A watch rule's RAISE request for the vehicle named vehicleName,
    /// raised or counted like an event at request.time, with the request's
    /// title as the alarm's title. Its text becomes a note by RULES_AUTHOR:
    /// the first of a new alarm, or, with the title before it, one more on
    /// the open alarm it repeats (so a second zone entered is not lost).
    /// NotAnAlarm for a NOTE request or a kind that is not a rule kind.
    Result raiseRule(const AlarmRequest& request, const std::string& vehicleName, const Alarm** alarm);
    /// A watch rule's NOTE request: its text added by RULES_AUTHOR to the
    /// vehicle's open alarm of the request's kind. Unknown when none is open
    /// (the operator closed it), Full when its notes are full, NotAnAlarm
    /// for a RAISE request.
    Result noteRule(const AlarmRequest& request, const Alarm** alarm);
    Result acknowledge(int32_t id, const std::string& user, std::time_t now);
    /// Adds "time user: text" as a line of the alarm's notes; the text is
    /// cut to NOTE_MAX characters.
    Result addNote(int32_t id, const std::string& user, const std::string& text, std::time_t now);
    /// Closes the alarm (acknowledging it too when nobody had); the closed
    /// alarm is copied to closed and leaves the book.
    Result close(int32_t id, const std::string& user, std::time_t now, Alarm* closed);
    /// An open alarm read back at start-up; false when it is closed, its
    /// id is open already or the book is full.
    bool restore(const Alarm& alarm);

    const Alarm* find(int32_t id) const;
    /// The vehicle's open alarm of kind; null when none.
    const Alarm* openAlarmOf(const UniqueID& vehicle, int32_t kind) const;
    /// The ids of the vehicle's open alarms (rows of its own).
    std::vector<int32_t> openAlarmsOf(const UniqueID& vehicle) const;
    /// The open fold of address ("" for the further senders'); null when none.
    const Alarm* foldOf(const std::string& address) const;
    /// Every row: own alarms and folds.
    size_t openCount() const { return m_open.size(); }
    /// Rows of reviewed vehicles and rules (bounded by MAX_OPEN).
    size_t reviewedCount() const { return m_reviewedOpen; }
    /// The open alarms, most urgent priority first, then the oldest.
    std::vector<const Alarm*> ordered() const;
    /// Whether an open alarm of priority is not acknowledged yet.
    bool hasUnacknowledged(int32_t priority) const;
    /// Whether the vehicle has an open alarm nobody acknowledged.
    bool vehicleUnacknowledged(const UniqueID& vehicle) const;
    int32_t getLastId() const { return m_lastId; }

    /// The text cut to at most max bytes, never inside a UTF-8 character.
    static std::string cut(const std::string& text, size_t max);
    /// The characters (code points) of UTF-8 text.
    static size_t characters(const std::string& text);
    /// The text cut to at most max characters.
    static std::string cutCharacters(const std::string& text, size_t max);

private:
    // The alarms and vehicles counted on one sender's fold.
    struct Fold {
        int32_t id = 0;
        std::set<std::pair<UniqueID, int32_t>> alarms;
        std::set<UniqueID> vehicles;
    };

    Alarm* findOpen(int32_t id);
    Result raiseKind(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                     const std::string& deviceTitle, const std::string& address, std::time_t now,
                     const Alarm** alarm);
    /// A repeat of the vehicle's open alarm of kind, if it has one.
    bool repeat(const UniqueID& vehicle, int32_t kind, std::time_t now, const Alarm** alarm);
    Alarm& open(Alarm fresh);
    Result fold(const UniqueID& vehicle, int32_t kind, int32_t priority, const std::string& address,
                std::time_t now, const Alarm** alarm);
    /// Counts alarm in (added) or out of the tallies.
    void count(const Alarm& alarm, int step);
    void countAcknowledged(const Alarm& alarm, int step);

    Priorities m_priorities;
    int32_t m_lastId;
    std::map<int32_t, Alarm> m_open;
    std::map<std::pair<UniqueID, int32_t>, int32_t> m_byVehicleKind;
    std::map<std::string, Fold> m_folds;
    std::map<std::string, size_t> m_unreviewedBySender;
    size_t m_unreviewedOpen = 0;
    size_t m_reviewedOpen = 0;
    // Unacknowledged rows per priority, and per vehicle (rows of its own).
    size_t m_unacknowledged[PRIORITY_MAX + 1] = {};
    std::map<UniqueID, size_t> m_unacknowledgedOf;
};

} // namespace velmora
