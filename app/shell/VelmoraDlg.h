#pragma once

#include "app/hub/AlarmTrack.h"
#include "app/hub/ConsoleHub.h"
#include "app/hub/FixFrames.h"
#include "app/hub/WatchHub.h"
#include "app/shell/IntakePump.h"
#include "app/shell/StopDrain.h"
#include "app/system/IntakeDrain.h"
#include "app/shell/OperatorDesk.h"
#include "app/shell/PageRunner.h"
#include "app/shell/WindowGeometry.h"
#include "intake/CallbackServerDelegate.h"
#include "intake/IntakeQueue.h"
#include "intake/VehicleAdmission.h"
#include "mapview/CefClientHandler.h"
#include "mapview/CefClientListener.h"
#include "mapview/CefClientV8Handler.h"
#include "mapview/CefClientV8Listener.h"

#include <QDialog>
#include <QIcon>
#include <QSize>
#include <QString>
#include <QStringList>

#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QSplitter;
class QTimer;

namespace velmora {

class AlarmPanel;
class AlarmStrip;
class AlarmReportDlg;
class DeskSession;
class IntakeStatusLine;
class MBTilesSource;
class NewVehiclesDlg;
class PageProbe;
class VehicleEraser;
class RuleAlarms;
class ZonesDlg;

class CallbackServerImpl;
class WindowMessage;

/// The console's main window: the map page fills it, and it ties the
/// callback server, the tracking database and the page together.
///
/// It only turns Qt events into calls on the ConsoleHub, which holds the
/// rules. Device messages are judged on the server thread first
/// (VehicleAdmission: a flood of unknown ids ends there), then wait in a
/// bounded IntakeQueue, which the GUI thread empties in batches woken by a
/// posted UWM_INTAKE, so timers, input and the stop signal are served
/// between batches. Other input from another thread is a posted
/// WindowMessage, handled here in posting order; the handler owns and frees
/// its payload. The page's requests arrive on the GUI thread and take the
/// same hop, except renames and information updates, which are answered at
/// once.
///
/// What the intake refuses or drops is shown in a line below the map
/// ("Intake: ... in the last minute"), never in a box; clicking it opens the
/// "New vehicles" list. Open alarms are listed in a queue right of the map,
/// a side panel the operator can widen up to half the window or fold to its
/// count ("Alarms (12)" in a strip above the map). The watch rules
/// (WatchHub) hear what ConsoleHub hears and tick with the status line;
/// what they raise reaches the queue through RuleAlarms.
///
/// The first start opens the window at 85% of the screen's free area; its
/// size, place, maximised state and the queue's width and fold are kept in
/// setup.db at the stop and restored on a screen that still exists
/// (WindowPlacement).
///
/// Fixes reach the page a frame at a time (FixFrames): of each vehicle only
/// its newest position per frame, so the page's pace never bounds what is
/// taken in and stored.
///
/// With a store (setStore(), or the store chosen in the settings) the
/// window is a control-room desk (DeskSession): no callback port and no
/// app.db; the fleet, alarms and shared settings come from the store, and
/// a strip below the map says when the store is away.
///
/// Life: construct, create() (screen check, browser), initialise()
/// (databases, server or store), run with exec(), close (question, or a
/// signal), teardown: intake drained, server stopped and deleted (or the
/// store's link ended), DBManager shut down (it writes everything queued),
/// setup.db closed.
class VelmoraDlg : public QDialog,
                   public CallbackServerDelegate,
                   public CefClientV8Listener,
                   public CefClientListener {
    Q_OBJECT

public:
    /// The smallest monitor the console runs on.
    static constexpr int MIN_SCREEN_WIDTH = 1024;
    static constexpr int MIN_SCREEN_HEIGHT = 620;
    /// The smallest client size (514 x 343 dialog units); the window is
    /// never made smaller than that.
    static constexpr int MINIMUM_WIDTH = 771;
    static constexpr int MINIMUM_HEIGHT = 557;
    /// The alarm queue is never narrower than this while it shows.
    static constexpr int ALARMS_MIN_WIDTH = 240;

    /// applicationDirectory holds app.db, setup.db and images/.
    explicit VelmoraDlg(const QString& applicationDirectory, QWidget* parent = nullptr);
    ~VelmoraDlg() override;

    /// The screen check and the browser. On a monitor under 1024 x 620 it
    /// shows "Bad resolution format or unsupported resolution." and answers
    /// false; the console must then end.
    bool create();
    /// Opens app.db and setup.db, reads the callback port and starts the
    /// server. A database or port that fails is reported to the operator
    /// once the window shows; the console runs on.
    void initialise();
    /// Closes without the question, in the same order as an accepted close
    /// (SIGTERM, SIGINT). Open modal windows are closed first.
    void closeWithoutQuestion();
    /// Works as a desk of the store at conninfo (a libpq connection string;
    /// "" for the PG* environment); before initialise().
    void setStore(const std::string& conninfo);
    /// The control-room desk; null for the single desk.
    DeskSession* getDeskSession() const { return m_deskSession.get(); }
    FixFrames& getFrames() { return m_frames; }

    /// The application icon, drawn from the vehicle marker's SVG.
    static QIcon applicationIcon();

    // CallbackServerDelegate, server thread.
    void onCallback(const CallbackInfo& info) override;
    void onError(const char* message) override;

    // CefClientV8Listener, GUI thread.
    void onClickLog() override;
    void onClickSetup() override;
    void onClickEdit(const std::string& vehicleID) override;
    void onClickRemove(const std::string& vehicleID) override;
    void onChangeName(const std::string& vehicleID, const std::string& vehicleName) override;
    bool onUpdateOptionalInfo(const std::string& vehicleID, const std::string& imagePath, const std::string& info1,
                              const std::string& info2) override;
    void onClickImgBtn(const std::string& vehicleID) override;
    void onClickTrackingLine(const std::string& vehicleID) override;
    void onClickDelete(const std::string& vehicleID) override;
    void onMapViewChanged(const MapView& view) override;
    void onClickZones() override;
    void onZoneDrawn(const std::string& shape, const std::string& geometry) override;
    void onZoneEdited(const std::string& zoneId, const std::string& shape, const std::string& geometry) override;

    // CefClientListener, GUI thread.
    void onPageLoaded() override;

    CefClientHandler& getHost() { return m_host; }
    ConsoleHub& getHub() { return m_hub; }
    int getCallbackPort() const { return m_callbackPort; }
    /// The port the server listens on; 0 when it does not.
    int getBoundPort() const;
    /// The problems reported (or still to report) to the operator.
    const QStringList& getProblems() const { return m_problems; }
    bool isStarted() const { return m_started; }
    VehicleAdmission& getAdmission() { return m_admission; }
    const IntakeQueue& getIntakeQueue() const { return m_intake; }
    /// The intake status line's text; empty while it is hidden.
    QString getIntakeStatus() const;
    /// Opens (or raises) the "New vehicles" list.
    void showNewVehicles();
    /// The alarm queue beside the map; shown while alarms are open and it
    /// is not folded.
    AlarmPanel* getAlarms() const { return m_alarms; }
    /// The map and the alarm queue side by side.
    QSplitter* getSplitter() const { return m_splitter; }
    /// The strip above the map with the queue's count; shown while alarms
    /// are open.
    AlarmStrip* getAlarmStrip() const { return m_alarmStrip; }
    /// Folds the alarm queue to its count, or shows it again.
    void setAlarmsFolded(bool folded);
    bool areAlarmsFolded() const { return m_alarmsFolded; }
    /// What is kept in setup.db of the window at the stop.
    WindowGeometry getGeometryToKeep() const;
    /// Opens (or raises) the "Alarms" report.
    AlarmReportDlg* showAlarmReport();
    /// The watch rules and their zones.
    WatchHub& getWatch() { return m_watch; }
    /// Opens (or raises) the "Zones" list, with zone id selected (0: as it was).
    ZonesDlg* showZones(int32_t id = 0);
    bool isTornDown() const { return m_tornDown; }

protected:
    bool event(QEvent* event) override;
    /// The page learns every change of its view's size.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    /// Every way out goes through the close question.
    void reject() override;

private:
    /// Builds the page for the stored map settings, starting at the kept
    /// view or the stored fleet, and loads it (the first time into a new
    /// browser beside the alarm queue); the fleet is sent again once it has
    /// loaded. A file that cannot serve tiles is reported and the offline
    /// map shown.
    void applyMapSettings();
    void handleMessage(WindowMessage& message);
    void applyAdmissionSettings();
    /// The page's size: the window's, less the alarm queue, the strip above
    /// and the intake line below, when they show.
    int pageHeight() const;
    int pageWidth() const;
    /// Puts the window where setup.db kept it (a first start when kept is
    /// empty), on a screen there is.
    void placeWindow(const std::optional<WindowGeometry>& kept);
    /// Shows or hides the strip and the queue for the open alarms and the
    /// fold; the queue gets its width back, at most half the window.
    void showAlarms();
    void onAlarmCountChanged(int count);
    /// "Track" of the alarm queue: the vehicle's history around alarm id.
    void trackAlarm(int32_t id);
    /// A new alarm: the window comes to the front and asks the desktop for
    /// attention, without taking the keyboard from another window.
    void drawAttention();
    /// Places the strip, the map with the queue and the intake line.
    void layoutChildren();
    void startServer();
    /// initialise() of a control-room desk of the store at conninfo.
    void startDesk(const std::string& conninfo);
    void restartServer(int port);
    void reportProblems();
    void report(const QString& problem);
    void finishStop();
    void teardown();

    QString m_applicationDirectory;
    // The page functions outlive the page: the host (declared after it)
    // deletes the page first.
    CefClientV8Handler m_v8Handler;
    CefClientHandler m_host;
    PageRunner m_page;
    OperatorDesk m_desk;
    ConsoleHub m_hub;
    FixFrames m_frames;
    std::unique_ptr<DeskSession> m_deskSession;
    bool m_storeGiven = false;
    std::string m_storeConninfo;
    WatchHub m_watch;
    AlarmTrack m_alarmTrack;
    std::unique_ptr<CallbackServerImpl> m_server;
    int m_callbackPort = 0;
    bool m_pageLoadedPosted = false;
    /// The MBTiles file the page's local tiles come from, while one is chosen.
    std::unique_ptr<MBTilesSource> m_localTiles;
    bool m_started = true;
    bool m_shown = false;
    bool m_stopping = false;
    bool m_tornDown = false;
    // The start-path failure text the server reports while start() runs.
    bool m_inStart = false;
    std::string m_startError;
    QStringList m_problems;
    QStringList m_unreported;
    IntakeDrain m_drain;
    VehicleAdmission m_admission;
    IntakeQueue m_intake;
    IntakePump m_pump;
    StopDrain m_stopDrain;
    IntakeStatusLine* m_intakeStatus = nullptr;
    QTimer* m_statusTimer = nullptr;
    QPointer<NewVehiclesDlg> m_newVehicles;
    AlarmPanel* m_alarms = nullptr;
    QSplitter* m_splitter = nullptr;
    AlarmStrip* m_alarmStrip = nullptr;
    int m_alarmCount = 0;
    bool m_alarmsFolded = false;
    /// The queue's width as the operator left it; 0 for the default.
    int m_alarmWidth = 0;
    QPointer<AlarmReportDlg> m_alarmReport;
    VehicleEraser* m_eraser = nullptr;
    PageProbe* m_pageProbe = nullptr;
    std::unique_ptr<RuleAlarms> m_ruleAlarms;
    QPointer<ZonesDlg> m_zones;
};

} // namespace velmora
