#include "app/VelmoraApp.h"

#include "app/SingleInstance.h"
#include "app/TerminationSignal.h"
#include "app/VelmoraDlg.h"
#include "foundation/Trace.h"
#include "mapview/BrowserEnvironment.h"

#include <QApplication>
#include <QDialog>
#include <QDir>

#include <clocale>
#include <climits>
#include <unistd.h>

namespace velmora {

namespace {

QString& applicationDirectory() {
    static QString directory;
    return directory;
}

} // namespace

const QString& VelmoraApp::getApplicationDirectory() {
    return applicationDirectory();
}

int VelmoraApp::run(int argc, char** argv) {
    char cwd[PATH_MAX];
    applicationDirectory() = getcwd(cwd, sizeof cwd) != nullptr ? QString::fromLocal8Bit(cwd) : QDir::currentPath();

    BrowserEnvironment::prepare(false);
    QApplication application(argc, argv);
    // Qt took the user's locale at start; C number functions would then
    // read and write decimal commas.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setWindowIcon(VelmoraDlg::applicationIcon());

    TerminationSignal stopSignal;
    connect(&stopSignal, &TerminationSignal::requested, this, &VelmoraApp::onTerminate);

    SingleInstance instance;
    if (!instance.claim()) {
        trace("VelmoraApp: another copy runs; it was asked to show its window");
        return 0;
    }
    connect(&instance, &SingleInstance::raiseRequested, this, &VelmoraApp::onRaise);

    VelmoraDlg window(applicationDirectory());
    m_window = &window;
    if (!window.create() || m_terminate) {
        return 0;
    }
    window.initialise();
    if (m_terminate) {
        window.closeWithoutQuestion();
        return 0;
    }
    window.exec();
    m_window = nullptr;
    return 0;
}

void VelmoraApp::onTerminate(int signalNumber) {
    trace("VelmoraApp: stop signal %d", signalNumber);
    m_terminate = true;
    if (m_window && m_window->isVisible()) {
        m_window->closeWithoutQuestion();
        return;
    }
    // Before the window runs: a box it shows (the screen check) closes.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
}

void VelmoraApp::onRaise() {
    if (!m_window) {
        return;
    }
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace velmora
