// bench_desk: the console's display against what it takes in.
//
// desks: a control room on this machine. A local cluster holds a fleet of
// --vehicles (5,000) vehicles; the real velmora-receiver takes their fixes,
// each vehicle one a second, for --seconds (60), and --desks (2) real desks
// (velmora --store: the real VelmoraDlg in desk mode, started as children of
// this program with an observer that watches their pages from inside) follow
// the store. 100 vehicles press their panic button during the run and desk 1
// acknowledges each alarm as soon as its queue shows it; the other desks
// watch their queues for the acknowledgement.
//   desks: desks= vehicles= fixes_per_s= stored= lost= p99_fix_to_desk_ms=
//          p99_ack_to_other_desk_ms= desk_rss_mb= gui_p99_ms= baseline_feed_p99_ms=
// p99_fix_to_desk_ms runs from a fix's datagram to the desk's page having
// moved the marker to it or a newer fix of the vehicle, over every desk;
// p99_ack_to_other_desk_ms from desk 1's acknowledge to another desk's queue
// showing it; desk_rss_mb is the largest desk's peak resident size (its
// browser's helper processes not counted); gui_p99_ms the largest desk's
// 99th percentile of a 10 ms timer's lateness on the window's thread. The
// baseline is a plain follower of the feed in this process (no window): a
// fix's datagram to its row being read from the feed.
// Goals: lost = 0, both p99s < 1,000 ms, desk_rss_mb < 600, gui_p99_ms < 100.
//
// console (variant fleet): the single desk with --console-vehicles (10,000)
// stored vehicles, all moving, offered --console-rate (20,000) fixes a
// second for --console-seconds (30), open loop (sent at that pace whatever
// the console does), then stopped with SIGTERM.
//   console: variant=fleet vehicles= offered_per_s= sent= stored= dropped=
//            p99_ms= gui_p99_ms= frames= peak_rss_mb=
// p99_ms runs from a fix's datagram to the page having run the move to it or
// a newer fix of the vehicle. Goals: stored = sent, p99_ms < 250.
//
// history: the event log's first page over --history-events (5,000,000)
// events in the store, through the desks' reader (count and page 1 of every
// event, then of one vehicle, then the last page), against the same search
// over the same rows in an app.db.
//   history: events= first_page_ms= vehicle_first_page_ms= last_page_ms=
//            sqlite_first_page_ms=
//
// usage: bench_desk [--desks N] [--vehicles N] [--seconds N] [--console-seconds N]
//                   [--console-vehicles N] [--console-rate N] [--history-events N]
//        (a 0 skips a run; under an X server:
//         xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/app/bench_desk)

#include "bench/support/ChildProcess.h"
#include "support/PgCluster.h"
#include "support/ReceiverProcess.h"

#include "app/alarms/AlarmPanel.h"
#include "app/desk/DeskHistory.h"
#include "app/shell/VelmoraDlg.h"
#include "app/system/TerminationSignal.h"
#include "db/DBManager.h"
#include "db/Setup.h"
#include "db/SqliteHistoryReader.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/DateTime.h"
#include "foundation/UniqueID.h"
#include "mapview/BrowserEnvironment.h"
#include "store/ChangeFeed.h"
#include "store/FeedReader.h"
#include "store/PgConnection.h"
#include "store/PgHistoryReader.h"
#include "store/PgTransaction.h"
#include "store/StoreSchema.h"
#include "store/StoreText.h"

#include <QApplication>
#include <QTableWidget>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <QWebEnginePage>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using namespace velmora::bench;

namespace {

constexpr int PANICS = 100;
/// Seconds a page is given to settle after it showed the fleet.
constexpr int SETTLE_SECONDS = 5;

/// What a child tells the parent while it runs, in a shared file.
struct Progress {
    std::atomic<int64_t> fleetShownMs; // wall-clock ms when the fleet was on the page
    std::atomic<uint64_t> shown;       // moves the page ran
    std::atomic<int64_t> peakRssKb;    // written at exit
    std::atomic<int64_t> guiP99Us;     // written at exit
    std::atomic<uint64_t> dropped;     // the single desk's intake, written at exit
    std::atomic<uint64_t> frames;      // frames sent to the page, written at exit
    std::atomic<int> measuring;        // the parent sends: lateness is sampled
    std::atomic<int> finished;
};

/// A vehicle's home: a grid around Zurich, 40 a row.
void homeOf(int n, double& latitude, double& longitude) {
    latitude = 47.30 + (n % 40) * 0.004;
    longitude = 8.45 + (n / 40) * 0.006;
}

const DateTime FIX_TIME(2026, 1, 31, 12, 0, 0);

/// One fix of vehicle n; seq rides in the speed field, so the page's moveTo
/// says which send it was.
std::string fixText(int n, long long seq) {
    double latitude = 0;
    double longitude = 0;
    homeOf(n, latitude, longitude);
    const double t = static_cast<double>(seq) / 5000.0;
    latitude += 0.001 * std::sin(t / 5.0);
    longitude += 0.001 * std::cos(t / 5.0);
    const double latMinutes = (latitude - std::floor(latitude)) * 60.0;
    const double lngMinutes = (longitude - std::floor(longitude)) * 60.0;
    char text[512];
    std::snprintf(text, sizeof text,
                  "Vehicle %d,100,0, ,GPS,1,%d,%d, ,0, ,%s,$GPRMC,120000,A,%02d%07.4f,N,%03d%07.4f,E,%lld.00,%d.0,"
                  "310126,,",
                  n, FIX_TIME.getDate().getValue(), FIX_TIME.getTime().getValue(), idOf(n).c_str(),
                  static_cast<int>(latitude), latMinutes, static_cast<int>(longitude), lngMinutes, seq,
                  static_cast<int>(seq % 360));
    return text;
}

std::string panicText(int n) {
    char text[256];
    std::snprintf(text, sizeof text, "Vehicle %d,13,0, ,PANIC,1,%d,%d, ,0, ,%s", n, FIX_TIME.getDate().getValue(),
                  FIX_TIME.getTime().getValue(), idOf(n).c_str());
    return text;
}

class Sender {
public:
    explicit Sender(int port) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        m_to.sin_family = AF_INET;
        m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_to.sin_port = htons(static_cast<uint16_t>(port));
        const int size = 8 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    ~Sender() { ::close(m_fd); }
    bool send(const std::string& text) const {
        return ::sendto(m_fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&m_to), sizeof m_to) >= 0;
    }

private:
    int m_fd;
    sockaddr_in m_to{};
};

// ---- inside a console child ---------------------------------------------

/// Watches the page from inside the console: wraps the page's moveTo and
/// sortVehicleList (in this process only) and collects, every 20 ms, which
/// send each move was and when it ran.
class PageObserver : public QObject {
public:
    PageObserver(VelmoraDlg& window, Progress& progress) : m_window(window), m_progress(progress) {
        connect(&m_poll, &QTimer::timeout, this, &PageObserver::poll);
    }

    void install() {
        m_window.getHost().getPage()->runJavaScript(QStringLiteral(
            "window.__bench = {moves: [], sorted: 0, moveMs: 0, updateMs: 0};"
            "(function () {"
            " var move = moveTo, sort = sortVehicleList, update = updateVehicle;"
            " moveTo = function () {"
            "  var t0 = performance.now();"
            "  var r = move.apply(this, arguments);"
            "  var t1 = performance.now();"
            "  __bench.moveMs += t1 - t0;"
            "  __bench.moves.push(Number(arguments[2]), performance.timeOrigin + t1);"
            "  return r; };"
            " updateVehicle = function () {"
            "  var t0 = performance.now();"
            "  var r = update.apply(this, arguments);"
            "  __bench.updateMs += performance.now() - t0;"
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
            QStringLiteral("(function () { var r = __bench.moves; __bench.moves = [];"
                           " return [__bench.sorted, r, __bench.moveMs, __bench.updateMs]; })()"),
            [this](const QVariant& value) {
                m_busy = false;
                const QVariantList answer = value.toList();
                if (answer.size() != 4) {
                    return;
                }
                m_moveMs = answer[2].toDouble();
                m_updateMs = answer[3].toDouble();
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
    /// Time the page spent in its moveTo and updateVehicle functions.
    double getMoveMs() const { return m_moveMs; }
    double getUpdateMs() const { return m_updateMs; }

private:
    VelmoraDlg& m_window;
    double m_moveMs = 0;
    double m_updateMs = 0;
    Progress& m_progress;
    QTimer m_poll;
    bool m_busy = false;
    std::vector<std::pair<long long, double>> m_moves;
};

/// A 10 ms timer on the window's thread; how late it fires while the parent
/// sends says how long the thread was kept from its events.
class LatenessProbe : public QObject {
public:
    explicit LatenessProbe(Progress& progress) : m_progress(progress) {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (m_progress.measuring.load() != 0 && m_last.time_since_epoch().count() != 0) {
                m_lateUs.push_back(
                    std::max(0.0, std::chrono::duration<double, std::micro>(now - m_last).count() - 10000.0));
            }
            m_last = now;
        });
        m_timer.start(10);
    }
    double p99Us() { return p99Of(m_lateUs); }

private:
    Progress& m_progress;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_last{};
    std::vector<double> m_lateUs;
};

/// A console child: the single desk on directory, or (conninfo given) a
/// desk of the store; role "ack" acknowledges every alarm its queue shows,
/// "watch" notes when its queue shows an alarm acknowledged.
int runChild(int argc, char** argv, const std::string& directory, const std::string& progressPath,
             const std::string& conninfo, const std::string& role) {
    TerminationSignal::blockEarly();
    Progress* progress = mapShared<Progress>(progressPath, false);
    if (progress == nullptr || ::chdir(directory.c_str()) != 0) {
        return 2;
    }
    BrowserEnvironment::prepare(false);
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    VelmoraDlg window(QString::fromStdString(directory));
    if (!conninfo.empty()) {
        window.setStore(conninfo);
    }
    PageObserver observer(window, *progress);
    LatenessProbe probe(*progress);
    TerminationSignal stop;
    QObject::connect(&stop, &TerminationSignal::requested, &window, &VelmoraDlg::closeWithoutQuestion);
    if (!window.create()) {
        return 3;
    }
    std::map<int32_t, double> acknowledged; // alarm id -> when asked (ack) or seen (watch)
    AlarmPanel* panel = window.getAlarms();
    QObject::connect(panel, &AlarmPanel::redrawn, [&acknowledged, panel, &role] {
        for (const Alarm* alarm : panel->getBook().ordered()) {
            if (acknowledged.count(alarm->id) != 0) {
                continue;
            }
            if (role == "ack" && !alarm->isAcknowledged()) {
                acknowledged[alarm->id] = nowMs();
                panel->acknowledge(alarm->id);
            } else if (role == "watch" && alarm->isAcknowledged()) {
                acknowledged[alarm->id] = nowMs();
            }
        }
    });
    window.initialise();
    // The page is made by initialise() (at a desk once it has the store's
    // settings); it loads once the event loop runs.
    QObject::connect(window.getHost().getPage(), &QWebEnginePage::loadFinished, &observer, [&observer](bool ok) {
        if (ok) {
            observer.install();
        }
    });
    window.show();
    window.exec();

    std::ofstream alarms(directory + "/alarms.txt");
    for (const auto& [id, at] : acknowledged) {
        alarms << id << ' ' << static_cast<long long>(at * 1000.0) << '\n';
    }
    std::ofstream out(directory + "/moves.txt");
    for (const auto& [seq, at] : observer.moves()) {
        out << seq << ' ' << static_cast<long long>(at * 1000.0) << '\n';
    }
    out.close();
    std::fprintf(stderr, "%s: the page spent %.0f ms in moveTo and %.0f ms in updateVehicle for %zu moves\n",
                 role.c_str(), observer.getMoveMs(), observer.getUpdateMs(), observer.moves().size());
    progress->guiP99Us.store(static_cast<int64_t>(probe.p99Us()));
    progress->dropped.store(window.getIntakeQueue().getDropped());
    progress->frames.store(window.getFrames().getFrameCount());
    progress->peakRssKb.store(peakRssKb(::getpid()));
    progress->finished.store(1);
    return 0;
}

// ---- the parent ---------------------------------------------------------

int freeUdpPort() {
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

/// A console child started on its own directory, waited for until its
/// page shows the fleet.
struct Child {
    std::string directory;
    Progress* progress = nullptr;
    pid_t pid = -1;

    bool start(const char* self, const std::string& dir, const std::string& conninfo, const std::string& role) {
        directory = dir;
        const std::string progressPath = directory + "/progress";
        progress = mapShared<Progress>(progressPath, true);
        if (progress == nullptr) {
            return false;
        }
        std::filesystem::copy(std::string(VELMORA_IMAGES_PARENT) + "/images", directory + "/images",
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
        pid = ::fork();
        if (pid == 0) {
            // Each child its own single-instance folder.
            ::setenv("TMPDIR", directory.c_str(), 1);
            ::setenv("VELMORA_DESK", (role == "ack" ? "desk-1" : "desk-" + std::to_string(::getpid())).c_str(), 1);
            ::execl(self, self, "--child", directory.c_str(), progressPath.c_str(), conninfo.c_str(), role.c_str(),
                    static_cast<char*>(nullptr));
            _exit(127);
        }
        return true;
    }

    bool waitShown(double limitMs) const {
        const double from = nowMs();
        while (progress->fleetShownMs.load() == 0) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid || nowMs() - from > limitMs) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    void stop() const {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || progress->finished.load() == 0) {
            std::fprintf(stderr, "a console did not end cleanly (status %d)\n", status);
        }
    }

    /// Per vehicle, the sends the page moved to, with when, in order.
    std::map<int, std::vector<std::pair<long long, double>>> moves(int vehicles) const {
        std::map<int, std::vector<std::pair<long long, double>>> byVehicle;
        std::ifstream in(directory + "/moves.txt");
        long long seq = 0;
        long long atUs = 0;
        while (in >> seq >> atUs) {
            byVehicle[static_cast<int>(seq % vehicles)].emplace_back(seq, static_cast<double>(atUs) / 1000.0);
        }
        return byVehicle;
    }

    std::map<int32_t, double> alarms() const {
        std::map<int32_t, double> times;
        std::ifstream in(directory + "/alarms.txt");
        int32_t id = 0;
        long long atUs = 0;
        while (in >> id >> atUs) {
            times[id] = static_cast<double>(atUs) / 1000.0;
        }
        return times;
    }
};

/// From each send to the first page move to it or a newer fix of its
/// vehicle; sends never shown count as the time to the end of the run.
std::vector<double> fixLatencies(const Child& child, const std::vector<double>& sentAt, int vehicles, double endMs,
                                 size_t& unseen) {
    const auto shown = child.moves(vehicles);
    std::vector<double> latencies;
    latencies.reserve(sentAt.size());
    for (size_t seq = 0; seq < sentAt.size(); ++seq) {
        const auto found = shown.find(static_cast<int>(seq % static_cast<size_t>(vehicles)));
        double at = endMs;
        if (found != shown.end()) {
            // The first move at or after this send; moves of one vehicle come in send order.
            const auto& list = found->second;
            const auto next = std::lower_bound(list.begin(), list.end(), std::make_pair(static_cast<long long>(seq), 0.0));
            if (next != list.end()) {
                at = next->second;
            } else {
                ++unseen;
            }
        } else {
            ++unseen;
        }
        latencies.push_back(at - sentAt[seq]);
    }
    return latencies;
}

long long countRows(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    long long count = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
            count = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

std::string tempDirectory(const char* pattern) {
    std::string directory = (std::filesystem::temp_directory_path() / pattern).string();
    return ::mkdtemp(directory.data()) != nullptr ? directory : std::string();
}

/// A plain follower of the feed: when each sampled fix (its seq in the
/// sentence's speed) was first read.
class FeedFollower {
public:
    explicit FeedFollower(const std::string& conninfo) : m_thread([this, conninfo] { run(conninfo); }) {}
    ~FeedFollower() {
        m_stop = true;
        m_thread.join();
    }
    std::map<long long, double> seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    void run(const std::string& conninfo) {
        PgConnection connection;
        try {
            connection.open(conninfo, "bench feed");
            connection.listen(ChangeFeed::CHANNEL);
            int64_t position = FeedReader::currentPosition(connection);
            FeedReader::Options options;
            options.newestFixPerVehicle = false;
            options.events = false;
            while (!m_stop) {
                connection.waitForInput(100);
                connection.takeNotices();
                const FeedReader::Changes changes = FeedReader::read(connection, position, options);
                position = changes.next;
                const double at = nowMs();
                std::lock_guard<std::mutex> lock(m_mutex);
                for (const StoredFix& fix : changes.fixes) {
                    // ...,E,<seq>.00,...
                    const size_t east = fix.sentence.find(",E,");
                    if (east != std::string::npos) {
                        m_seen.emplace(std::atoll(fix.sentence.c_str() + east + 3), at);
                    }
                }
            }
        } catch (const Exception& e) {
            std::fprintf(stderr, "feed follower: %s\n", e.getMessage());
        }
    }

    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::map<long long, double> m_seen;
    std::thread m_thread;
};

/// The 99th percentile of each fifth of a run's latencies, on stderr: a
/// run that fell behind shows it growing.
void printP99ByFifth(const std::vector<double>& latencies) {
    for (int part = 0; part < 5; ++part) {
        const size_t from = latencies.size() * static_cast<size_t>(part) / 5;
        const size_t to = latencies.size() * static_cast<size_t>(part + 1) / 5;
        std::fprintf(stderr, " %.0f", p99Of(std::vector<double>(latencies.begin() + static_cast<std::ptrdiff_t>(from),
                                                                latencies.begin() + static_cast<std::ptrdiff_t>(to))));
    }
    std::fprintf(stderr, " ms\n");
}

int runDesks(const char* self, int desks, int vehicles, int seconds) {
    test::PgCluster cluster({"fsync=off", "synchronous_commit=off", "shared_buffers=128MB", "max_connections=40"});
    if (!cluster.isUp()) {
        std::fprintf(stderr, "no cluster: %s\n", cluster.why().c_str());
        return 1;
    }
    const std::string database = cluster.createDatabase();
    const std::string conninfo = cluster.conninfo(database);
    const std::string folder = tempDirectory("velmora-bench-desks-XXXXXX");
    {
        // The fleet the receiver and the desks know, each at its home.
        PgConnection store;
        store.open(conninfo, "bench");
        StoreSchema::migrate(store, "bench");
        PgTransaction transaction(store);
        for (int n = 0; n < vehicles; ++n) {
            double latitude = 0;
            double longitude = 0;
            homeOf(n, latitude, longitude);
            store.query("INSERT INTO vehicle_info (id, name, last_updated_time, last_updated_latitude, "
                        "last_updated_longitude) VALUES ($1, $2, now(), $3::float8, $4::float8)",
                        {idOf(n), "Vehicle " + std::to_string(n), std::to_string(latitude), std::to_string(longitude)});
        }
        transaction.commit();
    }
    test::ReceiverProcess receiver({"--store", conninfo, "--port", "0", "--spool", folder + "/spool.db"},
                                   folder + "/receiver.log");
    const int port = receiver.port();
    if (port == 0) {
        std::fprintf(stderr, "the receiver did not start: %s\n", receiver.log().c_str());
        return 1;
    }
    std::vector<Child> children(static_cast<size_t>(desks));
    for (int d = 0; d < desks; ++d) {
        const std::string directory = folder + "/desk" + std::to_string(d + 1);
        std::filesystem::create_directories(directory);
        if (!children[static_cast<size_t>(d)].start(self, directory, conninfo, d == 0 ? "ack" : "watch")) {
            return 1;
        }
    }
    for (const Child& child : children) {
        if (!child.waitShown(120000)) {
            std::fprintf(stderr, "a desk did not show its fleet\n");
            return 1;
        }
    }
    // The pages settle first (the fleet fitted, the map's places drawn):
    // the run measures a desk at work, not one starting.
    std::this_thread::sleep_for(std::chrono::seconds(SETTLE_SECONDS));
    FeedFollower follower(conninfo);
    for (const Child& child : children) {
        child.progress->measuring.store(1);
    }

    // Every vehicle once a second: a fix every 1/(vehicles) s, sent in
    // small runs on a steady clock; the panics spread over the run.
    Sender sender(port);
    std::vector<double> sentAt;
    sentAt.reserve(static_cast<size_t>(vehicles) * static_cast<size_t>(seconds) + 16);
    const double rate = vehicles; // fixes a second
    const auto start = std::chrono::steady_clock::now();
    long long seq = 0;
    int panics = 0;
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= seconds) {
            break;
        }
        const long long due = static_cast<long long>(elapsed * rate);
        while (seq < due) {
            sentAt.push_back(nowMs());
            sender.send(fixText(static_cast<int>(seq % vehicles), seq));
            ++seq;
        }
        if (panics < PANICS && elapsed >= (panics + 1) * static_cast<double>(seconds) / (PANICS + 2)) {
            sender.send(panicText((panics * 53) % vehicles));
            ++panics;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double sendMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // What is on its way arrives, then everything stops.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double endMs = nowMs();
    const std::map<long long, double> fed = follower.seen();
    for (const Child& child : children) {
        child.progress->measuring.store(0);
        child.stop();
    }
    receiver.terminate(std::chrono::milliseconds(10000));
    long long stored = -1;
    try {
        PgConnection store;
        store.open(conninfo, "bench");
        stored = store.execute("SELECT COUNT(*) FROM gps_data").getInt64(0, 0);
    } catch (const Exception& e) {
        std::fprintf(stderr, "count: %s\n", e.getMessage());
    }

    std::vector<double> fixToDesk;
    size_t unseen = 0;
    double rssMb = 0;
    double guiMs = 0;
    for (const Child& child : children) {
        const std::vector<double> latencies = fixLatencies(child, sentAt, vehicles, endMs, unseen);
        fixToDesk.insert(fixToDesk.end(), latencies.begin(), latencies.end());
        rssMb = std::max(rssMb, static_cast<double>(child.progress->peakRssKb.load()) / 1024.0);
        guiMs = std::max(guiMs, static_cast<double>(child.progress->guiP99Us.load()) / 1000.0);
    }
    std::vector<double> ackToOther;
    const std::map<int32_t, double> asked = children.front().alarms();
    for (size_t d = 1; d < children.size(); ++d) {
        const std::map<int32_t, double> seen = children[d].alarms();
        for (const auto& [id, at] : asked) {
            const auto found = seen.find(id);
            ackToOther.push_back((found != seen.end() ? found->second : endMs) - at);
        }
    }
    std::vector<double> feedLatencies;
    for (const auto& [number, at] : fed) {
        if (number >= 0 && number < static_cast<long long>(sentAt.size())) {
            feedLatencies.push_back(at - sentAt[static_cast<size_t>(number)]);
        }
    }
    std::printf("desks: desks=%d vehicles=%d fixes_per_s=%.0f stored=%lld lost=%lld p99_fix_to_desk_ms=%.0f "
                "p99_ack_to_other_desk_ms=%.0f desk_rss_mb=%.0f gui_p99_ms=%.1f baseline_feed_p99_ms=%.0f\n",
                desks, vehicles, static_cast<double>(seq) / (sendMs / 1000.0), stored, seq - stored, p99Of(fixToDesk),
                p99Of(ackToOther), rssMb, guiMs, p99Of(feedLatencies));
    std::fprintf(stderr, "desks: %zu sends never shown; %zu alarms acknowledged at desk 1, %d panics sent;"
                         " p99 by fifth of the run:", unseen, asked.size(), panics);
    printP99ByFifth(fixToDesk);
    std::fflush(stdout);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return stored == seq ? 0 : 1;
}

/// A single desk's working directory whose app.db holds the fleet.
void prepareConsole(const std::string& directory, int port, int vehicles) {
    Setup::getInstance().open((directory + "/setup.db").c_str());
    Setup::getInstance().getDatabase().setInt(Setup::KEY_PORT, port);
    Setup::getInstance().close();
    DBManager& manager = DBManager::getInstance();
    manager.open((directory + "/app.db").c_str(), 5000);
    VehicleInfoContainer& fleet = VehicleInfoContainer::getInstance();
    for (int n = 0; n < vehicles; ++n) {
        UniqueID id;
        UniqueID::parse(idOf(n).c_str(), id);
        VehicleInfo* record = fleet.create(id, "Vehicle " + std::to_string(n), "2026-01-31 17:05:09");
        double latitude = 0;
        double longitude = 0;
        homeOf(n, latitude, longitude);
        char coordinate[32];
        std::snprintf(coordinate, sizeof coordinate, "%.6f", latitude);
        record->setLastUpdatedLatitude(coordinate);
        std::snprintf(coordinate, sizeof coordinate, "%.6f", longitude);
        record->setLastUpdatedLongitude(coordinate);
        while (!record->insert(fleet)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    manager.shutdown();
    fleet.clear();
}

int runConsole(const char* self, int vehicles, int rate, int seconds) {
    const std::string directory = tempDirectory("velmora-bench-fleet-XXXXXX");
    const int port = freeUdpPort();
    prepareConsole(directory, port, vehicles);
    Child console;
    if (!console.start(self, directory, "", "console") || !console.waitShown(120000)) {
        std::fprintf(stderr, "the console did not show its fleet\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(SETTLE_SECONDS));
    console.progress->measuring.store(1);
    Sender sender(port);
    std::vector<double> sentAt;
    sentAt.reserve(static_cast<size_t>(rate) * static_cast<size_t>(seconds) + 16);
    const auto start = std::chrono::steady_clock::now();
    long long seq = 0;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= seconds) {
            break;
        }
        const long long due = static_cast<long long>(elapsed * rate);
        while (seq < due) {
            sentAt.push_back(nowMs());
            sender.send(fixText(static_cast<int>(seq % vehicles), seq));
            ++seq;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double endMs = nowMs();
    console.progress->measuring.store(0);
    console.stop();
    const long long stored = countRows(directory + "/app.db", "select count(*) from gps_data");
    size_t unseen = 0;
    const std::vector<double> latencies = fixLatencies(console, sentAt, vehicles, endMs, unseen);
    std::printf("console: variant=fleet vehicles=%d offered_per_s=%d sent=%lld stored=%lld dropped=%llu p99_ms=%.0f "
                "gui_p99_ms=%.1f frames=%llu peak_rss_mb=%.0f\n",
                vehicles, rate, seq, stored, static_cast<unsigned long long>(console.progress->dropped.load()),
                p99Of(latencies), static_cast<double>(console.progress->guiP99Us.load()) / 1000.0,
                static_cast<unsigned long long>(console.progress->frames.load()),
                static_cast<double>(console.progress->peakRssKb.load()) / 1024.0);
    std::fprintf(stderr, "console: %zu sends never shown; p99 by fifth of the run:", unseen);
    printP99ByFifth(latencies);
    std::fflush(stdout);
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return stored == seq ? 0 : 1;
}

double timed(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int runHistory(int events) {
    test::PgCluster cluster({"fsync=off", "synchronous_commit=off", "shared_buffers=256MB", "max_connections=20"});
    if (!cluster.isUp()) {
        std::fprintf(stderr, "no cluster: %s\n", cluster.why().c_str());
        return 1;
    }
    const std::string conninfo = cluster.conninfo(cluster.createDatabase());
    const std::string folder = tempDirectory("velmora-bench-history-XXXXXX");
    {
        PgConnection store;
        store.open(conninfo, "bench");
        store.setCallTimeout(600000);
        StoreSchema::migrate(store, "bench");
        // 1,000 vehicles' events over 30 days, as the receiver writes them.
        store.query("INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id) "
                    "SELECT '10.0.0.1', 'Vehicle ' || (i % 1000), timestamptz '2026-01-01' + i * interval '500 ms', "
                    "i % 14, 'title', ('00000000-0000-4000-8000-' || lpad((i % 1000)::text, 12, '0'))::uuid "
                    "FROM generate_series(1, $1) AS i",
                    {events});
        store.execute("VACUUM ANALYZE event_info");
    }
    {
        // The same rows in an app.db.
        const std::string appDb = folder + "/app.db";
        DBManager::getInstance().open(appDb.c_str(), 5000);
        DBManager::getInstance().shutdown();
        sqlite3* db = nullptr;
        sqlite3_open(appDb.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id) "
                               "VALUES ('10.0.0.1', ?, ?, ?, 'title', ?)",
                           -1, &insert, nullptr);
        for (int i = 1; i <= events; ++i) {
            const std::string name = "Vehicle " + std::to_string(i % 1000);
            const std::string time = StoreText::formatTime(1767225600 + i / 2);
            const std::string id = idOf(i % 1000);
            sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, time.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 3, i % 14);
            sqlite3_bind_text(insert, 4, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        DBManager::getInstance().open(appDb.c_str(), 5000);
    }
    PgHistoryReader store(conninfo);
    std::vector<EventLog> rows;
    HistoryReader::EventFilter every;
    HistoryReader::EventFilter oneVehicle;
    oneVehicle.everything = false;
    oneVehicle.hasVehicle = UniqueID::parse(idOf(7).c_str(), oneVehicle.vehicle);
    // A first read opens the connection: the window's first page pays for it.
    auto pages = store.eventPages();
    const double first = timed([&] {
        pages->search(every);
        pages->loadPage(1, rows);
    });
    const double vehicle = timed([&] {
        pages->search(oneVehicle);
        pages->loadPage(1, rows);
    });
    const double last = timed([&] {
        pages->search(every);
        pages->loadPage(pages->getPageCount(), rows);
    });
    auto local = SqliteHistoryReader::getInstance().eventPages();
    const double sqliteFirst = timed([&] {
        local->search(every);
        local->loadPage(1, rows);
    });
    DBManager::getInstance().shutdown();
    std::printf("history: events=%d first_page_ms=%.0f vehicle_first_page_ms=%.0f last_page_ms=%.0f "
                "sqlite_first_page_ms=%.0f\n",
                events, first, vehicle, last, sqliteFirst);
    std::fflush(stdout);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return first < 1000 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0) {
        return runChild(argc, argv, argv[2], argv[3], argv[4], argv[5]);
    }
    int desks = 2;
    int vehicles = 5000;
    int seconds = 60;
    int consoleSeconds = 30;
    int consoleVehicles = 10000;
    int consoleRate = 20000;
    int historyEvents = 5000000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--desks") {
            desks = std::max(1, value);
        } else if (option == "--vehicles") {
            vehicles = value;
        } else if (option == "--seconds") {
            seconds = value;
        } else if (option == "--console-seconds") {
            consoleSeconds = value;
        } else if (option == "--console-vehicles") {
            consoleVehicles = value;
        } else if (option == "--console-rate") {
            consoleRate = value;
        } else if (option == "--history-events") {
            historyEvents = value;
        }
    }
    int result = 0;
    if (seconds > 0 && vehicles > 0) {
        result |= runDesks(argv[0], desks, vehicles, seconds);
    }
    if (consoleSeconds > 0 && consoleVehicles > 0) {
        result |= runConsole(argv[0], consoleVehicles, consoleRate, consoleSeconds);
    }
    if (historyEvents > 0) {
        result |= runHistory(historyEvents);
    }
    return result;
}
