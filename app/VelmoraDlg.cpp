#include "app/VelmoraDlg.h"

#include "app/AdmissionSettings.h"
#include "app/AlarmPanel.h"
#include "app/AlarmReportDlg.h"
#include "app/AlarmSettings.h"
#include "app/MapSettings.h"
#include "app/MessageBox.h"
#include "app/MultiMonitor.h"
#include "app/NewVehiclesDlg.h"
#include "app/WindowMessage.h"
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
#include <QEventLoop>
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
#include <chrono>
#include <vector>

// The icon's resource lives in a static library: nothing would pull its
// initialiser into the program otherwise.
static void initialiseConsoleResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace velmora {

namespace {

// How often the marker is sent again while a stop waits for it: a full
// receive queue may have dropped the first one.
constexpr int DRAIN_RESEND_MS = 250;

QString reasonText(const char* message) {
    QString reason = QString::fromUtf8(message == nullptr ? "" : message).trimmed();
    while (reason.endsWith(QLatin1Char('.'))) {
        reason.chop(1);
    }
    return reason.isEmpty() ? QStringLiteral("unknown error") : reason;
}

// 12345 as "12,345", whatever the locale says.
QString grouped(uint64_t value) {
    QString digits = QString::number(value);
    for (int at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    return digits;
}

QString databaseProblem(const char* file, const Exception& e, const char* consequence) {
    return QStringLiteral("The database %1 cannot be opened: %2. %3")
        .arg(QString::fromLatin1(file), reasonText(e.getMessage()), QString::fromLatin1(consequence));
}

} // namespace

VelmoraDlg::VelmoraDlg(const QString& applicationDirectory, QWidget* parent)
    : QDialog(parent), m_applicationDirectory(applicationDirectory), m_v8Handler(this), m_page(m_host),
      m_desk(this), m_hub(m_page, m_desk, VehicleInfoContainer::getInstance(), Setup::getInstance()) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    m_hub.setAdmission(&m_admission);
    m_hub.setEventListener([this](const CallbackInfo& event) {
        if (m_alarms != nullptr) {
            m_alarms->onEvent(event);
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

    m_intakeStatus = new QPushButton(this);
    m_intakeStatus->setObjectName(QStringLiteral("intakeStatus"));
    m_intakeStatus->setFlat(true);
    m_intakeStatus->setCursor(Qt::PointingHandCursor);
    m_intakeStatus->setFocusPolicy(Qt::NoFocus);
    m_intakeStatus->setStyleSheet(QStringLiteral(
        "QPushButton#intakeStatus { background: #ffecb3; color: #3b2f00; text-align: left;"
        " border: none; border-top: 1px solid #c8a600; padding: 3px 8px; }"));
    m_intakeStatus->setToolTip(QStringLiteral("Show the new vehicles the console has not taken"));
    m_intakeStatus->hide();
    connect(m_intakeStatus, &QPushButton::clicked, this, &VelmoraDlg::showNewVehicles);
    m_alarms = new AlarmPanel(m_page, this);
    m_alarms->hide();
    connect(m_alarms, &AlarmPanel::openCountChanged, this, &VelmoraDlg::onAlarmCountChanged);
    connect(m_alarms, &AlarmPanel::alarmRaised, this, &VelmoraDlg::drawAttention);
    connect(m_alarms, &AlarmPanel::reportRequested, this, &VelmoraDlg::showAlarmReport);
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &VelmoraDlg::updateIntakeStatus);
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
    m_statusTimer->start(STATUS_INTERVAL_MS);
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
    // The stop's marker passes every bound: the stop waits for it.
    const bool marker = m_drain.isMarker(info);
    if (!marker && m_admission.check(info) == VehicleAdmission::REFUSED) {
        return;
    }
    auto copy = std::make_unique<CallbackInfo>();
    info.copyTo(*copy);
    if (m_intake.push(std::move(copy), marker).wake) {
        WindowMessage::post(this, WindowMessage::UWM_INTAKE);
    }
}

void VelmoraDlg::handleIntake() {
    std::vector<std::unique_ptr<CallbackInfo>> batch;
    batch.reserve(INTAKE_BATCH);
    const size_t left = m_intake.takeBatch(batch, INTAKE_BATCH);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(INTAKE_BATCH_MS);
    size_t handled = 0;
    for (; handled < batch.size(); ++handled) {
        CallbackInfo& info = *batch[handled];
        if (m_drain.isMarker(info)) {
            m_drained = true;
            if (m_drainLoop != nullptr) {
                m_drainLoop->quit();
            }
        } else if (m_server && !m_tornDown) {
            m_hub.onDeviceMessage(info);
        }
        // A slow turn (the database queue full, the page busy) hands the
        // rest to the next one rather than hold up the window.
        if (std::chrono::steady_clock::now() > until) {
            ++handled;
            break;
        }
    }
    bool more = left > 0;
    if (handled < batch.size()) {
        // Put back in front, in order: nothing taken is lost or reordered.
        std::vector<std::unique_ptr<CallbackInfo>> rest;
        for (size_t i = handled; i < batch.size(); ++i) {
            rest.push_back(std::move(batch[i]));
        }
        m_intake.putBack(rest);
        more = true;
    }
    if (more) {
        WindowMessage::post(this, WindowMessage::UWM_INTAKE);
    }
}

void VelmoraDlg::applyAdmissionSettings() {
    m_admission.setRules(AdmissionSettings::load(Setup::getInstance()));
    const VehicleAdmission::Rules rules = m_admission.getRules();
    trace("VelmoraDlg: new vehicles %s, %d a minute per sender, fleet limit %d",
          rules.mode == VehicleAdmission::OPEN ? "open" : "known only", rules.newPerMinute, rules.fleetLimit);
}

void VelmoraDlg::updateIntakeStatus() {
    const int slot = m_statusTick % 60;
    const uint64_t dropped = m_intake.getDropped();
    // The total a minute ago is the oldest sample, once there are 60.
    const uint64_t droppedMinute = dropped - (m_statusTick >= 60 ? m_droppedAt[slot] : 0);
    m_droppedAt[slot] = dropped;
    ++m_statusTick;
    const VehicleAdmission::Refusals refusals = m_admission.getRecentRefusals();
    const size_t waiting = m_admission.getCandidates().size();

    QStringList parts;
    if (refusals.count > 0) {
        QString text = QStringLiteral("%1 refused").arg(grouped(refusals.count));
        if (refusals.topSenderCount == refusals.count) {
            text += QStringLiteral(" from %1").arg(QString::fromStdString(refusals.topSender));
        } else {
            text += QStringLiteral(" (%1 from %2)")
                        .arg(grouped(refusals.topSenderCount), QString::fromStdString(refusals.topSender));
        }
        parts << text;
    }
    if (droppedMinute > 0) {
        parts << QStringLiteral("%1 dropped, the console was busy").arg(grouped(droppedMinute));
    }
    QString status;
    if (!parts.isEmpty()) {
        status = QStringLiteral("Intake: %1 in the last minute").arg(parts.join(QStringLiteral(", ")));
    }
    if (waiting > 0) {
        const QString vehicles = waiting == 1 ? QStringLiteral("1 new vehicle waiting")
                                              : QStringLiteral("%1 new vehicles waiting").arg(grouped(waiting));
        status = status.isEmpty() ? QStringLiteral("Intake: %1").arg(vehicles) : status + QStringLiteral(" · ") + vehicles;
    }
    if (!status.isEmpty() && (m_statusTick % 60 == 1 || m_intakeStatus->isHidden())) {
        trace("VelmoraDlg: intake refused=%llu dropped=%llu candidates=%zu top=%s",
              static_cast<unsigned long long>(m_admission.getRefusedTotal()),
              static_cast<unsigned long long>(dropped), waiting, refusals.topSender.c_str());
    }
    const bool wasShown = !m_intakeStatus->isHidden();
    if (status.isEmpty()) {
        m_intakeStatus->hide();
    } else {
        m_intakeStatus->setText(status);
        m_intakeStatus->show();
    }
    if (wasShown != !m_intakeStatus->isHidden()) {
        layoutChildren(false);
    }
}

QString VelmoraDlg::getIntakeStatus() const {
    return m_intakeStatus != nullptr && !m_intakeStatus->isHidden() ? m_intakeStatus->text() : QString();
}

void VelmoraDlg::showNewVehicles() {
    if (m_newVehicles.isNull()) {
        m_newVehicles = new NewVehiclesDlg(m_admission, this);
        m_newVehicles->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_newVehicles->show();
    m_newVehicles->raise();
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
    if (message.getNumber() == WindowMessage::UWM_CALLBACK_INFO) {
        handleCallback(message);
        return;
    }
    if (message.getNumber() == WindowMessage::UWM_INTAKE) {
        handleIntake();
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
        break;
    case WindowMessage::UWM_ALARMS_CHANGED:
        m_alarms->setPriorities(AlarmSettings::load(Setup::getInstance()));
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

void VelmoraDlg::handleCallback(WindowMessage& message) {
    CallbackInfo** cell = message.takeCell();
    if (!m_server || m_tornDown) {
        if (cell != nullptr) {
            delete *cell;
            delete cell;
        }
        return;
    }
    std::unique_ptr<CallbackInfo> info = m_server->take(cell);
    if (!info) {
        return;
    }
    if (m_drain.isMarker(*info)) {
        m_drained = true;
        if (m_drainLoop != nullptr) {
            m_drainLoop->quit();
        }
        return;
    }
    m_hub.onDeviceMessage(*info);
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
    drainIntake();
    teardown();
    done(QDialog::Accepted);
}

void VelmoraDlg::drainIntake() {
    if (!m_server || m_server->getBoundPort() == 0) {
        return;
    }
    m_drained = false;
    if (!m_drain.send(m_server->getBoundPort())) {
        trace("VelmoraDlg: the intake marker could not be sent");
        return;
    }
    QEventLoop loop;
    m_drainLoop = &loop;
    QTimer resend;
    connect(&resend, &QTimer::timeout, this, [this] { m_drain.send(m_server->getBoundPort()); });
    resend.start(DRAIN_RESEND_MS);
    QTimer::singleShot(DRAIN_TIMEOUT_MS, &loop, &QEventLoop::quit);
    if (!m_drained) {
        loop.exec();
    }
    m_drainLoop = nullptr;
    if (!m_drained) {
        trace("VelmoraDlg: the intake did not drain within %d ms", DRAIN_TIMEOUT_MS);
    }
}

void VelmoraDlg::teardown() {
    if (m_tornDown || !m_started) {
        return;
    }
    m_tornDown = true;
    m_stopping = true;
    m_desk.closing();
    if (m_server) {
        m_server->stop();
        m_server.reset();
    }
    // What is still queued arrived after the stop's marker.
    m_intake.clear();
    if (m_statusTimer != nullptr) {
        m_statusTimer->stop();
    }
    if (m_alarms != nullptr) {
        m_alarms->flush();
    }
    DBManager::getInstance().shutdown();
    Setup::getInstance().close();
    trace("VelmoraDlg: stopped");
}

} // namespace velmora
