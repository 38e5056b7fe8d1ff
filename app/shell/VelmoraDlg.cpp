#include "app/shell/VelmoraDlg.h"

#include "app/hub/AdmissionSettings.h"
#include "app/alarms/AlarmPanel.h"
#include "app/alarms/AlarmReportDlg.h"
#include "app/alarms/AlarmSettings.h"
#include "app/desk/DeskSession.h"
#include "app/desk/StoreChoice.h"
#include "app/desk/StoreStatusLine.h"
#include "app/alarms/RuleAlarms.h"
#include "app/dialogs/ZonesDlg.h"
#include "app/hub/MapSettings.h"
#include "app/dialogs/MessageBox.h"
#include "app/system/MultiMonitor.h"
#include "app/dialogs/NewVehiclesDlg.h"
#include "app/hub/VehicleEraser.h"
#include "app/shell/AlarmStrip.h"
#include "app/shell/IntakeStatusLine.h"
#include "app/shell/PageProbe.h"
#include "app/shell/StartupTrace.h"
#include "app/shell/WindowMessage.h"
#include "app/shell/WindowPlacement.h"
#include "db/DBManager.h"
#include "db/Setup.h"
#include "db/SetupBatch.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/Exception.h"
#include "foundation/SystemText.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackServerImpl.h"
#include "mapview/MBTilesSource.h"
#include "mapview/MapCommands.h"
#include "mapview/PageDocument.h"
#include "mapview/PageResources.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QSvgRenderer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <vector>

// The icon's resource lives in a static library: nothing would pull its
// initialiser into the program otherwise.
static void initialiseConsoleResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace velmora {

namespace {

QString reasonText(const char* message) {
    QString reason = QString::fromUtf8(message == nullptr ? "" : message).trimmed();
    while (reason.endsWith(QLatin1Char('.'))) {
        reason.chop(1);
    }
    return reason.isEmpty() ? QStringLiteral("unknown error") : reason;
}

QString databaseProblem(const char* file, const Exception& e, const char* consequence) {
    return QStringLiteral("The database %1 cannot be opened: %2. %3")
        .arg(QString::fromLatin1(file), reasonText(e.getMessage()), QString::fromLatin1(consequence));
}

} // namespace

VelmoraDlg::VelmoraDlg(const QString& applicationDirectory, QWidget* parent)
    : QDialog(parent), m_applicationDirectory(applicationDirectory), m_v8Handler(this), m_page(m_host),
      m_desk(this), m_hub(m_page, m_desk, VehicleInfoContainer::getInstance(), Setup::getInstance()),
      m_frames(m_page), m_watch(m_page, Setup::getInstance()), m_alarmTrack(m_page, m_desk),
      m_pump(m_admission, m_intake, m_drain), m_stopDrain(m_drain) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    m_hub.setAdmission(&m_admission);
    m_hub.setFrames(&m_frames);
    m_frames.setShow([this](const UniqueID& id, const GPSInfo* fix) { m_hub.showFrame(id, fix); });
    m_pump.setWake([this] { WindowMessage::post(this, WindowMessage::UWM_INTAKE); });
    m_pump.setHandler([this](CallbackInfo& message) {
        if (m_server && !m_tornDown) {
            m_hub.onDeviceMessage(message);
        }
    });
    m_pump.setMarkerListener([this] { m_stopDrain.markerArrived(); });
    m_hub.setEventListener([this](const CallbackInfo& event) {
        if (m_alarms != nullptr) {
            m_alarms->onEvent(event);
        }
    });
    m_hub.setErasedListener([this](const UniqueID& vehicle) {
        if (m_alarms != nullptr) {
            m_alarms->vehicleGone(vehicle);
        }
    });
    m_eraser = new VehicleEraser(m_hub, m_desk, m_admission, this);
    m_pageProbe = new PageProbe(m_host, this);
    m_hub.setWatch(&m_watch);
    m_watch.setRequestListener([this](const AlarmRequest& request) {
        if (m_ruleAlarms) {
            m_ruleAlarms->take(request);
        }
    });
    m_watch.setZonesListener([this] {
        if (!m_zones.isNull()) {
            m_zones->refresh();
        }
    });
    m_watch.setZoneMadeListener([this](int32_t id) {
        if (m_tornDown) {
            return;
        }
        // The operator names it next: the keyboard goes to the list.
        ZonesDlg* zones = showZones(id);
        zones->activateWindow();
        zones->editName();
    });
}

VelmoraDlg::~VelmoraDlg() {
    teardown();
    m_host.getSchemeHandler()->unregisterHost(QString::fromLatin1(MBTilesSource::HOST));
    m_host.setListener(nullptr);
    m_v8Handler.setListener(nullptr);
}

QIcon VelmoraDlg::applicationIcon() {
    static const QIcon icon = [] {
        initialiseConsoleResources();
        QIcon drawn;
        QSvgRenderer renderer(QStringLiteral(":/app/velmora.svg"));
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            drawn.addPixmap(pixmap);
        }
        return drawn;
    }();
    return icon;
}

bool VelmoraDlg::create() {
    StartupTrace::mark("window being created");
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(applicationIcon());
    resize(MINIMUM_WIDTH, MINIMUM_HEIGHT);
    QScreen* monitor = MultiMonitor::getInstance().monitorFor(this);
    const QRect area = monitor != nullptr ? monitor->geometry() : QRect();
    if (area.width() < MIN_SCREEN_WIDTH || area.height() < MIN_SCREEN_HEIGHT) {
        trace("VelmoraDlg: monitor %dx%d is too small", area.width(), area.height());
        MessageBox::stop(this, QStringLiteral("Bad resolution format or unsupported resolution."));
        m_started = false;
        return false;
    }
    setMinimumSize(MINIMUM_WIDTH, MINIMUM_HEIGHT);
    // setup.db is read later (initialise): until then, a first start.
    placeWindow(std::nullopt);

    m_host.setListener(this);
    m_host.registerExtension(&m_v8Handler);
    PageResources::install(*m_host.getSchemeHandler());
    m_host.setApplicationDirectory(m_applicationDirectory);
    // The map (its page is made once the settings and the fleet are read)
    // and the alarm queue side by side; the map takes what the window
    // gains or loses, the queue keeps its width.
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("mapAndAlarms"));
    m_splitter->setChildrenCollapsible(false);

    m_intakeStatus = new IntakeStatusLine(m_admission, m_intake, this);
    connect(m_intakeStatus, &IntakeStatusLine::visibilityChanged, this, [this] { layoutChildren(); });
    connect(m_intakeStatus, &QPushButton::clicked, this, &VelmoraDlg::showNewVehicles);
    m_alarms = new AlarmPanel(m_page, m_splitter);
    m_alarms->setMinimumWidth(ALARMS_MIN_WIDTH);
    m_splitter->addWidget(m_alarms);
    m_alarms->hide();
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
        if (!m_alarms->isHidden()) {
            m_alarmWidth = m_alarms->width();
        }
    });
    m_alarmStrip = new AlarmStrip(this);
    m_alarmStrip->hide();
    m_alarmStrip->setQueueShown(!m_alarmsFolded);
    connect(m_alarmStrip, &AlarmStrip::queueToggled, this, [this](bool shown) { setAlarmsFolded(!shown); });
    connect(m_alarms, &AlarmPanel::alarmRaised, m_alarmStrip, &AlarmStrip::alarmRaised);
    connect(m_alarms, &AlarmPanel::openCountChanged, this, &VelmoraDlg::onAlarmCountChanged);
    connect(m_alarms, &AlarmPanel::alarmRaised, this, &VelmoraDlg::drawAttention);
    connect(m_alarms, &AlarmPanel::reportRequested, this, &VelmoraDlg::showAlarmReport);
    m_alarms->setAdmission(&m_admission);
    connect(m_alarms, &AlarmPanel::deleteSenderRequested, this,
            [this](const QString& address) { m_eraser->deleteUnreviewedOf(address.toStdString()); });
    connect(m_eraser, &VehicleEraser::senderDeleted, m_alarms, [this](const QString& address, int deleted) {
        m_alarms->senderDeleted(address.toStdString(), static_cast<size_t>(deleted));
    });
    connect(m_alarms, &AlarmPanel::trackRequested, this, &VelmoraDlg::trackAlarm);
    m_ruleAlarms = std::make_unique<RuleAlarms>(*m_alarms, VehicleInfoContainer::getInstance());
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, m_intakeStatus, &IntakeStatusLine::refresh);
    connect(m_statusTimer, &QTimer::timeout, this, [this] {
        // The silent check before the queue's tick stores what it raised.
        // At a desk the receiver watches the fleet and the store holds what
        // it raised.
        if (!m_tornDown && !m_deskSession) {
            m_watch.tick(std::time(nullptr));
        }
    });
    connect(m_statusTimer, &QTimer::timeout, m_alarms, &AlarmPanel::tick);
    layoutChildren();
    StartupTrace::mark("window created");
    return true;
}

void VelmoraDlg::setStore(const std::string& conninfo) {
    m_storeGiven = true;
    m_storeConninfo = conninfo;
}

void VelmoraDlg::placeWindow(const std::optional<WindowGeometry>& kept) {
    MultiMonitor& monitors = MultiMonitor::getInstance();
    const QScreen* primary = monitors.pick(nullptr);
    QList<WindowPlacement::Screen> screens;
    for (const QScreen* screen : monitors.getMonitors()) {
        screens.append({screen->availableGeometry(), screen == primary});
    }
    const std::optional<QRect> normal = kept ? std::optional<QRect>(kept->normal) : std::nullopt;
    setGeometry(WindowPlacement(minimumSize()).place(normal, screens));
    if (!kept) {
        return;
    }
    // Until shown, the state takes effect when the window shows.
    setWindowState(kept->maximised ? (windowState() | Qt::WindowMaximized) : (windowState() & ~Qt::WindowMaximized));
    m_alarmWidth = kept->alarmWidth;
    setAlarmsFolded(kept->alarmsFolded);
}

WindowGeometry VelmoraDlg::getGeometryToKeep() const {
    WindowGeometry geometry;
    geometry.normal = normalGeometry();
    geometry.maximised = windowState().testFlag(Qt::WindowMaximized);
    geometry.alarmWidth = m_alarmWidth;
    geometry.alarmsFolded = m_alarmsFolded;
    return geometry;
}

void VelmoraDlg::initialise() {
    if (!m_started) {
        return;
    }
    const QDir directory(m_applicationDirectory);
    const QByteArray appDb = QFile::encodeName(directory.filePath(QStringLiteral("app.db")));
    const QByteArray setupDb = QFile::encodeName(directory.filePath(QStringLiteral("setup.db")));
    // setup.db says where the fleet is kept; its failure is told after
    // app.db's, as it always was.
    QString setupProblem;
    try {
        Setup::getInstance().open(setupDb.constData());
    } catch (const Exception& e) {
        traceException(e);
        setupProblem = databaseProblem("setup.db", e, "The default settings are used and changes are not kept.");
    }
    const StoreChoice choice = StoreChoice::load(Setup::getInstance());
    if (m_storeGiven || choice.server) {
        if (!setupProblem.isEmpty()) {
            report(setupProblem);
        }
        startDesk(m_storeGiven ? m_storeConninfo : choice.conninfo);
        return;
    }
    try {
        DBManager::getInstance().open(appDb.constData(), 5000);
    } catch (const Exception& e) {
        traceException(e);
        report(databaseProblem("app.db", e, "Vehicles are shown but not stored."));
    }
    StartupTrace::mark("app.db opened, vehicles loaded");
    // setup.db is used even when app.db failed: the callback port and the
    // time-out still come from it.
    if (!setupProblem.isEmpty()) {
        report(setupProblem);
    }
    m_callbackPort = Setup::DEFAULT_PORT;
    AlarmBook::Priorities priorities;
    std::optional<WindowGeometry> kept;
    {
        // A first start stores the default of every setting it reads: one
        // commit for them all rather than a wait for the disk each.
        SetupBatch batch(Setup::getInstance());
        try {
            m_callbackPort = Setup::getInstance().getInt(Setup::KEY_PORT, Setup::DEFAULT_PORT);
        } catch (const Exception& e) {
            traceException(e);
        }
        // The stored fleet is admitted; new ids go by the operator's rules.
        applyAdmissionSettings();
        priorities = AlarmSettings::load(Setup::getInstance());
        kept = WindowGeometry::load(Setup::getInstance());
    }
    StartupTrace::mark("settings read");
    // The window goes where it was left, and then its map starts loading,
    // for the map source and at the first view the settings and the stored
    // fleet give: the page is made once.
    if (kept) {
        placeWindow(kept);
    }
    applyMapSettings();
    // Alarms still open at the last stop come back into the queue.
    m_alarms->setPriorities(priorities);
    m_alarms->restore();
    m_watch.loadSettings();
    m_watch.loadZones();
    StartupTrace::mark("alarms restored");
    {
        VehicleInfoContainer& vehicles = VehicleInfoContainer::getInstance();
        std::vector<UniqueID> known;
        ScopedLock lock(vehicles.getLock());
        known.reserve(vehicles.getMap().size());
        for (const auto& entry : vehicles.getMap()) {
            known.push_back(entry.first);
        }
        m_admission.setKnown(known);
    }
    StartupTrace::mark("admission set filled");
    m_statusTimer->start(IntakeStatusLine::INTERVAL_MS);
    startServer();
    StartupTrace::mark("server started");
}

void VelmoraDlg::startDesk(const std::string& conninfo) {
    m_deskSession = std::make_unique<DeskSession>(conninfo, m_page, VehicleInfoContainer::getInstance(), m_frames,
                                                  *m_alarms, this);
    DeskSession& session = *m_deskSession;
    m_hub.setVehicleStore(&session.getVehicleStore());
    m_hub.setHistory(&session.getHistory());
    m_desk.setHistory(&session.getHistory());
    m_alarmTrack.setHistory(&session.getHistory());
    m_desk.setVehicleStore(&session.getVehicleStore());
    m_desk.setSharedSettings(&session.getSettings());
    session.getZones().attach(m_watch);
    m_alarms->setActions(&session.getAlarms());
    StoreStatusLine* strip = session.getStatusLine();
    connect(strip, &StoreStatusLine::visibilityChanged, this, [this] { layoutChildren(); });
    connect(strip, &QPushButton::clicked, this, &VelmoraDlg::showNewVehicles);
    connect(m_statusTimer, &QTimer::timeout, strip, &StoreStatusLine::refresh);
    m_statusTimer->start(IntakeStatusLine::INTERVAL_MS);
    std::optional<WindowGeometry> kept;
    {
        SetupBatch batch(Setup::getInstance());
        kept = WindowGeometry::load(Setup::getInstance());
    }
    if (kept) {
        placeWindow(kept);
    }
    // The page is made once, for the map source the settings name.
    applyMapSettings();
    session.start();
}

void VelmoraDlg::applyMapSettings() {
    const MapSettings settings = [] {
        // A first start stores the default of every setting it reads.
        SetupBatch batch(Setup::getInstance());
        return MapSettings::load(Setup::getInstance());
    }();
    VelmoraSchemeHandler& handler = *m_host.getSchemeHandler();
    // The provider points at the source: it goes first.
    handler.unregisterHost(QString::fromLatin1(MBTilesSource::HOST));
    m_localTiles.reset();
    if (settings.source == MapSettings::MBTILES) {
        auto source = std::make_unique<MBTilesSource>();
        const QString problem = source->open(settings.mbtilesFile);
        if (problem.isEmpty()) {
            source->install(handler);
            m_localTiles = std::move(source);
        } else {
            report(problem + QStringLiteral(" The offline map is shown."));
        }
    }
    PageDocument::Config config = settings.pageConfig(m_localTiles.get());
    m_hub.startView(config);
    m_pageLoadedPosted = false;
    const QString document = PageDocument::build(config);
    if (m_host.getBrowserWindow() != nullptr) {
        m_host.reloadPage(document);
        return;
    }
    m_host.setPageDocument(document);
    QWebEngineView* view = m_host.createBrowser(m_splitter);
    m_splitter->insertWidget(0, view);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    view->installEventFilter(this);
    layoutChildren();
    StartupTrace::mark("browser created, page load started");
}

void VelmoraDlg::startServer() {
    if (!m_server) {
        try {
            m_server = std::make_unique<CallbackServerImpl>(this);
        } catch (const Exception& e) {
            traceException(e);
            report(QStringLiteral("The callback server cannot be started: %1. No device messages are received.")
                       .arg(reasonText(e.getMessage())));
            return;
        }
    }
    m_startError.clear();
    m_inStart = true;
    m_server->start(m_callbackPort);
    m_inStart = false;
    if (m_server->getBoundPort() != 0) {
        trace("VelmoraDlg: listening on port %d", m_server->getBoundPort());
        return;
    }
    char inUse[256];
    SystemText::errnoText(EADDRINUSE, inUse, sizeof inUse);
    if (m_startError == inUse) {
        report(QStringLiteral("Callback port %1 is in use by another program. Choose another port in Setup.")
                   .arg(m_callbackPort));
    } else {
        report(QStringLiteral("Callback port %1 cannot be opened: %2. Choose another port in Setup.")
                   .arg(m_callbackPort)
                   .arg(reasonText(m_startError.c_str())));
    }
}

void VelmoraDlg::restartServer(int port) {
    m_callbackPort = port;
    if (m_server) {
        m_server->stop();
    }
    startServer();
}

int VelmoraDlg::getBoundPort() const {
    return m_server ? m_server->getBoundPort() : 0;
}

void VelmoraDlg::report(const QString& problem) {
    trace("VelmoraDlg: %s", qPrintable(problem));
    m_problems.append(problem);
    m_unreported.append(problem);
    // Before the window shows, the boxes wait for it; later they show now.
    if (m_shown) {
        QTimer::singleShot(0, this, &VelmoraDlg::reportProblems);
    }
}

void VelmoraDlg::reportProblems() {
    while (!m_unreported.isEmpty() && !m_stopping) {
        const QString problem = m_unreported.takeFirst();
        MessageBox::warning(this, problem);
    }
}

void VelmoraDlg::onCallback(const CallbackInfo& info) {
    m_pump.take(info);
}

void VelmoraDlg::applyAdmissionSettings() {
    m_admission.setRules(AdmissionSettings::load(Setup::getInstance()));
    const VehicleAdmission::Rules rules = m_admission.getRules();
    trace("VelmoraDlg: new vehicles %s, %d a minute per sender, fleet limit %d",
          rules.mode == VehicleAdmission::OPEN ? "open" : "known only", rules.newPerMinute, rules.fleetLimit);
}

void VelmoraDlg::showNewVehicles() {
    if (m_newVehicles.isNull()) {
        m_newVehicles = m_deskSession ? new NewVehiclesDlg(m_deskSession->getCandidates(), this)
                                      : new NewVehiclesDlg(m_admission, this);
        m_newVehicles->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_newVehicles, &NewVehiclesDlg::deleteSenderRequested, this,
                [this](const QString& address) { m_eraser->deleteUnreviewedOf(address.toStdString()); });
    }
    m_newVehicles->show();
    m_newVehicles->raise();
}

ZonesDlg* VelmoraDlg::showZones(int32_t id) {
    if (m_zones.isNull()) {
        m_zones = new ZonesDlg(m_watch, m_page, this);
        m_zones->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (id != 0) {
        m_zones->select(id);
    }
    m_zones->show();
    m_zones->raise();
    return m_zones;
}

void VelmoraDlg::trackAlarm(int32_t id) {
    const Alarm* open = m_alarms->getBook().find(id);
    if (open == nullptr || m_tornDown) {
        return;
    }
    // A copy: telling the operator runs an event loop that may close it.
    const Alarm alarm = *open;
    std::time_t at = alarm.received;
    std::optional<GeoPoint> place;
    if (const std::optional<RuleAlarms::Place> decided = m_ruleAlarms->placeOf(id)) {
        at = decided->time;
        if (decided->hasPosition) {
            place = decided->position;
        }
    }
    m_alarmTrack.show(alarm, at, place);
}

void VelmoraDlg::onClickZones() {
    if (!m_tornDown) {
        showZones();
    }
}

void VelmoraDlg::onZoneDrawn(const std::string& shape, const std::string& geometry) {
    if (m_tornDown) {
        return;
    }
    // Once made (at a desk: once the store gave it its id), the zone's name
    // is typed next (setZoneMadeListener).
    m_watch.zoneDrawn(shape, geometry);
}

void VelmoraDlg::onZoneEdited(const std::string& zoneId, const std::string& shape, const std::string& geometry) {
    if (!m_tornDown) {
        m_watch.zoneEdited(zoneId, shape, geometry);
    }
}

AlarmReportDlg* VelmoraDlg::showAlarmReport() {
    if (m_alarmReport.isNull()) {
        m_alarmReport =
            new AlarmReportDlg(this, m_deskSession ? &m_deskSession->getHistory() : nullptr);
        m_alarmReport->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_alarmReport->refresh();
    }
    m_alarmReport->show();
    m_alarmReport->raise();
    return m_alarmReport;
}

void VelmoraDlg::onAlarmCountChanged(int count) {
    m_alarmCount = count;
    showAlarms();
}

void VelmoraDlg::setAlarmsFolded(bool folded) {
    if (m_alarmsFolded == folded) {
        return;
    }
    m_alarmsFolded = folded;
    if (m_alarmStrip != nullptr) {
        m_alarmStrip->setQueueShown(!folded);
        showAlarms();
    }
}

void VelmoraDlg::showAlarms() {
    if (m_alarms == nullptr) {
        return;
    }
    m_alarmStrip->setCount(m_alarmCount);
    m_alarmStrip->setVisible(m_alarmCount > 0);
    layoutChildren();
    const bool queue = m_alarmCount > 0 && !m_alarmsFolded;
    if (queue != m_alarms->isHidden()) {
        return;
    }
    m_alarms->setVisible(queue);
    if (queue) {
        // The width the operator left it at, at most half the window (the
        // map keeps the other half); or the default, at most a third, so
        // that on a small screen the map beside the vehicle list is still
        // more than a strip.
        const int total = m_splitter->width() - m_splitter->handleWidth();
        const int wanted = m_alarmWidth > 0 ? std::min(m_alarmWidth, width() / 2)
                                            : std::min(AlarmPanel::PANEL_WIDTH, width() / 3);
        const int queueWidth = std::max(ALARMS_MIN_WIDTH, wanted);
        m_splitter->setSizes({std::max(0, total - queueWidth), queueWidth});
    }
}

void VelmoraDlg::drawAttention() {
    if (isMinimized()) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowNoState);
        show();
    }
    raise();
    QApplication::alert(this);
}

void VelmoraDlg::onError(const char* message) {
    trace("Exception - %s", message);
    // Only the failure of start() itself, which runs on this thread.
    if (QThread::currentThread() == thread() && m_inStart) {
        m_startError = message == nullptr ? "" : message;
    }
}

void VelmoraDlg::onClickLog() {
    WindowMessage::post(this, WindowMessage::UWM_SHOW_LOG);
}

void VelmoraDlg::onClickSetup() {
    WindowMessage::post(this, WindowMessage::UWM_SHOW_SETUP);
}

void VelmoraDlg::onClickEdit(const std::string& vehicleID) {
    WindowMessage::post(this,
                        new WindowMessage(WindowMessage::UWM_EDIT_VEHICLE, std::make_unique<std::string>(vehicleID)));
}

void VelmoraDlg::onClickRemove(const std::string& vehicleID) {
    WindowMessage::post(
        this, new WindowMessage(WindowMessage::UWM_REMOVE_VEHICLE, std::make_unique<std::string>(vehicleID)));
}

void VelmoraDlg::onClickImgBtn(const std::string& vehicleID) {
    WindowMessage::post(this,
                        new WindowMessage(WindowMessage::UWM_CHOOSE_IMAGE, std::make_unique<std::string>(vehicleID)));
}

void VelmoraDlg::onClickTrackingLine(const std::string& vehicleID) {
    WindowMessage::post(
        this, new WindowMessage(WindowMessage::UWM_TRACKING_LINE, std::make_unique<std::string>(vehicleID)));
}

void VelmoraDlg::onClickDelete(const std::string& vehicleID) {
    WindowMessage::post(
        this, new WindowMessage(WindowMessage::UWM_DELETE_VEHICLE, std::make_unique<std::string>(vehicleID)));
}

void VelmoraDlg::onMapViewChanged(const MapView& view) {
    if (!m_tornDown) {
        m_hub.mapViewChanged(view);
    }
}

void VelmoraDlg::onChangeName(const std::string& vehicleID, const std::string& vehicleName) {
    if (!m_tornDown) {
        m_hub.changeName(vehicleID, vehicleName);
    }
}

bool VelmoraDlg::onUpdateOptionalInfo(const std::string& vehicleID, const std::string& imagePath,
                                      const std::string& info1, const std::string& info2) {
    return !m_tornDown && m_hub.updateOptionalInfo(vehicleID, imagePath, info1, info2);
}

void VelmoraDlg::onPageLoaded() {
    if (m_pageLoadedPosted) {
        return;
    }
    m_pageLoadedPosted = true;
    // Scripts and the install check wait for this line.
    trace("VelmoraDlg: page loaded");
    StartupTrace::mark("page load finished");
    StartupTrace::markPageLoad(m_host.getPage());
    WindowMessage::post(this, WindowMessage::UWM_PAGE_LOADED);
}

bool VelmoraDlg::event(QEvent* event) {
    if (WindowMessage* message = WindowMessage::from(event)) {
        handleMessage(*message);
        return true;
    }
    return QDialog::event(event);
}

void VelmoraDlg::handleMessage(WindowMessage& message) {
    if (message.getNumber() == WindowMessage::UWM_INTAKE) {
        m_pump.serve();
        return;
    }
    if (m_tornDown) {
        return;
    }
    std::unique_ptr<std::string> text = message.takeText();
    const std::string id = text ? *text : std::string();
    switch (message.getNumber()) {
    case WindowMessage::UWM_TRACKING_LINE:
        m_hub.showTrackingLine(id);
        break;
    case WindowMessage::UWM_PORT_CHANGED:
        if (!m_stopping) {
            restartServer(static_cast<int>(message.getValue()));
        }
        break;
    case WindowMessage::UWM_TIMEOUT_CHANGED:
        m_hub.timeoutChanged(static_cast<int>(message.getValue()));
        break;
    case WindowMessage::UWM_EDIT_VEHICLE:
        m_hub.editVehicle(id);
        break;
    case WindowMessage::UWM_REMOVE_VEHICLE:
        m_hub.removeVehicle(id);
        break;
    case WindowMessage::UWM_DELETE_VEHICLE:
        m_hub.deleteVehicle(id);
        break;
    case WindowMessage::UWM_ADMISSION_CHANGED:
        applyAdmissionSettings();
        break;
    case WindowMessage::UWM_CHOOSE_IMAGE:
        m_hub.chooseImage(id);
        break;
    case WindowMessage::UWM_SHOW_LOG:
        m_hub.showLog();
        break;
    case WindowMessage::UWM_SHOW_SETUP:
        m_hub.showSetup();
        break;
    case WindowMessage::UWM_PAGE_LOADED:
        m_hub.onPageLoaded(pageWidth(), pageHeight());
        m_alarms->pageLoaded();
        m_pageProbe->start();
        m_watch.pageLoaded();
        StartupTrace::mark("vehicles sent");
        if (isTraceEnabled()) {
            // Queued after the page runner's flush: the page answers once
            // it has run the fleet.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (QWebEnginePage* page = m_host.getPage()) {
                        page->runJavaScript(QStringLiteral("0"),
                                            [](const QVariant&) { StartupTrace::mark("page ran the fleet"); });
                    }
                },
                Qt::QueuedConnection);
        }
        break;
    case WindowMessage::UWM_ALARMS_CHANGED:
        m_alarms->setPriorities(AlarmSettings::load(Setup::getInstance()));
        m_watch.loadSettings();
        break;
    case WindowMessage::UWM_MAP_CHANGED:
        if (!m_stopping) {
            applyMapSettings();
        }
        break;
    default:
        break;
    }
}

void VelmoraDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layoutChildren();
}

bool VelmoraDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == m_host.getBrowserWindow()) {
        const QSize size = static_cast<QResizeEvent*>(event)->size();
        m_page.execute(MapCommands::setPageSize(size.width(), size.height()));
    }
    return QDialog::eventFilter(watched, event);
}

int VelmoraDlg::pageWidth() const {
    const QWebEngineView* view = m_host.getBrowserWindow();
    return view != nullptr ? view->width() : width();
}

int VelmoraDlg::pageHeight() const {
    const QWebEngineView* view = m_host.getBrowserWindow();
    return view != nullptr ? view->height() : height();
}

void VelmoraDlg::layoutChildren() {
    if (m_splitter == nullptr) {
        return;
    }
    // The strips are above and below the map, never over it: the browser's
    // view takes every click on its own area.
    int top = 0;
    if (!m_alarmStrip->isHidden()) {
        top = m_alarmStrip->sizeHint().height();
        m_alarmStrip->setGeometry(0, 0, width(), top);
    }
    int bottom = height();
    if (m_intakeStatus != nullptr && !m_intakeStatus->isHidden()) {
        const int line = m_intakeStatus->sizeHint().height();
        bottom -= line;
        m_intakeStatus->setGeometry(0, bottom, width(), line);
    }
    // The store's strip stands above the intake's.
    if (StoreStatusLine* store = m_deskSession ? m_deskSession->getStatusLine() : nullptr;
        store != nullptr && !store->isHidden()) {
        const int line = store->sizeHint().height();
        bottom -= line;
        store->setGeometry(0, bottom, width(), line);
    }
    // The map keeps at least half the width beside the alarm queue; the
    // splitter gives no widget less than its minimum, however it is
    // dragged or the window resized.
    if (QWebEngineView* view = m_host.getBrowserWindow()) {
        view->setMinimumWidth(width() / 2);
    }
    m_splitter->setGeometry(0, top, width(), std::max(0, bottom - top));
}

void VelmoraDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        StartupTrace::mark("window shown");
        QTimer::singleShot(0, this, &VelmoraDlg::reportProblems);
    }
}

void VelmoraDlg::keyPressEvent(QKeyEvent* event) {
    // Neither key may close the window; the page has had them already.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void VelmoraDlg::reject() {
    close();
}

void VelmoraDlg::closeEvent(QCloseEvent* event) {
    // The window ends itself through done() once the stop is complete.
    event->ignore();
    if (m_stopping) {
        return;
    }
    if (!MessageBox::question(this, QStringLiteral("Are you sure to close?"))) {
        return;
    }
    // A signal may have started a stop while the question was open.
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    m_desk.closing();
    if (m_deskSession) {
        m_deskSession->abortReads();
    }
    finishStop();
}

void VelmoraDlg::closeWithoutQuestion() {
    if (m_stopping) {
        return;
    }
    trace("VelmoraDlg: closing without the question");
    m_stopping = true;
    m_desk.closing();
    if (m_deskSession) {
        m_deskSession->abortReads();
    }
    finishStop();
}

void VelmoraDlg::finishStop() {
    // A window opened over this one returns to the code that opened it
    // first; the stop goes on once every one has gone.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != this) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        QTimer::singleShot(0, this, &VelmoraDlg::finishStop);
        return;
    }
    if (m_server && m_server->getBoundPort() != 0) {
        m_stopDrain.run(m_server->getBoundPort());
    }
    teardown();
    done(QDialog::Accepted);
}

void VelmoraDlg::teardown() {
    if (m_tornDown || !m_started) {
        return;
    }
    m_tornDown = true;
    m_stopping = true;
    m_desk.closing();
    m_eraser->stop();
    m_pageProbe->stop();
    if (m_server) {
        m_server->stop();
        m_server.reset();
    }
    m_pump.stop();
    if (m_deskSession) {
        // Actions the operator took just before go while the budget lasts;
        // reads of the windows' workers end with it.
        m_deskSession->stop(1000);
        QThreadPool::globalInstance()->waitForDone(2000);
    }
    m_frames.clear();
    if (m_statusTimer != nullptr) {
        m_statusTimer->stop();
    }
    if (m_alarms != nullptr) {
        m_alarms->flush();
    }
    if (m_splitter != nullptr) {
        try {
            getGeometryToKeep().store(Setup::getInstance());
        } catch (const Exception& e) {
            // The next start opens as a first one.
            traceException(e);
        }
    }
    m_watch.flush();
    DBManager::getInstance().shutdown();
    Setup::getInstance().close();
    trace("VelmoraDlg: stopped");
}

} // namespace velmora
