#include "app/system/SingleInstance.h"

#include "foundation/Trace.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace {

// How long a later copy waits for the first one to listen.
constexpr int CONNECT_PATIENCE_MS = 5000;
// Hex digits of the data directory's hash in the file names.
constexpr int NAME_HASH_DIGITS = 16;
// Tries to take a lock file that the copy before us removed meanwhile.
constexpr int LOCK_ATTEMPTS = 5;

// A directory (not a link to one) of this user that group and others
// cannot enter: nobody else can plant or replace a file in it.
bool isPrivateFolder(const QByteArray& path) {
    struct stat status {};
    return ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 077) == 0;
}

// Whether the process at the other end of a local socket runs as this user.
bool peerIsUs(qintptr descriptor) {
    ucred credentials {};
    socklen_t length = sizeof credentials;
    return descriptor >= 0 &&
           ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           credentials.uid == ::geteuid();
}

enum class LockResult { Held, Taken, Unavailable };

} // namespace

QString SingleInstance::folder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime)) {
        return QFile::decodeName(runtime);
    }
    const QByteArray own = QFile::encodeName(
        QDir(QDir::tempPath()).filePath(QStringLiteral("velmora-%1").arg(static_cast<qulonglong>(::geteuid()))));
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST) {
        trace("SingleInstance: cannot make %s: %s", own.constData(), std::strerror(errno));
        return {};
    }
    if (!isPrivateFolder(own)) {
        trace("SingleInstance: %s is not this user's private folder", own.constData());
        return {};
    }
    return QFile::decodeName(own);
}

QString SingleInstance::nameFor(const QString& dataDirectory) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(QFile::encodeName(dataDirectory).toStdString(), error);
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    if (!error) {
        path = canonical;
    }
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(path.lexically_normal().string()),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(NAME_HASH_DIGITS);
    return QStringLiteral("velmora-") + QString::fromLatin1(hash);
}

SingleInstance::SingleInstance(const QString& dataDirectory, QObject* parent)
    : QObject(parent), m_dataDirectory(dataDirectory) {}

SingleInstance::~SingleInstance() {
    if (m_server != nullptr) {
        // Removes the socket file as well.
        m_server->close();
    }
    if (m_lockFd >= 0) {
        // Removed while still locked: a copy that opened it meanwhile finds
        // the name gone after its lock and opens the file anew.
        ::unlink(QFile::encodeName(m_lockPath).constData());
        ::close(m_lockFd);
    }
}

void SingleInstance::setWindow(QWidget* window) {
    m_window = window;
}

bool SingleInstance::claim() {
    const QString where = folder();
    if (where.isEmpty()) {
        trace("SingleInstance: no private folder; other copies are not looked for");
        return true;
    }
    const QString name = nameFor(m_dataDirectory);
    m_lockPath = QDir(where).filePath(name + QStringLiteral(".lock"));
    m_socketPath = QDir(where).filePath(name + QStringLiteral(".socket"));

    const LockResult result = [this] {
        const QByteArray path = QFile::encodeName(m_lockPath);
        for (int attempt = 0; attempt < LOCK_ATTEMPTS; ++attempt) {
            // Close-on-exec: the browser's helper processes must not keep the lock.
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0) {
                trace("SingleInstance: cannot open %s: %s", path.constData(), std::strerror(errno));
                return LockResult::Unavailable;
            }
            struct stat opened {};
            if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
                trace("SingleInstance: %s is no lock file of this user", path.constData());
                ::close(fd);
                return LockResult::Unavailable;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int error = errno;
                ::close(fd);
                return error == EWOULDBLOCK ? LockResult::Taken : LockResult::Unavailable;
            }
            struct stat named {};
            if (::lstat(path.constData(), &named) == 0 && named.st_dev == opened.st_dev &&
                named.st_ino == opened.st_ino) {
                m_lockFd = fd;
                return LockResult::Held;
            }
            ::close(fd);
        }
        return LockResult::Unavailable;
    }();
    if (result == LockResult::Taken) {
        askFirstCopy();
        return false;
    }
    // Without a lock file the socket alone decides.
    if (result == LockResult::Unavailable && askFirstCopy()) {
        return false;
    }
    // Holding the lock, any socket file left is a dead copy's.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        trace("SingleInstance: cannot listen on %s: %s", qPrintable(m_socketPath),
              qPrintable(m_server->errorString()));
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    return true;
}

bool SingleInstance::askFirstCopy() {
    QElapsedTimer waited;
    waited.start();
    do {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(500)) {
            if (!peerIsUs(socket.socketDescriptor())) {
                trace("SingleInstance: %s is held by another user", qPrintable(m_socketPath));
                return false;
            }
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
        if (!peerIsUs(socket->socketDescriptor())) {
            trace("SingleInstance: a request from another user is ignored");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto consume = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine().trimmed() == RAISE) {
                    trace("SingleInstance: a second copy asked for the window");
                    raiseWindow();
                    emit raiseRequested();
                }
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, consume);
        consume();
    }
}

void SingleInstance::raiseWindow() {
    // A window not shown yet, or already closing, stays as it is.
    if (!m_window || !m_window->isVisible()) {
        return;
    }
    // Out of the task bar, but a maximised window stays maximised.
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->raise();
    m_window->activateWindow();
}

} // namespace velmora
