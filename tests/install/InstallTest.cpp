// The installed program: the build installed with `cmake --install` into a
// temporary root (DESTDIR), then run from there as a user would run it from
// /usr. The root gets a link to the system's /usr/share/javascript, standing
// for the package's libjs-leaflet dependency.

#include "tests/support/ConsoleTestSupport.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace velmora::test;

namespace fs = std::filesystem;

namespace {

/// One child process with its own working directory, environment (on top of
/// this one's), standard output and error in files.
class Program {
public:
    Program(std::vector<std::string> argv, std::string directory, std::map<std::string, std::string> environment,
            std::string output, std::string error)
        : m_argv(std::move(argv)), m_directory(std::move(directory)), m_environment(std::move(environment)),
          m_output(std::move(output)), m_error(std::move(error)) {}
    ~Program() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void start() {
        m_pid = ::fork();
        if (m_pid == 0) {
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            if (::chdir(m_directory.c_str()) != 0) {
                _exit(126);
            }
            ::dup2(::open(m_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            ::dup2(::open(m_error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            for (const auto& [name, value] : m_environment) {
                if (value.empty()) {
                    unsetenv(name.c_str());
                } else {
                    setenv(name.c_str(), value.c_str(), 1);
                }
            }
            std::vector<char*> argv;
            for (std::string& argument : m_argv) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            _exit(127);
        }
    }
    bool running() {
        if (m_pid <= 0) {
            return false;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return false;
        }
        return true;
    }
    /// The exit status once ended within ms; -1 if it had to be killed or
    /// ended by a signal.
    int wait(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (running() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (running()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
        return m_status;
    }
    void signal(int number) const {
        if (m_pid > 0) {
            ::kill(m_pid, number);
        }
    }

private:
    std::vector<std::string> m_argv;
    std::string m_directory;
    std::map<std::string, std::string> m_environment;
    std::string m_output;
    std::string m_error;
    pid_t m_pid = -1;
    int m_status = -1;
};

bool waitFor(const std::function<bool()>& done, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool isEmptyDirectory(const std::string& path) {
    return fs::is_directory(path) && fs::is_empty(path);
}

bool near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 6 && std::abs(qGreen(a) - qGreen(b)) <= 6 &&
           std::abs(qBlue(a) - qBlue(b)) <= 6;
}

/// Whether some column of shot shows column 0 of picture, pixel by pixel.
bool showsColumnOf(const QImage& shot, const QImage& picture) {
    for (int x = 0; x < shot.width(); ++x) {
        for (int y = 0; y + picture.height() <= shot.height(); ++y) {
            int row = 0;
            while (row < picture.height() && near(shot.pixel(x, y + row), picture.pixel(0, row))) {
                ++row;
            }
            if (row == picture.height()) {
                return true;
            }
        }
    }
    return false;
}

class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_root = new TempDir;
        const std::string command = std::string("DESTDIR='") + s_root->file("root") + "' '" + VELMORA_CMAKE +
                                    "' --install '" + VELMORA_BUILD_DIR + "' --prefix /usr >'" +
                                    s_root->file("install.log") + "' 2>&1";
        s_installStatus = std::system(command.c_str());
        fs::create_directory_symlink("/usr/share/javascript", s_root->file("root/usr/share/javascript"));
    }
    static void TearDownTestSuite() {
        delete s_root;
        s_root = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(s_installStatus, 0) << readFile(s_root->file("install.log"));
        for (const char* folder : {"home", "xdg", "work", "tmp"}) {
            fs::create_directory(dir.file(folder));
        }
    }

    static std::string installed(const std::string& path) { return s_root->file("root/usr/" + path); }

    /// The installed console with a fresh home, XDG_DATA_HOME and TMPDIR.
    std::unique_ptr<Program> console(std::vector<std::string> arguments, const std::string& directory) {
        arguments.insert(arguments.begin(), installed("bin/velmora"));
        return std::make_unique<Program>(
            arguments, directory,
            std::map<std::string, std::string>{{"HOME", dir.file("home")},
                                               {"XDG_DATA_HOME", dir.file("xdg")},
                                               {"TMPDIR", dir.file("tmp")},
                                               {"VELMORA_TRACE", "1"},
                                               {"QT_QPA_PLATFORM", "xcb"},
                                               {"QTWEBENGINE_DISABLE_SANDBOX", "1"}},
            dir.file("out.txt"), dir.file("err.txt"));
    }

    TempDir dir;
    static TempDir* s_root;
    static int s_installStatus;
};

TempDir* Installed::s_root = nullptr;
int Installed::s_installStatus = -1;

struct OptionCase {
    std::vector<std::string> arguments;
    int status;
    std::string output; // a part of standard output; empty: nothing
    std::string error;  // a part of standard error; empty: nothing
};

} // namespace

// The installed tree holds the programs, the page's data and the desktop's
// files where the desktop looks for them.
TEST_F(Installed, EveryFileIsWhereTheDesktopLooks) {
    const char* const files[] = {
        "bin/velmora",
        "bin/velmora-sim",
        "bin/velmora-receiver",
        "share/velmora/images/toolbar_bg.png",
        "share/velmora/images/point_normal.png",
        "share/velmora/assets/geodata/world.js",
        "share/velmora/assets/geodata/water-coarse.json",
        "share/velmora/assets/geodata/water/40_0.json",
        "share/velmora/assets/leaflet/leaflet.js",
        "share/velmora/assets/leaflet/images/layers.png",
        "share/velmora/geonames/places.tsv",
        "share/applications/velmora.desktop",
        "share/metainfo/org.velmora.console.metainfo.xml",
        "share/icons/hicolor/scalable/apps/velmora.svg",
        "share/icons/hicolor/16x16/apps/velmora.png",
        "share/icons/hicolor/256x256/apps/velmora.png",
        "share/man/man1/velmora.1.gz",
        "share/man/man1/velmora-sim.1.gz",
        "share/man/man1/velmora-receiver.1.gz",
        "share/doc/velmora/copyright",
    };
    for (const char* file : files) {
        EXPECT_TRUE(fs::is_regular_file(installed(file))) << file; // links followed
    }
    // Leaflet is the system's, reached by a relative link.
    EXPECT_TRUE(fs::is_symlink(installed("share/velmora/assets/leaflet/leaflet.js")));
    EXPECT_EQ(fs::read_symlink(installed("share/velmora/assets/leaflet/leaflet.js")).string().rfind("../", 0), 0u);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        const QImage icon(QString::fromStdString(installed("share/icons/hicolor/" + name + "/apps/velmora.png")));
        EXPECT_EQ(icon.size(), QSize(size, size)) << name;
    }
}

// --help and --version answer and end; anything else is a usage error with
// status 2. None of them makes a file anywhere.
TEST_F(Installed, OptionsAnswerBeforeAnythingIsMade) {
    const OptionCase cases[] = {
        {{"--version"}, 0, std::string("velmora ") + VELMORA_VERSION + "\n", ""},
        {{"--help"}, 0, "Usage: velmora [--data-dir DIR]", ""},
        {{"--bogus"}, 2, "", "unknown option '--bogus'"},
        {{"--data-dir"}, 2, "", "Usage: velmora"},
        {{"stray", "--help"}, 2, "", "unexpected argument"},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        for (const std::string& directory : {dir.file("home"), dir.file("work")}) {
            auto program = console(c.arguments, directory);
            program->start();
            EXPECT_EQ(program->wait(20000), c.status) << readFile(dir.file("err.txt"));
            const std::string output = readFile(dir.file("out.txt"));
            const std::string error = readFile(dir.file("err.txt"));
            if (c.output.empty()) {
                EXPECT_EQ(output, "");
            } else {
                EXPECT_NE(output.find(c.output), std::string::npos) << output;
            }
            if (c.error.empty()) {
                EXPECT_EQ(error, "");
            } else {
                EXPECT_NE(error.find(c.error), std::string::npos) << error;
            }
            for (const char* folder : {"home", "xdg", "work", "tmp"}) {
                EXPECT_TRUE(isEmptyDirectory(dir.file(folder))) << folder;
            }
        }
    }
}

// Started in the home directory without --data-dir, as the desktop menu
// starts it: the per-user directory is made with both databases, the page
// shows the installed images, and SIGTERM ends it with status 0.
TEST_F(Installed, FromHomeItUsesThePerUserDirectoryAndShowsThePage) {
    auto program = console({}, dir.file("home"));
    program->start();
    const std::string data = dir.file("xdg/velmora");
    ASSERT_TRUE(waitFor([&] { return readFile(dir.file("err.txt")).find("page loaded") != std::string::npos ||
                                     !program->running(); },
                        60000))
        << readFile(dir.file("err.txt"));
    ASSERT_TRUE(program->running()) << readFile(dir.file("err.txt"));
    EXPECT_TRUE(waitFor([&] { return fs::exists(data + "/app.db") && fs::exists(data + "/setup.db"); }, 10000));
    EXPECT_TRUE(fs::is_symlink(data + "/images"));
    EXPECT_TRUE(fs::equivalent(data + "/images", installed("share/velmora/images")));
    for (const char* file : {"app.db", "setup.db", "images"}) {
        EXPECT_FALSE(fs::exists(dir.file("home/") + file)) << file << " was made in the working directory";
    }

    // The toolbar's background is drawn from the installed picture.
    const QImage picture(QString::fromStdString(installed("share/velmora/images/toolbar_bg.png")));
    ASSERT_FALSE(picture.isNull());
    bool shown = false;
    const std::string kept = (fs::temp_directory_path() / "velmora-install-screen.png").string();
    waitFor([&] {
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        shown = showsColumnOf(shot, picture);
        if (!shown) {
            shot.save(QString::fromStdString(kept));
        }
        return shown;
    }, 15000);
    EXPECT_TRUE(shown) << "the toolbar background never showed; the last screen is " << kept;

    // The desktop entry's StartupWMClass is the window's X class, so the
    // desktop matches the running window to its entry.
    const std::string entry = readFile(installed("share/applications/velmora.desktop"));
    const size_t key = entry.find("\nStartupWMClass=");
    ASSERT_NE(key, std::string::npos);
    const std::string wmClass = entry.substr(key + 16, entry.find('\n', key + 1) - key - 16);
    std::string properties;
    if (FILE* xprop = ::popen("xprop -name Velmora WM_CLASS 2>&1", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, xprop) != nullptr) {
            properties += line;
        }
        ::pclose(xprop);
    }
    EXPECT_NE(properties.find(", \"" + wmClass + "\""), std::string::npos) << properties;

    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(30000), 0) << readFile(dir.file("err.txt"));
}
