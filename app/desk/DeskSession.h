#pragma once

#include "app/desk/DeskAlarms.h"
#include "app/desk/DeskCandidates.h"
#include "app/desk/DeskFleet.h"
#include "app/desk/DeskHistory.h"
#include "app/desk/DeskLink.h"
#include "app/desk/DeskSettings.h"
#include "app/desk/DeskVehicleStore.h"
#include "app/desk/DeskZones.h"
#include "store/DeskActions.h"

#include <QObject>

#include <memory>
#include <string>

class QWidget;

namespace velmora {

class AlarmPanel;
class FixFrames;
class IPageRunner;
class StoreStatusLine;
class VehicleInfoContainer;

/// The console as a control-room desk: it opens no callback port; the
/// fleet, the alarms and the shared settings come from the store and follow
/// its change feed (DeskLink), and what the operator changes that other
/// desks see goes back to it as transactions. Puts together the link, the
/// fleet (DeskFleet), the shared alarms (DeskAlarms), the vehicle changes,
/// the new vehicles' answers, the shared settings, the zones (DeskZones), the history the windows
/// read (DeskHistory) and the store's strip (StoreStatusLine).
///
/// The operator is the OS account, the desk this computer's host name (or
/// VELMORA_DESK, where one computer runs several desks).
/// Window thread only.
class DeskSession : public QObject, public DeskLink::Listener {
    Q_OBJECT

public:
    /// The collaborators outlive the session; the strip is made a child of
    /// window.
    DeskSession(const std::string& conninfo, IPageRunner& page, VehicleInfoContainer& vehicles, FixFrames& frames,
                AlarmPanel& alarms, QWidget* window);
    ~DeskSession() override;

    void start();
    /// Ends the link (actions in hand go while the budget lasts) and every
    /// wait for the store.
    void stop(int budgetMs = 1000);
    /// Ends every history read now (the console stops).
    void abortReads() { m_history.abort(); }

    /// This operator at this desk: the OS account and the host name, or
    /// the environment's VELMORA_DESK.
    static DeskActions::Operator localOperator();

    DeskLink& getLink() { return m_link; }
    DeskFleet& getFleet() { return m_fleet; }
    DeskAlarms& getAlarms() { return m_alarms; }
    DeskHistory& getHistory() { return m_history; }
    DeskVehicleStore& getVehicleStore() { return m_vehicleStore; }
    DeskCandidates& getCandidates() { return m_candidates; }
    DeskSettings& getSettings() { return m_settings; }
    DeskZones& getZones() { return m_zones; }
    StoreStatusLine* getStatusLine() const { return m_status; }
    bool isLoaded() const { return m_loaded; }

    void onLoaded(const DeskSnapshot& snapshot) override;
    void onUpdate(const DeskUpdate& update) override;
    void onReachability(bool reachable, int64_t sinceMs, const QString& why) override;

signals:
    /// The fleet was loaded from the store (first time and after a reload).
    void loaded();

private:
    void tell(const QString& text);

    DeskActions::Operator m_operator;
    StoreStatusLine* m_status;
    DeskLink m_link;
    AlarmPanel& m_panel;
    DeskFleet m_fleet;
    DeskAlarms m_alarms;
    DeskHistory m_history;
    DeskVehicleStore m_vehicleStore;
    DeskCandidates m_candidates;
    DeskSettings m_settings;
    DeskZones m_zones;
    bool m_loaded = false;
};

} // namespace velmora
