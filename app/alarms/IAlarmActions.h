#pragma once

#include "rules/AlarmBook.h"

#include <string>

namespace velmora {

struct Alarm;

/// Where the operator's steps on an alarm go when the alarms are shared with
/// other desks: the step is handed over and its outcome comes back later
/// (AlarmPanel::replaceOpen, AlarmPanel::showNotice), because another desk
/// may take the same alarm first. A panel without one keeps its own book
/// and app.db, as the single desk always has.
class IAlarmActions {
public:
    virtual ~IAlarmActions() = default;
    /// Done when the step was handed over; otherwise why it was not taken,
    /// in AlarmBook's words (AlreadyDone, EmptyNote, Full, NeedsNote).
    virtual AlarmBook::Result acknowledge(const Alarm& alarm) = 0;
    virtual AlarmBook::Result addNote(const Alarm& alarm, const std::string& text) = 0;
    /// Closes with note (may be empty) as its last note.
    virtual AlarmBook::Result close(const Alarm& alarm, const std::string& note) = 0;
};

} // namespace velmora
