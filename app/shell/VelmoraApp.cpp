#include "app/shell/VelmoraApp.h"

#include "app/system/CommandLine.h"
#include "app/system/DataDirectory.h"
#include "app/system/SingleInstance.h"
#include "app/system/TerminationSignal.h"
#include "app/shell/VelmoraDlg.h"
#include "foundation/Trace.h"
#include "mapview/BrowserEnvironment.h"
#include "mapview/SharedData.h"

#include <QApplication>
#include <QDialog>

#include <clocale>
#include <cstdio>

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
    // The command line is judged before anything exists, so a wrong one
    // leaves no window, database or socket behind.
    const CommandLine line = CommandLine::parse(argc, argv);
    switch (line.getAction()) {
    case CommandLine::Help:
        std::fputs(CommandLine::usage().c_str(), stdout);
        return 0;
    case CommandLine::Version:
        std::fputs(CommandLine::versionText().c_str(), stdout);
        return 0;
    case CommandLine::UsageError:
        std::fprintf(stderr, "velmora: %s\n%s", line.getError().c_str(), CommandLine::usage().c_str());
        return 2;
    case CommandLine::Run:
        break;
    }
    const DataDirectory::Choice data = DataDirectory::fromEnvironment(line.hasDataDirectory(), line.getDataDirectory());
    applicationDirectory() = QString::fromStdString(data.directory);

    BrowserEnvironment::prepare(false);
    QApplication application(argc, argv);
    // Qt took the user's locale at start; C number functions would then
    // read and write decimal commas.
    std::setlocale(LC_NUMERIC, "C");
    // The name is also the window's X class (the desktop entry's
    // StartupWMClass); the desktop file name is its Wayland app id.
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmora"));
    QApplication::setWindowIcon(VelmoraDlg::applicationIcon());

    TerminationSignal stopSignal;
    connect(&stopSignal, &TerminationSignal::requested, this, &VelmoraApp::onTerminate);

    SingleInstance instance(applicationDirectory());
    if (!instance.claim()) {
        trace("VelmoraApp: another copy runs; it was asked to show its window");
        return 0;
    }

    VelmoraDlg window(applicationDirectory());
    if (line.hasStore()) {
        window.setStore(line.getStore());
    }
    m_window = &window;
    instance.setWindow(&window);
    // The screen check comes first: a refused start leaves nothing on disk.
    if (!window.create() || m_terminate) {
        return 0;
    }

    // Only the copy that runs makes its directory, before the page's first
    // load. A failure here shows later as the databases' own, which the
    // window reports.
    if (!DataDirectory::create(data.directory)) {
        trace("VelmoraApp: cannot create %s", data.directory.c_str());
    }
    const std::string sharedImages = SharedData::path(QStringLiteral("images")).toStdString();
    if (!DataDirectory::linkImages(data.directory, sharedImages)) {
        trace("VelmoraApp: %s has no images/ and %s is missing", data.directory.c_str(), sharedImages.c_str());
    }
    trace("VelmoraApp: data directory %s%s", data.directory.c_str(), data.perUser ? " (per user)" : "");

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

} // namespace velmora
