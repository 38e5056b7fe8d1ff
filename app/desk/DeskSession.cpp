#include "app/desk/DeskSession.h"

#include "app/alarms/AlarmPanel.h"
#include "app/desk/StoreStatusLine.h"
#include "foundation/Trace.h"

#include <unistd.h>

namespace velmora {

namespace {

DeskLink::Options linkOptions(const std::string& conninfo) {
    DeskLink::Options options;
    options.conninfo = conninfo;
    return options;
}

} // namespace

DeskActions::Operator DeskSession::localOperator() {
    // VELMORA_DESK names a desk where one computer has several.
    const QString named = qEnvironmentVariable("VELMORA_DESK").trimmed();
    if (!named.isEmpty()) {
        return {AlarmPanel::userName(), named.left(64).toStdString()};
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return {AlarmPanel::userName(), host};
}

DeskSession::DeskSession(const std::string& conninfo, IPageRunner& page, VehicleInfoContainer& vehicles,
                         FixFrames& frames, AlarmPanel& alarms, QWidget* window)
    : m_operator(localOperator()), m_status(new StoreStatusLine(window)), m_link(linkOptions(conninfo), *this),
      m_panel(alarms), m_fleet(page, vehicles, frames), m_alarms(m_link, alarms, m_operator), m_history(conninfo),
      m_vehicleStore(m_link, m_operator, [this](const QString& text) { tell(text); }),
      m_candidates(m_link, m_operator, [this](const QString& text) { tell(text); }),
      m_settings(m_link, m_operator, [this](const QString& text) { tell(text); }),
      m_zones(m_link, m_operator, [this](const QString& text) { tell(text); }) {}

DeskSession::~DeskSession() { stop(0); }

void DeskSession::start() {
    trace("DeskSession: a control-room desk of %s as %s on %s (no callback port)",
          PgConnection::describe(m_link.getConninfo()).c_str(), m_operator.user.c_str(), m_operator.desk.c_str());
    m_link.start();
}

void DeskSession::stop(int budgetMs) {
    m_history.abort();
    m_link.stop(budgetMs);
}

void DeskSession::tell(const QString& text) {
    trace("DeskSession: %s", qPrintable(text));
    m_status->note(text);
}

void DeskSession::onLoaded(const DeskSnapshot& snapshot) {
    m_settings.replace(snapshot.settings);
    m_panel.setPriorities(snapshot.settings.priorities);
    m_fleet.load(snapshot.vehicles, snapshot.recentFixes);
    m_alarms.load(snapshot.openAlarms);
    m_candidates.replace(snapshot.candidates);
    m_status->setWaiting(snapshot.candidates.size());
    m_zones.replace(snapshot.zones);
    m_loaded = true;
    emit loaded();
}

void DeskSession::onUpdate(const DeskUpdate& update) {
    if (update.hasSettings) {
        m_settings.replace(update.settings);
        m_panel.setPriorities(update.settings.priorities);
    }
    m_fleet.apply(update.changes);
    if (!update.changes.alarms.empty()) {
        m_alarms.apply(update.changes.alarms);
    }
    if (update.hasCandidates) {
        m_candidates.replace(update.candidates);
        m_status->setWaiting(update.candidates.size());
    }
    if (update.hasZones) {
        m_zones.replace(update.zones);
    }
}

void DeskSession::onReachability(bool reachable, int64_t sinceMs, const QString& why) {
    if (reachable) {
        m_status->setReachable();
    } else {
        m_status->setUnreachable(sinceMs, why);
    }
}

} // namespace velmora
