#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

namespace velmora {

class VelmoraDlg;

/// The console program: prepares the process, makes sure it runs once per
/// data directory, runs the main window and ends when it has gone.
///
/// Start order: the command line (--help, --version and usage errors end
/// here), the application directory (DataDirectory), the browser
/// environment, the QApplication (then LC_NUMERIC back to "C": numbers are
/// never read or written through the user's locale), the stop signals, the
/// single-instance check of the data directory, the main window's screen
/// check, the data directory, the databases. A second copy raises the first
/// one's window and ends with status 0 before it opens any database or
/// socket; only a copy that runs on a large enough screen creates its data
/// directory and links its images/ (DataDirectory::linkImages).
class VelmoraApp : public QObject {
    Q_OBJECT

public:
    /// The directory every file is named relative to; fixed at run().
    static const QString& getApplicationDirectory();

    /// Runs the console; the process's exit status (2 for a usage error).
    int run(int argc, char** argv);

private:
    void onTerminate(int signalNumber);

    QPointer<VelmoraDlg> m_window;
    bool m_terminate = false;
};

} // namespace velmora
