#pragma once

#include "rules/Alarm.h"
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

    /// An event of kind from vehicle, received at now. On Raised and
    /// Repeated, alarm points to the open alarm (valid until the next change).
    Result raise(const UniqueID& vehicle, const std::string& vehicleName, int32_t kind,
                 const std::string& deviceTitle, const std::string& address, std::time_t now, const Alarm** alarm);
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

    Priorities m_priorities;
    int32_t m_lastId;
    std::map<int32_t, Alarm> m_open;
    std::map<std::pair<UniqueID, int32_t>, int32_t> m_byVehicleKind;
};

} // namespace velmora
