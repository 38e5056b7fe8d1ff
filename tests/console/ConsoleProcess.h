#pragma once

// The real console program as a child process: started in a working
// directory with its diagnostic trace on (VELMORA_TRACE=1, standard error to
// <instance directory>/console.log), watched through that log, stopped with a signal.

#include "tests/support/ConsoleTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <xcb/xcb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

/// Polls done() every 20 ms for at most ms; its last answer.
inline bool pollUntil(const std::function<bool()>& done, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class ConsoleProcess {
public:
    /// directory: the working directory (the data directory unless the
    /// arguments name one); instanceDirectory: its TMPDIR, which holds the
    /// log and, without XDG_RUNTIME_DIR, the single-instance files.
    ConsoleProcess(std::string directory, std::string instanceDirectory, std::string logName = "console.log")
        : m_directory(std::move(directory)), m_instanceDirectory(std::move(instanceDirectory)),
          m_log(m_instanceDirectory + "/" + logName) {}
    ~ConsoleProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    /// Command line arguments after the program name (set before start()).
    std::vector<std::string> arguments;
    /// Extra environment for the child (set before start()). The log lies in
    /// the instance directory, so the working directory holds only what the
    /// console itself made.
    std::map<std::string, std::string> environment;

    void start() {
        std::filesystem::remove(m_log);
        m_pid = ::fork();
        if (m_pid == 0) {
            // The child: its own process group, default signal handling,
            // the trace into the log.
            ::setpgid(0, 0);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            if (::chdir(m_directory.c_str()) != 0) {
                _exit(126);
            }
            const int log = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            setenv("VELMORA_TRACE", "1", 1);
            setenv("TMPDIR", m_instanceDirectory.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
            for (const auto& [name, value] : environment) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            std::vector<char*> argv = {const_cast<char*>(VELMORA_EXECUTABLE)};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(VELMORA_EXECUTABLE, argv.data());
            _exit(127);
        }
    }

    pid_t pid() const { return m_pid; }
    std::string log() const { return readFile(m_log); }
    bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }
    /// Waits until the log holds text.
    bool waitForLog(const std::string& text, int ms = 30000) const {
        return pollUntil([&] { return logHas(text) || !running(); }, ms) && logHas(text);
    }
    bool waitListening(int port, int ms = 30000) const {
        return waitForLog("VelmoraDlg: listening on port " + std::to_string(port), ms);
    }

    bool running() const {
        if (m_pid <= 0) {
            return false;
        }
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            m_status = status;
            return false;
        }
        return true;
    }

    void signal(int number) const {
        if (m_pid > 0) {
            ::kill(m_pid, number);
        }
    }

    /// The exit status once the process has ended within ms; -1 when it
    /// was still running (it is then killed) or ended by a signal.
    int waitExit(int ms = 30000) {
        pollUntil([&] { return !running(); }, ms);
        if (running()) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
            return -1;
        }
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }

    /// SIGTERM, then the exit status.
    int terminate(int ms = 30000) {
        signal(SIGTERM);
        return waitExit(ms);
    }

private:
    std::string m_directory;
    std::string m_instanceDirectory;
    std::string m_log;
    mutable pid_t m_pid = -1;
    mutable int m_status = 0;
};

/// Top-level windows on the X display named name that are mapped and
/// viewable (from xwininfo): the main window, and each message box over it.
inline int viewableWindowsNamed(const std::string& name) {
    FILE* list = ::popen("xwininfo -root -children 2>/dev/null", "r");
    if (list == nullptr) {
        return -1;
    }
    std::vector<std::string> ids;
    char line[1024];
    const std::string quoted = "\"" + name + "\":";
    while (std::fgets(line, sizeof line, list) != nullptr) {
        const std::string text = line;
        const size_t at = text.find(quoted);
        if (at == std::string::npos) {
            continue;
        }
        const size_t start = text.find("0x");
        if (start != std::string::npos && start < at) {
            ids.push_back(text.substr(start, text.find(' ', start) - start));
        }
    }
    ::pclose(list);
    int viewable = 0;
    for (const std::string& id : ids) {
        FILE* info = ::popen(("xwininfo -id " + id + " 2>/dev/null").c_str(), "r");
        if (info == nullptr) {
            continue;
        }
        while (std::fgets(line, sizeof line, info) != nullptr) {
            if (std::strstr(line, "Map State: IsViewable") != nullptr) {
                ++viewable;
            }
        }
        ::pclose(info);
    }
    return viewable;
}

/// A connection of the test's own to an X display (no window manager runs
/// there): the top-level windows in stacking order, their names and
/// pixels, and key presses sent to them.
class XDisplay {
public:
    /// name: ":N"; empty for $DISPLAY.
    explicit XDisplay(const std::string& name = {}) {
        int screenNumber = 0;
        m_connection = xcb_connect(name.empty() ? nullptr : name.c_str(), &screenNumber);
        if (xcb_connection_has_error(m_connection) != 0) {
            return;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i) {
            xcb_screen_next(&screens);
        }
        m_screen = screens.data;
    }
    ~XDisplay() { xcb_disconnect(m_connection); }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool usable() const { return m_screen != nullptr; }

    /// The root's children, bottom first.
    std::vector<xcb_window_t> stack() const {
        std::vector<xcb_window_t> windows;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_screen->root), nullptr);
        if (tree != nullptr) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            windows.assign(children, children + xcb_query_tree_children_length(tree));
            free(tree);
        }
        return windows;
    }
    /// The viewable top-level windows whose title is name, bottom first.
    std::vector<xcb_window_t> viewableNamed(const std::string& name) const {
        std::vector<xcb_window_t> found;
        for (xcb_window_t window : stack()) {
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
            const bool viewable = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            if (viewable && title(window) == name) {
                found.push_back(window);
            }
        }
        return found;
    }
    std::string title(xcb_window_t window) const {
        xcb_get_property_reply_t* property = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
            nullptr);
        std::string text;
        if (property != nullptr) {
            text.assign(static_cast<const char*>(xcb_get_property_value(property)),
                        static_cast<size_t>(xcb_get_property_value_length(property)));
            free(property);
        }
        return text;
    }
    /// Pixels of window that are clearly red (the stop icon is; the other
    /// boxes' icons are blue or yellow).
    int redPixels(xcb_window_t window) const {
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        if (geometry == nullptr) {
            return -1;
        }
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width, geometry->height, ~0u),
            nullptr);
        free(geometry);
        if (image == nullptr) {
            return -1;
        }
        int red = 0;
        const uint8_t* data = xcb_get_image_data(image);
        const int length = xcb_get_image_data_length(image);
        for (int i = 0; i + 3 < length; i += 4) { // 32 bits a pixel: blue, green, red, unused
            red += data[i + 2] > 170 && data[i + 1] < 90 && data[i] < 90;
        }
        free(image);
        return red;
    }
    /// A key press and release of Return sent to window, as if typed.
    void pressReturn(xcb_window_t window) const {
        const xcb_keycode_t code = keycodeOf(0xff0d); // XK_Return
        for (uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
            xcb_key_press_event_t event{};
            event.response_type = type;
            event.detail = code;
            event.time = XCB_CURRENT_TIME;
            event.root = m_screen->root;
            event.event = window;
            event.child = XCB_NONE;
            event.same_screen = 1;
            xcb_send_event(m_connection, 0, window,
                           type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                           reinterpret_cast<const char*>(&event));
        }
        xcb_flush(m_connection);
    }
    /// Maps a plain window of the test's own on top of every other.
    xcb_window_t mapWindowOnTop() const {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen->root, 0, 0, 200, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, 0, nullptr);
        xcb_map_window(m_connection, window);
        xcb_flush(m_connection);
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); // a round trip
        return window;
    }

private:
    xcb_keycode_t keycodeOf(xcb_keysym_t symbol) const {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, static_cast<uint8_t>(count)),
            nullptr);
        xcb_keycode_t found = 0;
        if (mapping != nullptr) {
            const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(mapping);
            for (int i = 0; i < count * mapping->keysyms_per_keycode && found == 0; ++i) {
                if (symbols[i] == symbol) {
                    found = static_cast<xcb_keycode_t>(setup->min_keycode + i / mapping->keysyms_per_keycode);
                }
            }
            free(mapping);
        }
        return found;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_screen_t* m_screen = nullptr;
};

/// An X server of its own with a screen of the given size (Xvfb picks a
/// free display itself), for a console that must see a small monitor.
class SmallXServer {
public:
    SmallXServer(int width, int height) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            const std::string fd = std::to_string(fds[1]);
            const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(fds[1]);
        char number[32] = {};
        ssize_t got = 0;
        while (got < static_cast<ssize_t>(sizeof number) - 1) {
            const ssize_t n = ::read(fds[0], number + got, sizeof number - 1 - got);
            if (n <= 0) {
                break;
            }
            got += n;
            if (std::memchr(number, '\n', static_cast<size_t>(got)) != nullptr) {
                break;
            }
        }
        ::close(fds[0]);
        if (got > 0) {
            m_display = ":" + std::string(number, std::strcspn(number, "\n"));
        }
    }
    ~SmallXServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    SmallXServer(const SmallXServer&) = delete;
    SmallXServer& operator=(const SmallXServer&) = delete;

    /// ":N", or empty when the server did not start.
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

} // namespace velmora::test
