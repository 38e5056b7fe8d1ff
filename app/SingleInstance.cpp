#include "app/SingleInstance.h"

#include "foundation/Trace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora {

namespace {

// How long a later copy waits for the first one to listen.
constexpr int CONNECT_PATIENCE_MS = 5000;

} // namespace

QString SingleInstance::defaultName() {
    return QStringLiteral("QUELN Velmora-%1").arg(static_cast<qulonglong>(getuid()));
}

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

SingleInstance::~SingleInstance() {
    if (m_server != nullptr) {
        m_server->close();
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
    }
}

bool SingleInstance::claim() {
    const QByteArray lockPath = QFile::encodeName(QDir(QDir::tempPath()).filePath(m_name + QStringLiteral(".lock")));
    // Close-on-exec: the browser's helper processes must not keep the lock.
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        // Without a lock file the socket alone decides.
        trace("SingleInstance: cannot open %s: %s", lockPath.constData(), std::strerror(errno));
        if (askFirstCopy()) {
            return false;
        }
    } else if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        askFirstCopy();
        return false;
    }
    // Holding the lock, any socket file left is a dead copy's.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        trace("SingleInstance: cannot listen on %s: %s", qPrintable(m_name), qPrintable(m_server->errorString()));
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    return true;
}

bool SingleInstance::askFirstCopy() {
    QElapsedTimer waited;
    waited.start();
    do {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(500)) {
            socket.write(RAISE);
            socket.write("\n");
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState) {
                socket.waitForDisconnected(1000);
            }
            return true;
        }
        QThread::msleep(50);
    } while (waited.elapsed() < CONNECT_PATIENCE_MS);
    trace("SingleInstance: the running copy did not answer");
    return false;
}

void SingleInstance::onConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto consume = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine().trimmed() == RAISE) {
                    trace("SingleInstance: a second copy asked for the window");
                    emit raiseRequested();
                }
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, consume);
        consume();
    }
}

} // namespace velmora
