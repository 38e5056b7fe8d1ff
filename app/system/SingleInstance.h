#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

namespace velmora {

/// One console per data directory. The first copy holds a lock file and
/// listens on a local socket, both named from a hash of the canonical data
/// directory; a later copy for the same directory finds the lock taken, asks
/// the first to raise its window and gives way. Consoles of different data
/// directories run side by side.
///
/// Both files live in a folder only this user may enter: $XDG_RUNTIME_DIR,
/// or else <TMPDIR>/velmora-<uid>, made 0700 and used only while it is ours
/// and closed to group and others. The lock is opened without following a
/// link, and neither side talks to a socket peer of another user.
///
/// The lock, not the socket, decides: it goes with the process, so a copy
/// that crashed never keeps the next one out, and two copies starting at the
/// same moment cannot both win. The first copy removes both files as it
/// ends.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    /// What a later copy sends.
    static constexpr const char* RAISE = "raise";

    /// The private folder for the files; empty when there is none.
    static QString folder();
    /// "velmora-" and 16 hex digits of the SHA-256 of the canonical path
    /// (links resolved as far as the path exists).
    static QString nameFor(const QString& dataDirectory);

    explicit SingleInstance(const QString& dataDirectory, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// true: this is the first copy, listening from now on (also when no
    /// private folder exists, so no check is possible). false: another copy
    /// of the same data directory runs and has been asked to raise its
    /// window (within a few seconds, as it may still be starting).
    bool claim();

    /// The window a later copy's request shows, raises and activates.
    void setWindow(QWidget* window);

    /// The lock file's path; empty before claim() or without a folder.
    const QString& getLockPath() const { return m_lockPath; }
    /// The socket's path; empty before claim() or without a folder.
    const QString& getSocketPath() const { return m_socketPath; }

signals:
    /// A later copy asked for the window (after it was raised).
    void raiseRequested();

private:
    bool lock();
    bool askFirstCopy();
    void onConnection();
    void raiseWindow();

    QString m_dataDirectory;
    QString m_lockPath;
    QString m_socketPath;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
    QPointer<QWidget> m_window;
};

} // namespace velmora
