// bench_app: the whole console path, datagram to stored row and to page
// command, in one process tree.
//
// The parent prepares a working directory whose app.db holds 1,000 vehicles,
// starts itself as the console (the real VelmoraDlg and everything below it,
// plus an observer that watches the page from inside), then sends GPS fixes
// of 500 of those vehicles over UDP as fast as the console keeps up for
// --seconds (default 30): at most --window fixes (default 200) are sent and
// not yet run by the page, so the socket never drops one. Then it stops the
// console with SIGTERM and counts the gps_data rows.
//
// Before that it runs bench_page (the page alone, no console) and prints its
// line: the page-only rate is the baseline the console's rate is read
// against.
//
// usage: bench_app [--seconds N] [--window N] [--vehicles N] [--flood-seconds N] [--alarm-seconds N]
//                  [--alarmflood-seconds N]
//        (under an X server:
//         xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/app/bench_app)
// Summary:
//   console: sent=<n> stored=<n> shown=<n> gps_per_s=<n> p99_ms=<n>
//            startup_ms=<n> peak_rss_mb=<n> browser_rss_mb=<n> vehicles=<n>
// shown counts moveTo commands the page ran; p99_ms is the 99th percentile
// from send to the page having run the fix's moveTo; startup_ms is process
// start to the page having the stored fleet (its sortVehicleList ran), of
// --vehicles stored vehicles (default 1,000; goals: startup_ms < 1000, and
// < 2000 with --vehicles 10000);
// peak_rss_mb is the peak resident size of the console process (with the
// browser's own process, network and GPU services in it); browser_rss_mb adds up the peaks of the engine's
// helper processes (renderer, zygotes), whose shared libraries each count.
//
// Then the flood: the same console and stored fleet, one sender sending GPS
// fixes of ever new vehicle ids as fast as it can for --flood-seconds
// (default 20) while vehicle 0 of the fleet sends 10 fixes a second; SIGTERM
// arrives while the flood goes on.
//   flood: sent=<n> per_s=<n> admitted=<n> refused=<n> known_sent=<n>
//          known_stored=<n> peak_rss_mb=<n> gui_p99_ms=<n> sigterm_ms=<n>
// admitted counts the vehicles the flood added to app.db, refused what the
// console's admission turned away; gui_p99_ms is the 99th percentile of a
// 10 ms timer's lateness on the window's thread during the flood;
// sigterm_ms runs from the signal to the process's end. Goals: admitted
// within the limits (60 new vehicles a minute from one sender), known_stored
// at least 99% of known_sent, peak_rss_mb < 600, gui_p99_ms < 100,
// sigterm_ms < 2000.
//
// Then the alarms: a console with 2,000 stored vehicles that all send fixes
// at the console run's rate (the same --window) for --alarm-seconds
// (default 20), while 100 of them each press their panic button, spread
// over the run.
//   alarms: raised=<n> shown=<n> p99_alarm_to_queue_ms=<n>
//           p99_alarm_to_sound_ms=<n> fixes_lost=<n> fixes_sent=<n>
//           fix_p99_ms=<n>
// raised counts the rows of alarm_info, shown the queue's rows at the stop;
// alarm_to_queue runs from the send to the alarm's row being in the queue,
// alarm_to_sound to the sound being started; fixes_lost is fixes sent less
// gps_data rows. fix_p99_ms, send to the page having run the fix in the
// same run, is the baseline the alarm's path is read against. Goals:
// raised = shown = 100, p99_alarm_to_queue_ms < 200, fixes_lost = 0.
//
// Then the alarm flood: the stored fleet, every event kind set as an alarm
// (so each vehicle can hold 14 open alarms), and 100 senders on addresses
// of their own (127.0.1.x) sending, as fast as one thread goes for
// --alarmflood-seconds (default 20), a fix of a new vehicle id (which
// admits itself within the intake's limits) and then one event of each
// kind of that id; meanwhile 10 stored vehicles send one panic each at
// random times. SIGTERM arrives while the flood goes on.
//   alarmflood: senders=<n> sent=<n> admitted=<n> folded_rows=<n>
//               known_panics=<n> known_shown=<n> p99_known_panic_to_queue_ms=<n>
//               page_p99_ms=<n> peak_rss_mb=<n> sigterm_ms=<n>
// folded_rows counts the queue's rows at the stop that stand for many
// alarms; known_shown the stored vehicles' panics that had a row of their
// own, known_panic_to_queue runs from the send to that row; page_p99_ms is
// the 99th percentile of a script's round trip through the page, asked
// every 100 ms. Goals: known_shown = known_panics, p99 known panic to queue
// < 500, page_p99_ms < 1000, peak_rss_mb < 600, sigterm_ms < 2000.
#include "bench/support/ChildProcess.h"
#include "app/alarms/AlarmBell.h"
#include "rules/AlarmBook.h"
#include "app/alarms/AlarmPanel.h"
#include "app/alarms/AlarmSettings.h"
#include "bench/app/AlarmFloodWatch.h"
#include "bench/app/ForgedSenders.h"
#include "app/system/TerminationSignal.h"
#include "app/shell/VelmoraDlg.h"
#include "db/DBManager.h"
#include "db/Setup.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/DateTime.h"
#include "foundation/UniqueID.h"
#include "mapview/BrowserEnvironment.h"

#include <QApplication>
#include <QTableWidget>
#include <QFile>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <QWebEnginePage>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora;
using namespace velmora::bench;

namespace {

constexpr int STORED_VEHICLES = 1000;
constexpr int MOVING_VEHICLES = 500;
constexpr int ALARM_VEHICLES = 2000;
constexpr int PANICS = 100;
constexpr int EVENT_KINDS = 14;

/// What the console tells the parent while it runs, in a shared file.
struct Progress {
    std::atomic<uint64_t> shown;        // moveTo calls the page ran
    std::atomic<int64_t> fleetShownMs;  // wall-clock ms when the fleet was on the page
    std::atomic<int64_t> peakRssKb;     // the console process, written at exit
    std::atomic<int64_t> browserRssKb;  // its browser processes, summed
    std::atomic<int> finished;
    std::atomic<int> flooding;          // the parent floods: lateness is sampled
    std::atomic<int64_t> guiP99Us;      // the timer's lateness, written at exit
    std::atomic<uint64_t> refused;      // the admission's count, written at exit
    std::atomic<int> alarmRun;          // set before the console starts: 1 watch alarms, 2 the flood's
    std::atomic<int> alarmsShown;       // the queue's rows, written at exit
};

/// Peak RSS of pid and of every process below it.
long long treePeakRssKb(pid_t root) {
    long long total = peakRssKb(root);
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return total;
    }
    std::vector<std::pair<pid_t, pid_t>> parents;
    while (dirent* entry = ::readdir(proc)) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0) {
            continue;
        }
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        const size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        int ppid = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) == 2) {
            parents.emplace_back(pid, ppid);
        }
    }
    ::closedir(proc);
    std::vector<pid_t> below = {root};
    for (size_t i = 0; i < below.size(); ++i) {
        for (const auto& [pid, ppid] : parents) {
            if (ppid == below[i]) {
                below.push_back(pid);
                total += peakRssKb(pid);
            }
        }
    }
    return total;
}

// ---- the console side ---------------------------------------------------

/// Watches the page from inside the console process: wraps the page's
/// moveTo and sortVehicleList (in this process only; the shipped page has no
/// such hook) and collects, every 20 ms, when each fix was run.
class PageObserver : public QObject {
public:
    PageObserver(VelmoraDlg& window, Progress& progress) : m_window(window), m_progress(progress) {
        connect(&m_poll, &QTimer::timeout, this, &PageObserver::poll);
    }

    /// Call right after the page has loaded, before the console sends it
    /// the fleet (the page-loaded message is handled later).
    void install() {
        m_window.getHost().getPage()->runJavaScript(QStringLiteral(
            "window.__bench = {moves: [], sorted: 0};"
            "(function () {"
            " var move = moveTo, sort = sortVehicleList;"
            " moveTo = function () {"
            "  var r = move.apply(this, arguments);"
            "  __bench.moves.push(Number(arguments[2]), performance.timeOrigin + performance.now());"
            "  return r; };"
            " sortVehicleList = function () {"
            "  var r = sort.apply(this, arguments);"
            "  if (!__bench.sorted) __bench.sorted = performance.timeOrigin + performance.now();"
            "  return r; };"
            "})(); true"));
        m_poll.start(20);
    }

    void poll() {
        if (m_busy) {
            return;
        }
        m_busy = true;
        m_window.getHost().getPage()->runJavaScript(
            QStringLiteral("(function () { var r = __bench.moves; __bench.moves = []; return [__bench.sorted, r]; })()"),
            [this](const QVariant& value) {
                m_busy = false;
                const QVariantList answer = value.toList();
                if (answer.size() != 2) {
                    return;
                }
                const double sorted = answer[0].toDouble();
                if (sorted > 0 && m_progress.fleetShownMs.load() == 0) {
                    m_progress.fleetShownMs.store(static_cast<int64_t>(sorted));
                }
                const QVariantList moves = answer[1].toList();
                for (int i = 0; i + 1 < moves.size(); i += 2) {
                    m_moves.emplace_back(moves[i].toLongLong(), moves[i + 1].toDouble());
                }
                m_progress.shown.store(m_moves.size());
            });
    }

    const std::vector<std::pair<long long, double>>& moves() const { return m_moves; }

private:
    VelmoraDlg& m_window;
    Progress& m_progress;
    QTimer m_poll;
    bool m_busy = false;
    std::vector<std::pair<long long, double>> m_moves;
};

/// A 10 ms timer on the window's thread; how late it fires while the
/// parent floods says how long the thread was kept from its events.
class LatenessProbe : public QObject {
public:
    explicit LatenessProbe(Progress& progress) : m_progress(progress) {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &LatenessProbe::tick);
        m_timer.start(INTERVAL_MS);
    }

    void tick() {
        const auto now = std::chrono::steady_clock::now();
        if (m_progress.flooding.load() != 0 && m_last.time_since_epoch().count() != 0) {
            const double late =
                std::chrono::duration<double, std::micro>(now - m_last).count() - INTERVAL_MS * 1000.0;
            m_lateUs.push_back(std::max(0.0, late));
        }
        m_last = now;
    }

    double p99Us() {
        if (m_lateUs.empty()) {
            return 0;
        }
        std::sort(m_lateUs.begin(), m_lateUs.end());
        return m_lateUs[static_cast<size_t>(0.99 * static_cast<double>(m_lateUs.size() - 1))];
    }

private:
    static constexpr int INTERVAL_MS = 10;
    Progress& m_progress;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_last{};
    std::vector<double> m_lateUs;
};

int runConsole(int argc, char** argv, const std::string& directory, const std::string& progressPath) {
    TerminationSignal::blockEarly();
    Progress* progress = mapShared<Progress>(progressPath, false);
    if (progress == nullptr || ::chdir(directory.c_str()) != 0) {
        return 2;
    }
    BrowserEnvironment::prepare(false);
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    VelmoraDlg window(QString::fromStdString(directory));
    PageObserver observer(window, *progress);
    LatenessProbe probe(*progress);
    TerminationSignal stop;
    QObject::connect(&stop, &TerminationSignal::requested, &window, &VelmoraDlg::closeWithoutQuestion);
    if (!window.create()) {
        return 3;
    }
    // When each alarm's row was first drawn in the queue and when its sound
    // started, by the vehicle number in its name.
    std::map<long long, std::array<double, 2>> alarms;
    double lastSound = 0;
    std::unique_ptr<AlarmFloodWatch> floodWatch;
    if (progress->alarmRun.load() == 2) {
        floodWatch = std::make_unique<AlarmFloodWatch>(window);
    }
    if (progress->alarmRun.load() == 1) {
        AlarmPanel* panel = window.getAlarms();
        const auto number = [](const Alarm* alarm) {
            return std::atoll(alarm->vehicleName.c_str() + std::strlen("Vehicle "));
        };
        QObject::connect(&panel->getBell(), &AlarmBell::played, [&lastSound] { lastSound = nowMs(); });
        QObject::connect(panel, &AlarmPanel::alarmRaised, [&alarms, &lastSound, panel, number] {
            const Alarm* newest = nullptr;
            for (const Alarm* alarm : panel->getBook().ordered()) {
                if (newest == nullptr || alarm->id > newest->id) {
                    newest = alarm;
                }
            }
            alarms[number(newest)][1] = lastSound;
        });
        QObject::connect(panel, &AlarmPanel::redrawn, [&alarms, panel, number] {
            const double at = nowMs();
            for (int row = 0; row < panel->getTable()->rowCount(); ++row) {
                const Alarm* alarm = panel->getBook().find(panel->getTable()->item(row, 0)->data(Qt::UserRole).toInt());
                if (alarm != nullptr && alarms[number(alarm)][0] == 0) {
                    alarms[number(alarm)][0] = at;
                }
            }
        });
    }
    window.initialise();
    // The page is made by initialise(); it loads once the event loop runs.
    // Connected after the host's own handler: the page-loaded message it
    // posts is handled after this script has been queued.
    QObject::connect(window.getHost().getPage(), &QWebEnginePage::loadFinished, &observer,
                     [&observer](bool ok) {
                         if (ok) {
                             observer.install();
                         }
                     });
    if (floodWatch) {
        QObject::connect(window.getHost().getPage(), &QWebEnginePage::loadFinished, floodWatch.get(),
                         [watch = floodWatch.get()](bool ok) {
                             if (ok) {
                                 watch->start();
                             }
                         });
    }
    window.show();
    window.exec();
    if (progress->alarmRun.load() == 2) {
        floodWatch->write(directory + "/alarmflood.txt");
    }
    if (progress->alarmRun.load() == 1) {
        progress->alarmsShown.store(window.getAlarms()->getTable()->rowCount());
        std::ofstream alarmTimes(directory + "/alarms.txt");
        for (const auto& [number, times] : alarms) {
            alarmTimes << number << ' ' << static_cast<long long>(times[0] * 1000.0) << ' '
                       << static_cast<long long>(times[1] * 1000.0) << '\n';
        }
    }

    std::ofstream out(directory + "/moves.txt");
    for (const auto& [seq, at] : observer.moves()) {
        out << seq << ' ' << static_cast<long long>(at * 1000.0) << '\n';
    }
    out.close();
    progress->guiP99Us.store(static_cast<int64_t>(probe.p99Us()));
    progress->refused.store(window.getAdmission().getRefusedTotal());
    const long long own = peakRssKb(::getpid());
    progress->peakRssKb.store(own);
    progress->browserRssKb.store(treePeakRssKb(::getpid()) - own);
    progress->finished.store(1);
    return 0;
}

// ---- the parent side ----------------------------------------------------

void prepareDirectory(const std::string& directory, int port, int vehicleCount) {
    std::filesystem::copy(std::string(VELMORA_IMAGES_PARENT) + "/images", directory + "/images",
                          std::filesystem::copy_options::recursive);
    Setup::getInstance().open((directory + "/setup.db").c_str());
    Setup::getInstance().getDatabase().setInt(Setup::KEY_PORT, port);
    Setup::getInstance().close();
    // The stored fleet, written by the console's own records and writer.
    DBManager& manager = DBManager::getInstance();
    manager.open((directory + "/app.db").c_str(), 5000);
    VehicleInfoContainer& vehicles = VehicleInfoContainer::getInstance();
    for (int n = 0; n < vehicleCount; ++n) {
        UniqueID id;
        UniqueID::parse(idOf(n).c_str(), id);
        VehicleInfo* record = vehicles.create(id, "Vehicle " + std::to_string(n), "2026-01-31 17:05:09");
        char coordinate[32];
        std::snprintf(coordinate, sizeof coordinate, "%.6f", 47.30 + (n % 40) * 0.004);
        record->setLastUpdatedLatitude(coordinate);
        std::snprintf(coordinate, sizeof coordinate, "%.6f", 8.45 + (n / 40) * 0.006);
        record->setLastUpdatedLongitude(coordinate);
        while (!record->insert(vehicles)) {
            // The queue is full: the writer takes it in batches.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    manager.shutdown();
    vehicles.clear();
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

const DateTime FIX_TIME(2026, 1, 31, 12, 0, 0);

/// One fix of vehicle n; seq is carried in the speed field, so the page's
/// moveTo says which send it was.
std::string fixText(int n, long long seq) {
    const double t = static_cast<double>(seq) / MOVING_VEHICLES;
    const double lat = 47.30 + (n % 40) * 0.004 + 0.001 * std::sin(t / 5.0);
    const double lng = 8.45 + (n / 40) * 0.006 + 0.001 * std::cos(t / 5.0);
    const double latMinutes = (lat - std::floor(lat)) * 60.0;
    const double lngMinutes = (lng - std::floor(lng)) * 60.0;
    char text[512];
    std::snprintf(text, sizeof text,
                  "Vehicle %d,100,0, ,GPS,1,%d,%d, ,0, ,%s,$GPRMC,120000,A,%02d%07.4f,N,%03d%07.4f,E,%lld.00,%d.0,"
                  "310126,,",
                  n, FIX_TIME.getDate().getValue(), FIX_TIME.getTime().getValue(), idOf(n).c_str(),
                  static_cast<int>(lat), latMinutes, static_cast<int>(lng), lngMinutes, seq,
                  static_cast<int>(seq % 360));
    return text;
}

long long countRows(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    long long count = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            count = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

std::string runPageBaseline() {
    FILE* page = ::popen(VELMORA_BENCH_PAGE " 2>/dev/null", "r");
    if (page == nullptr) {
        return "page: not run";
    }
    std::string line, last;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, page) != nullptr) {
        line = buffer;
        if (line.rfind("page:", 0) == 0) {
            last = line.substr(0, line.find('\n'));
        }
    }
    ::pclose(page);
    return last.empty() ? "page: failed" : last;
}

/// The console child on a prepared working directory, started and waited
/// for until its page shows the stored fleet.
struct RunningConsole {
    std::string directory;
    int port = 0;
    Progress* progress = nullptr;
    pid_t pid = -1;
    double startupMs = 0;

    bool start(const char* self, const char* pattern, int vehicles = STORED_VEHICLES, int alarmRun = 0,
               const std::function<void(const std::string&)>& prepare = {}) {
        directory = (std::filesystem::temp_directory_path() / pattern).string();
        if (::mkdtemp(directory.data()) == nullptr) {
            std::perror("mkdtemp");
            return false;
        }
        port = freePort();
        prepareDirectory(directory, port, vehicles);
        if (prepare) {
            prepare(directory);
        }
        const std::string progressPath = directory + "/progress";
        progress = mapShared<Progress>(progressPath, true);
        if (progress == nullptr) {
            std::perror("progress");
            return false;
        }
        progress->alarmRun.store(alarmRun);
        const double startMs = nowMs();
        pid = ::fork();
        if (pid == 0) {
            ::execl(self, self, "--console", directory.c_str(), progressPath.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        while (progress->fleetShownMs.load() == 0) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid || nowMs() - startMs > 60000) {
                std::fprintf(stderr, "the console did not show its fleet\n");
                ::kill(pid, SIGKILL);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        startupMs = static_cast<double>(progress->fleetShownMs.load()) - startMs;
        return true;
    }

    /// Waits (10 s at most) until the page has run the sent fixes.
    void drain(long long sent) const {
        const double drainStart = nowMs();
        while (static_cast<long long>(progress->shown.load()) < sent && nowMs() - drainStart < 10000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    /// Sends SIGTERM and waits for the console to end; the milliseconds
    /// that took.
    double stop() const {
        const double signalAt = nowMs();
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const double tookMs = nowMs() - signalAt;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || progress->finished.load() == 0) {
            std::fprintf(stderr, "the console did not end cleanly (status %d)\n", status);
        }
        return tookMs;
    }

    /// Send-to-page times of the fixes the page ran, from their send times
    /// (by sequence number); shown gets how many it ran.
    std::vector<double> fixLatencies(const std::vector<double>& sentAt, long long& shown) const {
        std::vector<double> latencies;
        latencies.reserve(sentAt.size());
        shown = 0;
        std::ifstream moves(directory + "/moves.txt");
        long long seq = 0, atUs = 0;
        while (moves >> seq >> atUs) {
            ++shown;
            if (seq >= 0 && seq < static_cast<long long>(sentAt.size())) {
                latencies.push_back(static_cast<double>(atUs) / 1000.0 - sentAt[static_cast<size_t>(seq)]);
            }
        }
        return latencies;
    }
};

int runParent(const char* self, double seconds, long long window, int vehicles) {
    std::printf("%s\n", runPageBaseline().c_str());
    std::fflush(stdout);

    RunningConsole run;
    if (!run.start(self, "velmora-bench-app-XXXXXX", vehicles)) {
        return 1;
    }
    const std::string& directory = run.directory;
    const int port = run.port;
    Progress* progress = run.progress;
    const double startupMs = run.startupMs;

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    std::vector<double> sentAt;
    sentAt.reserve(200000);
    const double sendStart = nowMs();
    long long sent = 0;
    while (nowMs() - sendStart < seconds * 1000.0) {
        if (sent - static_cast<long long>(progress->shown.load()) >= window) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const std::string text = fixText(static_cast<int>(sent % MOVING_VEHICLES), sent);
        sentAt.push_back(nowMs());
        if (::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
            std::perror("sendto");
            break;
        }
        ++sent;
    }
    const double sendMs = nowMs() - sendStart;
    // Let the page catch up with what is on its way, then stop the console.
    run.drain(sent);
    ::close(fd);
    run.stop();

    const long long stored = countRows(directory + "/app.db", "select count(*) from gps_data");
    long long shown = 0;
    const double p99 = p99Of(run.fixLatencies(sentAt, shown));
    std::printf("console: sent=%lld stored=%lld shown=%lld gps_per_s=%.0f p99_ms=%.1f startup_ms=%.0f "
                "peak_rss_mb=%.0f browser_rss_mb=%.0f vehicles=%d\n",
                sent, stored, shown, sendMs > 0 ? static_cast<double>(sent) / (sendMs / 1000.0) : 0.0, p99,
                startupMs, static_cast<double>(progress->peakRssKb.load()) / 1024.0,
                static_cast<double>(progress->browserRssKb.load()) / 1024.0, vehicles);
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return stored == sent && shown == sent ? 0 : 1;
}

/// Sends fixes of vehicle ids never seen before, as fast as one socket
/// goes, until stop; counts them.
void floodNewIds(int port, const std::atomic<bool>& stop, std::atomic<long long>& sent) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    long long n = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        const std::string text = fixText(STORED_VEHICLES + static_cast<int>(n % 100000000), n);
        if (::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) {
            ++n;
            sent.store(n, std::memory_order_relaxed);
        }
    }
    ::close(fd);
}

int runFlood(const char* self, double seconds) {
    RunningConsole run;
    if (!run.start(self, "velmora-bench-flood-XXXXXX")) {
        return 1;
    }
    const std::string& directory = run.directory;
    const int port = run.port;
    Progress* progress = run.progress;

    progress->flooding.store(1);
    std::atomic<bool> stopFlood{false};
    std::atomic<long long> floodSent{0};
    std::thread flood(floodNewIds, port, std::cref(stopFlood), std::ref(floodSent));
    // Vehicle 0 of the stored fleet: 10 fixes a second from its own socket.
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    long long knownSent = 0;
    const double floodStart = nowMs();
    auto next = std::chrono::steady_clock::now();
    while (nowMs() - floodStart < seconds * 1000.0) {
        const std::string text = fixText(0, knownSent);
        if (::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) {
            ++knownSent;
        }
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
    ::close(fd);
    const double floodMs = nowMs() - floodStart;
    const long long sentAtStop = floodSent.load();
    // The signal arrives while the flood goes on.
    const double sigtermMs = run.stop();
    stopFlood.store(true);
    flood.join();
    const long long vehicles = countRows(directory + "/app.db", "select count(*) from vehicle_info");
    const std::string knownQuery = "select count(*) from gps_data where vehicle_id = '" + idOf(0) + "'";
    const long long knownStored = countRows(directory + "/app.db", knownQuery.c_str());
    std::printf("flood: sent=%lld per_s=%.0f admitted=%lld refused=%llu known_sent=%lld known_stored=%lld "
                "peak_rss_mb=%.0f gui_p99_ms=%.1f sigterm_ms=%.0f\n",
                sentAtStop, floodMs > 0 ? static_cast<double>(sentAtStop) / (floodMs / 1000.0) : 0.0,
                vehicles - STORED_VEHICLES, static_cast<unsigned long long>(progress->refused.load()), knownSent,
                knownStored, static_cast<double>(progress->peakRssKb.load()) / 1024.0,
                static_cast<double>(progress->guiP99Us.load()) / 1000.0, sigtermMs);
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return knownStored * 100 >= knownSent * 99 && sigtermMs < 2000 ? 0 : 1;
}

/// A panic of vehicle n: an event of kind 13.
std::string panicText(int n) {
    char text[256];
    std::snprintf(text, sizeof text, "Vehicle %d,13,0, ,PANIC,1,%d,%d, ,0, ,%s", n, FIX_TIME.getDate().getValue(),
                  FIX_TIME.getTime().getValue(), idOf(n).c_str());
    return text;
}

int runAlarms(const char* self, double seconds, long long window) {
    RunningConsole run;
    if (!run.start(self, "velmora-bench-alarms-XXXXXX", ALARM_VEHICLES, 1)) {
        return 1;
    }
    Progress* progress = run.progress;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(run.port));
    const auto send = [&](const std::string& text) {
        return ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
    };
    std::vector<double> fixSentAt;
    std::vector<double> panicSentAt(ALARM_VEHICLES, 0.0);
    const double start = nowMs();
    const double panicEveryMs = seconds * 1000.0 / (PANICS + 1);
    int panics = 0;
    long long sent = 0;
    while (nowMs() - start < seconds * 1000.0) {
        if (panics < PANICS && nowMs() - start >= (panics + 1) * panicEveryMs) {
            // 100 different vehicles, spread over the fleet.
            const int n = (panics * 19) % ALARM_VEHICLES;
            panicSentAt[n] = nowMs();
            if (!send(panicText(n))) {
                std::perror("sendto");
                break;
            }
            ++panics;
            continue;
        }
        if (sent - static_cast<long long>(progress->shown.load()) >= window) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        fixSentAt.push_back(nowMs());
        if (!send(fixText(static_cast<int>(sent % ALARM_VEHICLES), sent))) {
            std::perror("sendto");
            break;
        }
        ++sent;
    }
    run.drain(sent);
    ::close(fd);
    run.stop();
    const std::string appDb = run.directory + "/app.db";
    const long long stored = countRows(appDb, "select count(*) from gps_data");
    const long long raised = countRows(appDb, "select count(*) from alarm_info");
    std::vector<double> toQueue, toSound;
    std::ifstream alarmTimes(run.directory + "/alarms.txt");
    long long number = 0, queuedUs = 0, soundUs = 0;
    while (alarmTimes >> number >> queuedUs >> soundUs) {
        if (number >= 0 && number < ALARM_VEHICLES && panicSentAt[static_cast<size_t>(number)] > 0) {
            const double sentAt = panicSentAt[static_cast<size_t>(number)];
            toQueue.push_back(static_cast<double>(queuedUs) / 1000.0 - sentAt);
            toSound.push_back(static_cast<double>(soundUs) / 1000.0 - sentAt);
        }
    }
    long long fixesShown = 0;
    const std::vector<double> fixLatencies = run.fixLatencies(fixSentAt, fixesShown);
    const int shown = progress->alarmsShown.load();
    const double p99Queue = p99Of(toQueue);
    std::printf("alarms: raised=%lld shown=%d p99_alarm_to_queue_ms=%.1f p99_alarm_to_sound_ms=%.1f fixes_lost=%lld "
                "fixes_sent=%lld fix_p99_ms=%.1f\n",
                raised, shown, p99Queue, p99Of(toSound), sent - stored, sent, p99Of(fixLatencies));
    std::error_code ignored;
    std::filesystem::remove_all(run.directory, ignored);
    return raised == PANICS && shown == PANICS && p99Queue < 200 && stored == sent ? 0 : 1;
}

constexpr int FLOOD_SENDERS = 100;

/// Datagrams the kernel dropped at port for a full receive queue.
long long udpDrops(int port) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);
    long long drops = 0;
    while (std::getline(in, line)) {
        char local[64] = {};
        unsigned long long dropped = 0;
        // sl local remote st queues tr:when retrnsmt uid timeout inode ref pointer drops
        if (std::sscanf(line.c_str(), "%*s %63s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu", local, &dropped) == 2) {
            const char* colon = std::strchr(local, ':');
            if (colon != nullptr && std::strtol(colon + 1, nullptr, 16) == port) {
                drops += static_cast<long long>(dropped);
            }
        }
    }
    return drops;
}
constexpr int KNOWN_PANICS = 10;

/// A device message of kind for id, with tail after the id when not empty.
std::string deviceText(const std::string& name, int kind, const std::string& id, const char* title,
                       const std::string& tail) {
    char text[512];
    std::snprintf(text, sizeof text, "%s,%d,0, ,%s,1,%d,%d, ,0, ,%s%s%s", name.c_str(), kind, title,
                  FIX_TIME.getDate().getValue(), FIX_TIME.getTime().getValue(), id.c_str(),
                  tail.empty() ? "" : ",", tail.c_str());
    return text;
}

/// Each of the forged senders in turn: a fix of a vehicle id it never sent
/// before, somewhere over the stored fleet, then one event of every kind
/// of that id; until stop.
void floodAlarms(const ForgedSenders& senders, const std::atomic<bool>& stop, std::atomic<long long>& sent) {
    long long n = 0;
    for (long long round = 0; !stop.load(std::memory_order_relaxed); ++round) {
        for (int s = 0; s < senders.size() && !stop.load(std::memory_order_relaxed); ++s) {
            const int number = 10000000 + s * 100000 + static_cast<int>(round % 100000);
            const std::string id = idOf(number);
            const std::string name = "Flood " + std::to_string(s) + "." + std::to_string(round);
            char sentence[128];
            std::snprintf(sentence, sizeof sentence, "$GPRMC,120000,A,47%07.4f,N,008%07.4f,E,0.00,0.0,310126,,",
                          18.0 + static_cast<double>(round % 40) * 0.24, 27.0 + static_cast<double>(s % 25) * 0.36);
            n += senders.send(s, deviceText(name, 100, id, "GPS", sentence)) ? 1 : 0;
            for (int kind = 0; kind < EVENT_KINDS; ++kind) {
                n += senders.send(s, deviceText(name, kind, id, "ALARM", "")) ? 1 : 0;
            }
            sent.store(n, std::memory_order_relaxed);
        }
    }
}

int runAlarmFlood(const char* self, double seconds) {
    RunningConsole run;
    // Every kind an alarm: each admitted vehicle can hold one open alarm
    // of each.
    const auto everyKindAnAlarm = [](const std::string& directory) {
        Setup::getInstance().open((directory + "/setup.db").c_str());
        for (int kind = 0; kind < EVENT_KINDS; ++kind) {
            Setup::getInstance().getDatabase().setInt(AlarmSettings::key(kind).c_str(), kind == 13 ? 1 : 2);
        }
        Setup::getInstance().close();
    };
    if (!run.start(self, "velmora-bench-alarmflood-XXXXXX", STORED_VEHICLES, 2, everyKindAnAlarm)) {
        return 1;
    }
    ForgedSenders senders(FLOOD_SENDERS, run.port);
    run.progress->flooding.store(1);
    std::atomic<bool> stopFlood{false};
    std::atomic<long long> floodSent{0};
    std::thread flood(floodAlarms, std::cref(senders), std::cref(stopFlood), std::ref(floodSent));

    // Stored vehicles 0 to 9: one panic each at a random time of the run.
    std::mt19937 random(28);
    std::uniform_real_distribution<double> when(500.0, seconds * 1000.0 - 1000.0);
    std::vector<std::pair<double, int>> panics;
    for (int n = 0; n < KNOWN_PANICS; ++n) {
        panics.emplace_back(when(random), n);
    }
    std::sort(panics.begin(), panics.end());
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(run.port));
    std::vector<double> panicSentAt(KNOWN_PANICS, 0.0);
    const double start = nowMs();
    for (const auto& [atMs, n] : panics) {
        while (nowMs() - start < atMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const std::string text = panicText(n);
        panicSentAt[static_cast<size_t>(n)] = nowMs();
        ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    while (nowMs() - start < seconds * 1000.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
    const long long sentAtStop = floodSent.load();
    const long long dropped = udpDrops(run.port);
    const double sigtermMs = run.stop();
    stopFlood.store(true);
    flood.join();

    const long long vehicles = countRows(run.directory + "/app.db", "select count(*) from vehicle_info");
    std::ifstream seen(run.directory + "/alarmflood.txt");
    std::string what;
    std::vector<double> toQueue, pageMs;
    long long folded = 0;
    while (seen >> what) {
        if (what == "shown") {
            long long number = 0, atMs = 0;
            seen >> number >> atMs;
            if (number >= 0 && number < KNOWN_PANICS && panicSentAt[static_cast<size_t>(number)] > 0) {
                toQueue.push_back(static_cast<double>(atMs) - panicSentAt[static_cast<size_t>(number)]);
            }
        } else if (what == "folded") {
            seen >> folded;
        } else if (what == "page") {
            double ms = 0;
            seen >> ms;
            pageMs.push_back(ms);
        }
    }
    const int shown = static_cast<int>(toQueue.size());
    const double p99Queue = p99Of(toQueue);
    const double p99Page = p99Of(pageMs);
    const double peakMb = static_cast<double>(run.progress->peakRssKb.load()) / 1024.0;
    std::printf("alarmflood: senders=%d sent=%lld admitted=%lld folded_rows=%lld known_panics=%d known_shown=%d "
                "p99_known_panic_to_queue_ms=%.1f page_p99_ms=%.1f peak_rss_mb=%.0f sigterm_ms=%.0f\n",
                senders.size(), sentAtStop, vehicles - STORED_VEHICLES, folded, KNOWN_PANICS, shown, p99Queue,
                p99Page, peakMb, sigtermMs);
    // What the kernel dropped never reached the console, a known panic
    // among it now and then.
    std::fprintf(stderr, "alarmflood: the kernel dropped %lld datagrams at the port; gui_p99_ms=%.1f\n", dropped,
                 static_cast<double>(run.progress->guiP99Us.load()) / 1000.0);
    std::error_code ignored;
    std::filesystem::remove_all(run.directory, ignored);
    return shown == KNOWN_PANICS && p99Queue < 500 && p99Page < 1000 && peakMb < 600 && sigtermMs < 2000 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--console") == 0) {
        return runConsole(argc, argv, argv[2], argv[3]);
    }
    double seconds = 30;
    double floodSeconds = 20;
    double alarmSeconds = 20;
    double alarmFloodSeconds = 20;
    long long window = 200;
    int vehicles = STORED_VEHICLES;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--window") == 0) {
            window = std::atoll(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--vehicles") == 0) {
            // The moving vehicles are among the stored ones.
            vehicles = std::max(MOVING_VEHICLES, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--flood-seconds") == 0) {
            floodSeconds = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--alarm-seconds") == 0) {
            alarmSeconds = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--alarmflood-seconds") == 0) {
            alarmFloodSeconds = std::atof(argv[i + 1]);
        }
    }
    // --seconds 0 skips the console run, --flood-seconds 0 the flood,
    // --alarm-seconds 0 the alarms, --alarmflood-seconds 0 the alarm flood.
    const int console = seconds > 0 ? runParent(argv[0], seconds, window, vehicles) : 0;
    const int flood = floodSeconds > 0 ? runFlood(argv[0], floodSeconds) : 0;
    const int alarms = alarmSeconds > 0 ? runAlarms(argv[0], alarmSeconds, window) : 0;
    const int alarmFlood = alarmFloodSeconds > 0 ? runAlarmFlood(argv[0], alarmFloodSeconds) : 0;
    return console != 0 ? console : flood != 0 ? flood : alarms != 0 ? alarms : alarmFlood;
}
