#pragma once

// A console's main window on the X display, from outside its process: found
// by its process id, given keys as an operator types them (xdotool), and
// pinged the way a window manager tells a frozen window (_NET_WM_PING, which
// the window answers from its own event loop: the round trip is how long
// that loop keeps the window waiting).

#include <xcb/xcb.h>

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velmora::test {

class DeskScreen {
public:
    DeskScreen()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection) != 0) {
            return;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i) {
            xcb_screen_next(&screens);
        }
        m_root = screens.data->root;
        m_width = screens.data->width_in_pixels;
        m_height = screens.data->height_in_pixels;
        m_protocols = atom("WM_PROTOCOLS");
        m_ping = atom("_NET_WM_PING");
        // The answers come to the root window.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    ~DeskScreen() { xcb_disconnect(m_connection); }
    DeskScreen(const DeskScreen&) = delete;
    DeskScreen& operator=(const DeskScreen&) = delete;

    bool usable() const { return m_root != 0; }
    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }

    /// The viewable window titled "Velmora" of process pid; 0 when none.
    static unsigned long windowOf(pid_t pid)
    {
        const std::string command =
            "xdotool search --all --onlyvisible --pid " + std::to_string(pid) + " --name '^Velmora$' 2>/dev/null";
        FILE* found = ::popen(command.c_str(), "r");
        if (found == nullptr) {
            return 0;
        }
        char line[64] = {};
        const bool read = std::fgets(line, sizeof line, found) != nullptr;
        ::pclose(found);
        return read ? std::strtoul(line, nullptr, 10) : 0;
    }

    /// Focuses window and types keys ("alt+a") as the operator would.
    static bool type(unsigned long window, const std::string& keys)
    {
        const std::string command = "xdotool windowfocus --sync " + std::to_string(window) + " key --clearmodifiers " +
                                    keys + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    /// Moves and sizes window (xdotool), as an operator arranges desks.
    static bool place(unsigned long window, int x, int y, int width, int height)
    {
        const std::string id = std::to_string(window);
        const std::string command = "xdotool windowsize --sync " + id + " " + std::to_string(width) + " " +
                                    std::to_string(height) + " windowmove --sync " + id + " " + std::to_string(x) +
                                    " " + std::to_string(y) + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    /// Clicks at x, y inside window, then types keys ("End").
    static bool clickAndType(unsigned long window, int x, int y, const std::string& keys)
    {
        const std::string id = std::to_string(window);
        const std::string command = "xdotool windowfocus --sync " + id + " mousemove --window " + id + " " +
                                    std::to_string(x) + " " + std::to_string(y) + " click 1 key " + keys +
                                    " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    /// Rests the pointer at x, y inside window (a tooltip shows there).
    static bool hover(unsigned long window, int x, int y)
    {
        const std::string id = std::to_string(window);
        const std::string command = "xdotool mousemove --window " + id + " " + std::to_string(x - 3) + " " +
                                    std::to_string(y) + " sleep 0.3 mousemove --window " + id + " " +
                                    std::to_string(x) + " " + std::to_string(y) + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    /// Writes the whole display to path (a PNG), for a person to look at.
    static bool shoot(const std::string& path)
    {
        const std::string command = "import -window root '" + path + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    /// The round trip of a _NET_WM_PING to window in milliseconds; -1 when
    /// no answer came within limitMs.
    double ping(unsigned long window, int limitMs = 5000)
    {
        const uint32_t serial = ++m_serial;
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = static_cast<xcb_window_t>(window);
        event.type = m_protocols;
        event.data.data32[0] = m_ping;
        event.data.data32[1] = serial;
        event.data.data32[2] = static_cast<uint32_t>(window);
        const auto sent = std::chrono::steady_clock::now();
        xcb_send_event(m_connection, 0, static_cast<xcb_window_t>(window), XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(m_connection);
        const auto until = sent + std::chrono::milliseconds(limitMs);
        for (;;) {
            while (xcb_generic_event_t* next = xcb_poll_for_event(m_connection)) {
                const bool answer = (next->response_type & 0x7F) == XCB_CLIENT_MESSAGE &&
                                    reinterpret_cast<xcb_client_message_event_t*>(next)->data.data32[0] == m_ping &&
                                    reinterpret_cast<xcb_client_message_event_t*>(next)->data.data32[1] == serial;
                free(next);
                if (answer) {
                    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= until || xcb_connection_has_error(m_connection) != 0) {
                return -1;
            }
            pollfd entry{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
        }
    }

private:
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply != nullptr ? reply->atom : 0;
        free(reply);
        return value;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    int m_width = 0;
    int m_height = 0;
    xcb_atom_t m_protocols = 0;
    xcb_atom_t m_ping = 0;
    uint32_t m_serial = 0;
};

} // namespace velmora::test
