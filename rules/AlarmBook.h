#pragma once

#include "rules/Alarm.h"
#include "rules/AlarmRequest.h"
#include "foundation/UniqueID.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
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
/// open alarms are bounded (MAX_OPEN); so are the texts a device or an
/// operator adds to one.
///
/// Device events and the watch rules' requests (AlarmRequest) come in by
/// separate doors: raise() takes device kinds only, raiseRule() and
/// noteRule() the rule kinds (AlarmKinds), so a device that sends a rule
/// kind's number raises nothing.
class AlarmBook {
public:
    static constexpr size_t MAX_OPEN = 5000;
    /// Bytes kept of one device text (name, title, address).
    static constexpr size_t DEVICE_TEXT_MAX = 64;
    /// Bytes kept of one note, and of all notes of an alarm.
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
        Full,        ///< MAX_OPEN alarms are open; nothing changed
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
    /// Adds "time user: text" as a line of the alarm's notes.
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
    size_t openCount() const { return m_open.size(); }
    /// The open alarms, most urgent priority first, then the oldest.
    std::vector<const Alarm*> ordered() const;
    /// Whether an open alarm of priority is not acknowledged yet.
    bool hasUnacknowledged(int32_t priority) const;
    /// Whether the vehicle has an open alarm nobody acknowledged.
    bool vehicleUnacknowledged(const UniqueID& vehicle) const;
    int32_t getLastId() const { return m_lastId; }

    /// The text cut to at most max bytes, never inside a UTF-8 character.
    static std::string cut(const std::string& text, size_t max);

private:
    Alarm* findOpen(int32_t id);
    Result raiseKind(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                     const std::string& deviceTitle, const std::string& address, std::time_t now,
                     const Alarm** alarm);

    Priorities m_priorities;
    int32_t m_lastId;
    std::map<int32_t, Alarm> m_open;
    std::map<std::pair<UniqueID, int32_t>, int32_t> m_byVehicleKind;
};

} // namespace velmora
