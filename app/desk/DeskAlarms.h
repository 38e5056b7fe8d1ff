#pragma once

#include "app/alarms/IAlarmActions.h"
#include "store/DeskActions.h"
#include "store/StoredAlarm.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace velmora {

class AlarmPanel;
class DeskLink;

/// The alarms a control room shares: the open alarms as the store holds
/// them, shown in the desk's queue (AlarmPanel::replaceOpen), and the
/// operator's steps on them as transactions in the store (DeskActions),
/// where the first desk wins a race. The desk that comes second is told in
/// the queue who was first ("acknowledged by ann on desk-2 at 14:02:11"),
/// never in a box.
///
/// In the queue an alarm's acknowledger reads "user on desk". Notes are
/// written as the single desk writes them ("time user: text"). Window
/// thread only.
class DeskAlarms : public IAlarmActions {
public:
    DeskAlarms(DeskLink& link, AlarmPanel& panel, DeskActions::Operator by);

    /// The open alarms of a snapshot replace those shown (no sound).
    void load(const std::vector<StoredAlarm>& open);
    /// Alarms the feed says changed: raised, repeated, acknowledged, noted
    /// or closed (a new unacknowledged one rings).
    void apply(const std::vector<StoredAlarm>& changed);

    AlarmBook::Result acknowledge(const Alarm& alarm) override;
    AlarmBook::Result addNote(const Alarm& alarm, const std::string& text) override;
    AlarmBook::Result close(const Alarm& alarm, const std::string& note) override;

    size_t getOpenCount() const { return m_open.size(); }
    /// The clock of note lines (UTC seconds); std::time unless a test sets another.
    void setClock(std::function<std::time_t()> now) { m_now = std::move(now); }

    /// What the queue says of the outcome of a step that did not go as
    /// asked; empty for one that did.
    static QString outcomeText(const DeskActions::AlarmOutcome& outcome);
    /// "user on desk" (or the user alone).
    static std::string who(const std::string& user, const std::string& desk);

private:
    /// Takes a row as it now is; whether it changed what is shown.
    bool take(const StoredAlarm& row);
    void show(bool announce);
    /// The whole note line for text, or why there is none.
    AlarmBook::Result noteLine(const Alarm& alarm, const std::string& text, std::string& line) const;
    void submit(int64_t id, const char* step, std::function<DeskActions::AlarmOutcome(PgConnection&)> work);

    DeskLink& m_link;
    AlarmPanel& m_panel;
    DeskActions::Operator m_by;
    std::map<int64_t, StoredAlarm> m_open;
    std::function<std::time_t()> m_now = [] { return std::time(nullptr); };
};

} // namespace velmora
