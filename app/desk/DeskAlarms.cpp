#include "app/desk/DeskAlarms.h"

#include "app/alarms/AlarmPanel.h"
#include "app/desk/DeskLink.h"
#include "foundation/Trace.h"

namespace velmora {

namespace {

QString alarmName(const Alarm& alarm) {
    return QStringLiteral("The alarm of %1").arg(QString::fromStdString(alarm.vehicleName));
}

} // namespace

DeskAlarms::DeskAlarms(DeskLink& link, AlarmPanel& panel, DeskActions::Operator by)
    : m_link(link), m_panel(panel), m_by(std::move(by)) {}

std::string DeskAlarms::who(const std::string& user, const std::string& desk) {
    return desk.empty() || user.empty() ? user : user + " on " + desk;
}

QString DeskAlarms::outcomeText(const DeskActions::AlarmOutcome& outcome) {
    const StoredAlarm& row = outcome.alarm;
    const Alarm& alarm = row.alarm;
    switch (outcome.kind) {
    case DeskActions::AlarmOutcome::DONE:
        return QString();
    case DeskActions::AlarmOutcome::TAKEN:
        return QStringLiteral("%1 was acknowledged by %2 at %3.")
            .arg(alarmName(alarm), QString::fromStdString(who(alarm.acknowledgedBy, row.acknowledgedDesk)),
                 AlarmPanel::clockText(alarm.acknowledged));
    case DeskActions::AlarmOutcome::CLOSED:
        return QStringLiteral("%1 was closed by %2 at %3.")
            .arg(alarmName(alarm), QString::fromStdString(who(alarm.closedBy, row.closedDesk)),
                 AlarmPanel::clockText(alarm.closed));
    case DeskActions::AlarmOutcome::NEEDS_NOTE:
        return QStringLiteral("A priority 1 alarm closes only with a note: type what was done, then Close.");
    case DeskActions::AlarmOutcome::FULL:
        return QStringLiteral("This alarm has no room for more notes.");
    case DeskActions::AlarmOutcome::UNKNOWN:
        break;
    }
    return QStringLiteral("This alarm is no longer in the store.");
}

bool DeskAlarms::take(const StoredAlarm& row) {
    const int64_t id = row.alarm.id;
    const auto found = m_open.find(id);
    if (row.alarm.closed != 0) {
        if (found == m_open.end()) {
            return false;
        }
        trace("DeskAlarms: alarm %lld closed by %s at %s", static_cast<long long>(id),
              who(row.alarm.closedBy, row.closedDesk).c_str(), Alarm::timeText(row.alarm.closed).c_str());
        m_open.erase(found);
        return true;
    }
    if (found == m_open.end()) {
        m_open.emplace(id, row);
        return true;
    }
    const StoredAlarm& before = found->second;
    if (!before.alarm.isAcknowledged() && row.alarm.isAcknowledged()) {
        trace("DeskAlarms: alarm %lld acknowledged by %s at %s", static_cast<long long>(id),
              who(row.alarm.acknowledgedBy, row.acknowledgedDesk).c_str(),
              Alarm::timeText(row.alarm.acknowledged).c_str());
    }
    found->second = row;
    return true;
}

void DeskAlarms::show(bool announce) {
    std::vector<Alarm> open;
    open.reserve(m_open.size());
    for (const auto& entry : m_open) {
        Alarm alarm = entry.second.alarm;
        alarm.acknowledgedBy = who(alarm.acknowledgedBy, entry.second.acknowledgedDesk);
        open.push_back(std::move(alarm));
    }
    m_panel.replaceOpen(open, announce);
}

void DeskAlarms::load(const std::vector<StoredAlarm>& open) {
    m_open.clear();
    size_t acknowledged = 0;
    for (const StoredAlarm& row : open) {
        if (row.alarm.closed == 0) {
            m_open.emplace(row.alarm.id, row);
            acknowledged += row.alarm.isAcknowledged() ? 1 : 0;
        }
    }
    trace("DeskAlarms: %zu open alarms, %zu of them acknowledged", m_open.size(), acknowledged);
    show(false);
}

void DeskAlarms::apply(const std::vector<StoredAlarm>& changed) {
    bool any = false;
    for (const StoredAlarm& row : changed) {
        any = take(row) || any;
    }
    if (any) {
        show(true);
    }
}

void DeskAlarms::submit(int64_t id, const char* step,
                        std::function<DeskActions::AlarmOutcome(PgConnection&)> work) {
    m_link.submit(
        [this, work = std::move(work), id, step](PgConnection& connection) -> std::function<void()> {
            const DeskActions::AlarmOutcome outcome = work(connection);
            return [this, outcome, id, step] {
                trace("DeskAlarms: %s of alarm %lld: %s", step, static_cast<long long>(id),
                      outcome.kind == DeskActions::AlarmOutcome::DONE
                          ? "done"
                          : qPrintable(outcomeText(outcome)));
                if (outcome.kind != DeskActions::AlarmOutcome::UNKNOWN && take(outcome.alarm)) {
                    show(false);
                } else if (outcome.kind == DeskActions::AlarmOutcome::UNKNOWN && m_open.erase(id) != 0) {
                    show(false);
                }
                m_panel.showNotice(outcomeText(outcome));
            };
        },
        [this, step](const QString& why) {
            m_panel.showNotice(QStringLiteral("Not %1: %2").arg(QString::fromLatin1(step), why));
        });
}

AlarmBook::Result DeskAlarms::acknowledge(const Alarm& alarm) {
    const int64_t id = alarm.id;
    const DeskActions::Operator by = m_by;
    submit(id, "acknowledged", [id, by](PgConnection& connection) {
        return DeskActions::acknowledge(connection, id, by);
    });
    return AlarmBook::Result::Done;
}

AlarmBook::Result DeskAlarms::noteLine(const Alarm& alarm, const std::string& text, std::string& line) const {
    // The single desk's rules make the line: cut, one line, blanks trimmed,
    // "time user: text", room left in the notes.
    Alarm copy = alarm;
    copy.closed = 0;
    AlarmBook scratch;
    if (!scratch.restore(copy)) {
        return AlarmBook::Result::Unknown;
    }
    const AlarmBook::Result result = scratch.addNote(copy.id, m_by.user, text, m_now());
    if (result == AlarmBook::Result::Done) {
        const std::string& notes = scratch.find(copy.id)->notes;
        line = notes.substr(alarm.notes.empty() ? 0 : alarm.notes.size() + 1);
    }
    return result;
}

AlarmBook::Result DeskAlarms::addNote(const Alarm& alarm, const std::string& text) {
    std::string line;
    const AlarmBook::Result result = noteLine(alarm, text, line);
    if (result != AlarmBook::Result::Done) {
        return result;
    }
    const int64_t id = alarm.id;
    const DeskActions::Operator by = m_by;
    submit(id, "noted", [id, line, by](PgConnection& connection) {
        return DeskActions::addNote(connection, id, line, by);
    });
    return AlarmBook::Result::Done;
}

AlarmBook::Result DeskAlarms::close(const Alarm& alarm, const std::string& note) {
    std::string line;
    if (note.find_first_not_of(" \t\r\n") != std::string::npos) {
        const AlarmBook::Result result = noteLine(alarm, note, line);
        if (result != AlarmBook::Result::Done) {
            return result;
        }
    }
    if (alarm.priority == 1 && alarm.notes.empty() && line.empty()) {
        return AlarmBook::Result::NeedsNote;
    }
    const int64_t id = alarm.id;
    const DeskActions::Operator by = m_by;
    submit(id, "closed", [id, line, by](PgConnection& connection) {
        return DeskActions::close(connection, id, line, by);
    });
    return AlarmBook::Result::Done;
}

} // namespace velmora
