#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace velmora {

/// One console per user. The first copy holds a lock file and listens on a
/// local socket named from "QUELN Velmora" and the user id; a later copy
/// finds the lock taken, asks the first to raise its window and gives way.
/// Both live in the temporary directory (TMPDIR), so a separate TMPDIR is a
/// separate console.
///
/// The lock, not the socket, decides: it goes with the process, so a copy
/// that crashed never keeps the next one out, and two copies starting at the
/// same moment cannot both win.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    /// "QUELN Velmora-<uid>".
    static QString defaultName();
    /// What a later copy sends.
    static constexpr const char* RAISE = "raise";

    explicit SingleInstance(const QString& name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// true: this is the first copy, listening from now on. false: another
    /// copy runs and has been asked to raise its window (within a few
    /// seconds, as it may still be starting).
    bool claim();

    const QString& getName() const { return m_name; }

signals:
    /// A later copy asked for the window.
    void raiseRequested();

private:
    bool askFirstCopy();
    void onConnection();

    QString m_name;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};

} // namespace velmora
