#include "tests/app/shell/WindowFixture.h"

#include "app/system/MultiMonitor.h"
#include "app/system/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QWidget>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace velmora;
using namespace velmora::test;

namespace {

/// XDG_RUNTIME_DIR and TMPDIR set for one test, put back afterwards.
class InstanceFolders {
public:
    InstanceFolders() : m_runtime(qgetenv("XDG_RUNTIME_DIR")), m_tmp(qgetenv("TMPDIR")) {
        std::filesystem::create_directory(runtime());
        ::chmod(runtime().c_str(), 0700);
        std::filesystem::create_directory(tmp());
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime()));
        qputenv("TMPDIR", QByteArray::fromStdString(tmp()));
    }
    ~InstanceFolders() {
        restore("XDG_RUNTIME_DIR", m_runtime);
        restore("TMPDIR", m_tmp);
    }
    std::string runtime() const { return dir.file("run"); }
    std::string tmp() const { return dir.file("tmp"); }
    QString data(const char* name) const { return QString::fromStdString(dir.file(name)); }

    TempDir dir;

private:
    static void restore(const char* name, const QByteArray& value) {
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
    QByteArray m_runtime;
    QByteArray m_tmp;
};

std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// The first copy wins and listens; a later one for the same data directory
// (also named through a link) gives way and brings the first one's window
// back from the task bar to the front; once the first has gone, its files
// are gone and the next copy wins again.
TEST(SingleInstance, ALaterCopyGivesWayAndRaisesTheFirstWindow) {
    InstanceFolders folders;
    std::filesystem::create_directory(folders.dir.file("data"));
    std::filesystem::create_directory_symlink(folders.dir.file("data"), folders.dir.file("link"));
    auto first = std::make_unique<SingleInstance>(folders.data("data"));
    ASSERT_TRUE(first->claim());
    EXPECT_TRUE(first->getLockPath().startsWith(QString::fromStdString(folders.runtime()) + "/velmora-"));
    QWidget window;
    window.setWindowTitle(QStringLiteral("first copy"));
    window.show();
    QWidget other;
    other.show();
    window.showMinimized();
    other.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; }));
    first->setWindow(&window);
    QSignalSpy raised(first.get(), &SingleInstance::raiseRequested);

    SingleInstance second(folders.data("link"));
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(raised.count() == 1 || raised.wait(5000)) << "the first copy was not asked to raise";
    EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window; }, 5000)) << "not activated";
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);

    first.reset();
    EXPECT_EQ(filesIn(folders.runtime()), std::vector<std::string>{});
    SingleInstance third(folders.data("data"));
    EXPECT_TRUE(third.claim());
}

// Each data directory has a console of its own; a socket file left by a
// copy that died does not keep the next one out; a lock name that is a link
// is never followed.
TEST(SingleInstance, DataDirectoriesRunSideBySideAndLeftoversAreNotFollowed) {
    InstanceFolders folders;
    SingleInstance a(folders.data("a"));
    SingleInstance b(folders.data("b"));
    EXPECT_TRUE(a.claim());
    EXPECT_TRUE(b.claim());
    EXPECT_NE(a.getLockPath(), b.getLockPath());
    EXPECT_NE(a.getSocketPath(), b.getSocketPath());

    const QString name = SingleInstance::nameFor(folders.data("c"));
    const std::string socketFile = folders.runtime() + "/" + name.toStdString() + ".socket";
    std::ofstream(socketFile) << "left";
    const std::string elsewhere = folders.dir.file("chosen by someone else");
    std::filesystem::create_symlink(elsewhere, folders.runtime() + "/" + name.toStdString() + ".lock");
    SingleInstance c(folders.data("c"));
    ASSERT_TRUE(c.claim());
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
    QSignalSpy raised(&c, &SingleInstance::raiseRequested);
    SingleInstance later(folders.data("c"));
    EXPECT_FALSE(later.claim());
    EXPECT_TRUE(raised.count() == 1 || raised.wait(5000)) << "the first copy does not listen";
}

// A socket whose listener runs as another user is neither told anything
// nor given way to: this copy runs and listens itself.
TEST(SingleInstance, ASocketOfAnotherUserIsNeverTrusted) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to listen as another user";
    }
    InstanceFolders folders;
    const std::string base = folders.runtime() + "/" + SingleInstance::nameFor(folders.data("d")).toStdString();
    std::filesystem::create_directory(base + ".lock"); // no lock file can be had: the socket decides
    int heard[2];
    ASSERT_EQ(::pipe(heard), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s.socket", base.c_str());
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                           ::setresuid(65534, 65534, 65534) == 0 && ::listen(fd, 4) == 0;
        (void)!::write(ready[1], bound ? "y" : "n", 1);
        char received[16] = {};
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 3000) == 1) {
            const int peer = ::accept(fd, nullptr, nullptr);
            pollfd reading{peer, POLLIN, 0};
            if (::poll(&reading, 1, 1000) == 1 && ::read(peer, received, sizeof received - 1) > 0) {
                (void)!::write(heard[1], received, std::strlen(received));
            }
        }
        _exit(0);
    }
    ::close(heard[1]);
    char bound = 0;
    ASSERT_EQ(::read(ready[0], &bound, 1), 1);
    ASSERT_EQ(bound, 'y');

    SingleInstance instance(folders.data("d"));
    EXPECT_TRUE(instance.claim());
    int status = 0;
    ::waitpid(child, &status, 0);
    char received[16] = {};
    EXPECT_LE(::read(heard[0], received, sizeof received - 1), 0) << received;
    ::close(heard[0]);
    ::close(ready[0]);
    ::close(ready[1]);
    QSignalSpy raised(&instance, &SingleInstance::raiseRequested);
    SingleInstance later(folders.data("d"));
    EXPECT_FALSE(later.claim());
    EXPECT_TRUE(raised.count() == 1 || raised.wait(5000)) << "this copy does not listen";
}

// The files go to XDG_RUNTIME_DIR when it is this user's alone, otherwise
// to a 0700 folder of this user under TMPDIR; a folder there that others
// may enter is refused, and the copy runs unchecked.
TEST(SingleInstance, TheFilesLieOnlyInAFolderOfThisUserAlone) {
    struct Row {
        const char* name;
        const char* runtime; // XDG_RUNTIME_DIR: "" unset, "private", "shared"
        int tmpFolderMode;   // of TMPDIR/velmora-<uid> made beforehand; 0: none
        const char* expected; // "runtime", "tmp" or ""
    };
    const Row rows[] = {
        {"private runtime folder", "private", 0, "runtime"},
        {"no runtime folder", "", 0, "tmp"},
        {"runtime folder others may enter", "shared", 0, "tmp"},
        {"own folder under TMPDIR kept", "", 0700, "tmp"},
        {"folder under TMPDIR others may enter", "", 0777, ""},
        {"folder under TMPDIR group may read", "shared", 0750, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        InstanceFolders folders;
        const std::string own = folders.tmp() + "/velmora-" + std::to_string(::geteuid());
        if (row.tmpFolderMode != 0) {
            std::filesystem::create_directory(own);
            ::chmod(own.c_str(), static_cast<mode_t>(row.tmpFolderMode));
        }
        if (std::string(row.runtime).empty()) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else if (std::string(row.runtime) == "shared") {
            ::chmod(folders.runtime().c_str(), 0755);
        }
        const std::string expected = std::string(row.expected) == "runtime" ? folders.runtime()
                                     : std::string(row.expected) == "tmp"   ? own
                                                                            : "";
        EXPECT_EQ(SingleInstance::folder().toStdString(), expected);
        if (!expected.empty()) {
            struct stat status {};
            ASSERT_EQ(::stat(expected.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0700u);
        }
        SingleInstance instance(folders.data("data"));
        EXPECT_TRUE(instance.claim());
        EXPECT_EQ(instance.getLockPath().isEmpty(), expected.empty());
    }
}

// The window's monitor is the listed one that holds it; a monitor the
// platform does not name falls back to the primary one.
TEST(MultiMonitor, AWindowIsOnItsMonitorOrThePrimaryOne) {
    MultiMonitor& monitors = MultiMonitor::getInstance();
    ASSERT_FALSE(monitors.getMonitors().isEmpty());
    QScreen* primary = QGuiApplication::primaryScreen();
    EXPECT_EQ(monitors.pick(nullptr), primary);

    QWidget window;
    window.setGeometry(100, 100, 400, 300);
    window.show();
    pump(100);
    QScreen* screen = monitors.monitorFor(&window);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen, primary);
    EXPECT_GE(screen->geometry().width(), VelmoraDlg::MIN_SCREEN_WIDTH);
    EXPECT_GE(screen->geometry().height(), VelmoraDlg::MIN_SCREEN_HEIGHT);
}

// Without a setup.db the callback server takes port 10111; when another
// program holds that port, the box names it.
TEST_F(WindowTest, WithoutSettingsTheCallbackPortIs10111) {
    ASSERT_FALSE(std::filesystem::exists(dir.file("setup.db")));
    BoxAnswerer box(QMessageBox::Ok);
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return window->getBoundPort() != 0 || box.box().seen; }));
    if (box.box().seen) {
        EXPECT_EQ(box.box().text,
                  "Callback port 10111 is in use by another program. Choose another port in Setup.");
    } else {
        EXPECT_EQ(window->getBoundPort(), 10111);
        EXPECT_EQ(udpPortState(10111).sockets, 1);
    }
}
