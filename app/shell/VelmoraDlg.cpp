#include "app/shell/VelmoraDlg.h"

#include "app/hub/AdmissionSettings.h"
#include "app/alarms/AlarmPanel.h"
#include "app/alarms/AlarmReportDlg.h"
#include "app/alarms/AlarmSettings.h"
#include "app/alarms/RuleAlarms.h"
#include "app/dialogs/ZonesDlg.h"
#include "app/hub/MapSettings.h"
#include "app/dialogs/MessageBox.h"
#include "app/system/MultiMonitor.h"
#include "app/dialogs/NewVehiclesDlg.h"
#include "app/hub/VehicleEraser.h"
#include "app/shell/IntakeStatusLine.h"
#include "app/shell/PageProbe.h"
#include "app/shell/WindowMessage.h"
#include "db/DBManager.h"
#include "db/Setup.h"
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
#include <QScreen>
#include <QSvgRenderer>
#include <QThread>
#include <QTimer>
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
      m_watch(m_page, Setup::getInstance()), m_alarmTrack(m_page, m_desk), m_pump(m_admission, m_intake, m_drain), m_stopDrain(m_drain) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    m_hub.setAdmission(&m_admission);
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
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(applicationIcon());
    resize(INITIAL_WIDTH, INITIAL_HEIGHT);
    QScreen* monitor = MultiMonitor::getInstance().monitorFor(this);
    const QRect area = monitor != nullptr ? monitor->geometry() : QRect();
    if (area.width() < MIN_SCREEN_WIDTH || area.height() < MIN_SCREEN_HEIGHT) {
        trace("VelmoraDlg: monitor %dx%d is too small", area.width(), area.height());
        MessageBox::stop(this, QStringLiteral("Bad resolution format or unsupported resolution."));
        m_started = false;
        return false;
    }
    m_minimumSize = size();
    setMinimumSize(m_minimumSize);

    m_host.setListener(this);
    m_host.registerExtension(&m_v8Handler);
    PageResources::install(*m_host.getSchemeHandler());
    m_host.setApplicationDirectory(m_applicationDirectory);
    m_host.setPageDocument(PageDocument::build());
    QWebEngineView* view = m_host.createBrowser(this);
    view->setGeometry(rect());

    m_intakeStatus = new IntakeStatusLine(m_admission, m_intake, this);
    connect(m_intakeStatus, &IntakeStatusLine::visibilityChanged, this, [this] { layoutChildren(false); });
    connect(m_intakeStatus, &QPushButton::clicked, this, &VelmoraDlg::showNewVehicles);
    m_alarms = new AlarmPanel(m_page, this);
    m_alarms->hide();
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
        if (!m_tornDown) {
            m_watch.tick(std::time(nullptr));
        }
    });
    connect(m_statusTimer, &QTimer::timeout, m_alarms, &AlarmPanel::tick);
    return true;
}

void VelmoraDlg::initialise() {
    if (!m_started) {
        return;
    }
    const QDir directory(m_applicationDirectory);
    const QByteArray appDb = QFile::encodeName(directory.filePath(QStringLiteral("app.db")));
    const QByteArray setupDb = QFile::encodeName(directory.filePath(QStringLiteral("setup.db")));
    try {
        DBManager::getInstance().open(appDb.constData(), 5000);
    } catch (const Exception& e) {
        traceException(e);
        report(databaseProblem("app.db", e, "Vehicles are shown but not stored."));
    }
    // setup.db is opened even when app.db failed: the callback port and the
    // time-out still come from it.
    try {
        Setup::getInstance().open(setupDb.constData());
    } catch (const Exception& e) {
        traceException(e);
        report(databaseProblem("setup.db", e, "The default settings are used and changes are not kept."));
    }
    m_callbackPort = Setup::DEFAULT_PORT;
    try {
        m_callbackPort = Setup::getInstance().getInt(Setup::KEY_PORT, Setup::DEFAULT_PORT);
    } catch (const Exception& e) {
        traceException(e);
    }
    // The stored fleet is admitted; new ids go by the operator's rules.
    applyAdmissionSettings();
    // Alarms still open at the last stop come back into the queue.
    m_alarms->setPriorities(AlarmSettings::load(Setup::getInstance()));
    m_alarms->restore();
    m_watch.loadSettings();
    m_watch.loadZones();
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
    m_statusTimer->start(IntakeStatusLine::INTERVAL_MS);
    // The page was built for the offline map before the settings could be
    // read; another source needs it built again.
    if (!(MapSettings::load(Setup::getInstance()) == MapSettings())) {
        applyMapSettings();
    }
    startServer();
}

void VelmoraDlg::applyMapSettings() {
    const MapSettings settings = MapSettings::load(Setup::getInstance());
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
    m_pageLoadedPosted = false;
    m_host.reloadPage(PageDocument::build(settings.pageConfig(m_localTiles.get())));
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
        m_newVehicles = new NewVehiclesDlg(m_admission, this);
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
    const int32_t id = m_watch.zoneDrawn(shape, geometry);
    if (id != 0) {
        // The operator names it next: the keyboard goes to the list.
        ZonesDlg* zones = showZones(id);
        zones->activateWindow();
        zones->editName();
    }
}

void VelmoraDlg::onZoneEdited(const std::string& zoneId, const std::string& shape, const std::string& geometry) {
    if (!m_tornDown) {
        m_watch.zoneEdited(zoneId, shape, geometry);
    }
}

AlarmReportDlg* VelmoraDlg::showAlarmReport() {
    if (m_alarmReport.isNull()) {
        m_alarmReport = new AlarmReportDlg(this);
        m_alarmReport->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_alarmReport->refresh();
    }
    m_alarmReport->show();
    m_alarmReport->raise();
    return m_alarmReport;
}

void VelmoraDlg::onAlarmCountChanged(int count) {
    const bool show = count > 0;
    if (show == m_alarms->isHidden()) {
        m_alarms->setVisible(show);
        layoutChildren(false);
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
    trace("VelmoraDlg: page loaded");
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
    layoutChildren(true);
}

int VelmoraDlg::pageWidth() const {
    const bool alarms = m_alarms != nullptr && !m_alarms->isHidden();
    return width() - (alarms ? std::min(AlarmPanel::PANEL_WIDTH, width() / 2) : 0);
}

int VelmoraDlg::pageHeight() const {
    const bool status = m_intakeStatus != nullptr && !m_intakeStatus->isHidden();
    return height() - (status ? m_intakeStatus->sizeHint().height() : 0);
}

void VelmoraDlg::layoutChildren(bool resized) {
    QWebEngineView* view = m_host.getBrowserWindow();
    if (view == nullptr) {
        return;
    }
    // The intake line is a strip below the page, never over it: the
    // browser's view takes every click on its own area.
    const int page = pageHeight();
    const int pageWide = pageWidth();
    const bool changed = view->height() != page || view->width() != pageWide;
    view->setGeometry(0, 0, pageWide, page);
    if (m_alarms != nullptr && !m_alarms->isHidden()) {
        m_alarms->setGeometry(pageWide, 0, width() - pageWide, page);
    }
    if (m_intakeStatus != nullptr && !m_intakeStatus->isHidden()) {
        m_intakeStatus->setGeometry(0, page, width(), height() - page);
    }
    if (resized || changed) {
        m_page.execute(MapCommands::setPageSize(pageWide, page));
    }
}

void VelmoraDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
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
    finishStop();
}

void VelmoraDlg::closeWithoutQuestion() {
    if (m_stopping) {
        return;
    }
    trace("VelmoraDlg: closing without the question");
    m_stopping = true;
    m_desk.closing();
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
    if (m_statusTimer != nullptr) {
        m_statusTimer->stop();
    }
    if (m_alarms != nullptr) {
        m_alarms->flush();
    }
    m_watch.flush();
    DBManager::getInstance().shutdown();
    Setup::getInstance().close();
    trace("VelmoraDlg: stopped");
}

} // namespace velmora
