// The console end to end: the real program in a temporary working directory
// on an X server (ctest runs this suite under xvfb-run), device traffic from
// the simulator over real UDP, and what app.db holds afterwards.

#include "ConsoleProcess.h"

#include "db/Setup.h"
#include "tests/support/GermanLocale.h"
#include "tools/sim/FleetSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string ID_A = "6f1c2a7e-0b3d-4c55-9e1f-2a3b4c5d6e7f";
const std::string ID_B = "0a9b8c7d-6e5f-4a3b-8c1d-0e9f8a7b6c5d";
const std::string ID_C = "5e4d3c2b-1a09-4f8e-9d7c-6b5a49382716";
const std::string FIX_SANTA_CLARA = "$GPRMC,134530,A,3723.2475,N,12158.3416,W,0.13,309.62,120598,,*10";
const std::string FIX_MUNICH = "$GPRMC,134600,A,4807.0380,N,01131.0000,E,22.4,84.4,230394,,";

class Console : public ::testing::Test {
protected:
    void SetUp() override {
        copyImages(VELMORA_IMAGES_PARENT, dir.path());
        std::filesystem::create_directory(instance);
        port = freeUdpPort();
        writeSetup(port);
    }

    void writeSetup(int callbackPort) { writeSetupAt(dir.path(), callbackPort); }
    static void writeSetupAt(const std::string& directory, int callbackPort) {
        Setup::getInstance().open((directory + "/setup.db").c_str());
        Setup::getInstance().getDatabase().setInt(Setup::KEY_PORT, callbackPort);
        Setup::getInstance().close();
    }

    std::string appDb() const { return dir.file("app.db"); }

    /// Starts the console and waits until it listens.
    void startListening(ConsoleProcess& process) {
        process.start();
        ASSERT_TRUE(process.waitListening(port)) << process.log();
    }

    TempDir dir;
    std::string instance = dir.file("tmp");
    int port = 0;
    UdpSender sender;
};

} // namespace

// A fleet's traffic is stored as it came: one vehicle per first fix, every
// fix, event and optional information; after a restart the same vehicles
// go on, none twice.
TEST_F(Console, FleetTrafficIsStoredAndGoesOnAfterARestart) {
    FleetSimulator::Options options;
    options.vehicles = 10;
    options.seed = 21;
    options.intervalSeconds = 1;
    options.eventsPerMinute = 12;
    options.startEpoch = 1767225600;
    FleetSimulator fleet(options);

    ConsoleProcess console(dir.path(), instance);
    startListening(console);
    long long fixes = 0, events = 0, infos = 0;
    std::map<size_t, SimMessage> lastFix;
    for (int i = 0; i < 600; ++i) {
        const SimMessage m = fleet.next();
        ASSERT_TRUE(sender.send(port, m.text));
        fixes += m.kind == SimMessage::FIX;
        events += m.kind == SimMessage::EVENT;
        infos += m.kind == SimMessage::INFO;
        if (m.kind == SimMessage::FIX) {
            lastFix[m.vehicle] = m;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_GT(events, 10);
    ASSERT_EQ(infos, 10);
    ASSERT_EQ(console.terminate(), 0) << console.log();
    ASSERT_EQ(udpPortState(port).drops, 0);

    EXPECT_EQ(queryCount(appDb(), "select count(*) from vehicle_info where deleted=0"), 10);
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), fixes);
    EXPECT_EQ(queryCount(appDb(), "select count(*) from event_info"), events);
    for (size_t v = 0; v < fleet.vehicleCount(); ++v) {
        const SimVehicle& vehicle = fleet.vehicle(v);
        SCOPED_TRACE(vehicle.name);
        const Rows rows = queryRows(appDb(), "select name, company, driver, license, last_updated_latitude, "
                                             "last_updated_longitude from vehicle_info where id='" +
                                                 vehicle.id.toText() + "'");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], vehicle.name);
        EXPECT_EQ(rows[0][1], vehicle.info.at("Company"));
        EXPECT_EQ(rows[0][2], vehicle.info.at("Driver"));
        EXPECT_EQ(rows[0][3], vehicle.info.at("License"));
        // Six decimals with a dot, the last fix's position.
        EXPECT_EQ(rows[0][4].size() - rows[0][4].find('.'), 7u) << rows[0][4];
        EXPECT_NEAR(std::stod(rows[0][4]), lastFix.at(v).latitude, 2e-6);
        EXPECT_NEAR(std::stod(rows[0][5]), lastFix.at(v).longitude, 2e-6);
    }

    ConsoleProcess again(dir.path(), instance);
    startListening(again);
    long long more = 0;
    for (int i = 0; i < 100; ++i) {
        const SimMessage m = fleet.next();
        ASSERT_TRUE(sender.send(port, m.text));
        more += m.kind == SimMessage::FIX;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_EQ(again.terminate(), 0) << again.log();
    EXPECT_EQ(queryCount(appDb(), "select count(*) from vehicle_info"), 10);
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), fixes + more);
}

// Events of a vehicle never seen in a fix are stored nowhere; a vehicle the
// operator deleted stays deleted and unchanged, and its fixes are kept.
TEST_F(Console, UnknownVehiclesAreIgnoredAndDeletedOnesStaySilent) {
    {
        ConsoleProcess console(dir.path(), instance);
        startListening(console);
        ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
        ASSERT_TRUE(sender.send(port, fixDatagram("Van 2", ID_B, FIX_SANTA_CLARA)));
        ASSERT_EQ(console.terminate(), 0) << console.log();
    }
    // What a confirmed removal leaves in app.db.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(appDb().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, ("update vehicle_info set deleted=1 where id='" + ID_B + "'").c_str(), nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    ConsoleProcess console(dir.path(), instance);
    startListening(console);
    const std::string texts[] = {
        eventDatagram("Truck 1", ID_A, 13, "PANIC"),
        eventDatagram("Van 2", ID_B, 13, "PANIC"),
        eventDatagram("Ghost", ID_C, 0, "IN1"),
        infoDatagram("Ghost", ID_C, {{"Company", "Nobody"}}),
        fixDatagram("Van 2 moved", ID_B, FIX_MUNICH),
        infoDatagram("Van 2", ID_B, {{"Company", "Blue Cab Co."}}),
    };
    for (const std::string& text : texts) {
        ASSERT_TRUE(sender.send(port, text));
    }
    ASSERT_EQ(console.terminate(), 0) << console.log();

    EXPECT_EQ(queryText(appDb(), "select vehicle_id, name from event_info"), ID_A + "|Truck 1");
    EXPECT_EQ(queryCount(appDb(), "select count(*) from event_info"), 1);
    EXPECT_EQ(queryCount(appDb(), "select count(*) from vehicle_info where id='" + ID_C + "'"), 0);
    EXPECT_EQ(queryText(appDb(), "select name, deleted, last_updated_latitude, company from vehicle_info "
                                 "where id='" + ID_B + "'"),
              "Van 2|1|37.387458|");
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data where vehicle_id='" + ID_B + "'"), 2);
}

// A second copy asks the first for its window and ends at once, without
// touching app.db or the port; the first keeps receiving.
TEST_F(Console, ASecondCopyGivesWayToTheFirst) {
    ConsoleProcess first(dir.path(), instance);
    startListening(first);
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
    pollUntil([&] { return false; }, 300);
    const std::string before = readFile(appDb());
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        files.push_back(entry.path().filename().string());
    }

    // A window of the test's own covers the first console's.
    XDisplay display;
    ASSERT_TRUE(display.usable());
    std::vector<xcb_window_t> shown;
    ASSERT_TRUE(pollUntil([&] { return (shown = display.viewableNamed("Velmora")).size() == 1; }, 10000));
    const xcb_window_t cover = display.mapWindowOnTop();
    const auto above = [&display](xcb_window_t upper, xcb_window_t lower) {
        const std::vector<xcb_window_t> stack = display.stack();
        return std::find(stack.begin(), stack.end(), upper) > std::find(stack.begin(), stack.end(), lower);
    };
    ASSERT_TRUE(above(cover, shown[0]));

    ConsoleProcess second(dir.path(), instance, "second.log");
    second.start();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(second.waitExit(20000), 0) << second.log();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(first.waitForLog("a second copy asked for the window", 5000)) << first.log();
    EXPECT_TRUE(pollUntil([&] { return above(shown[0], cover); }, 5000)) << "the first window was not raised";
    EXPECT_FALSE(second.logHas("Starting thread")) << second.log();
    EXPECT_FALSE(second.logHas("listening on port")) << second.log();
    EXPECT_EQ(readFile(appDb()), before);
    std::vector<std::string> after;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        after.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, files);
    EXPECT_EQ(udpPortState(port).sockets, 1);

    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_MUNICH)));
    ASSERT_EQ(first.terminate(), 0) << first.log();
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), 2);
}

// SIGTERM in the middle of traffic closes without a question, exits 0 and
// keeps every datagram that reached the port before it. The stop waits for
// the intake to pass its own marker; an idle console, whose marker comes
// through at once, is gone well before the wait's time-out of 5 s
// (StopDrain::TIMEOUT_MS) would end it.
TEST_F(Console, SigtermDuringTrafficStoresEveryArrivedDatagram) {
    // 200 new vehicles from one address: more than one sender may add a
    // minute by default.
    Setup::getInstance().open(dir.file("setup.db").c_str());
    Setup::getInstance().getDatabase().setInt(Setup::KEY_NEW_PER_MINUTE, 1000);
    Setup::getInstance().close();
    FleetSimulator::Options options;
    options.vehicles = 200;
    options.seed = 8;
    options.eventsPerMinute = 0;
    options.infoIntervalSeconds = 0;
    options.startEpoch = 1767225600;
    FleetSimulator fleet(options);
    std::vector<std::string> fixes;
    while (fixes.size() < 20000) {
        const SimMessage m = fleet.next();
        if (m.kind == SimMessage::FIX) {
            fixes.push_back(m.text);
        }
    }

    ConsoleProcess console(dir.path(), instance);
    startListening(console);
    std::atomic<long long> sent{0};
    std::atomic<bool> stop{false};
    // About 2,000 fixes a second, until the console has gone.
    std::thread traffic([&] {
        UdpSender own;
        auto next = std::chrono::steady_clock::now();
        for (const std::string& text : fixes) {
            if (stop.load()) {
                break;
            }
            own.send(port, text);
            sent.fetch_add(1);
            next += std::chrono::microseconds(500);
            std::this_thread::sleep_until(next);
        }
    });
    pollUntil([&] { return sent.load() >= 3000; }, 20000);
    const long long dropped = udpPortState(port).drops;
    const long long sentBefore = sent.load();
    console.signal(SIGTERM);
    const int status = console.waitExit();
    stop.store(true);
    traffic.join();
    ASSERT_EQ(status, 0) << console.log();
    ASSERT_EQ(dropped, 0) << "the kernel dropped datagrams: they never arrived";
    EXPECT_FALSE(console.logHas("MessageBox: Are you sure to close?"));
    const long long stored = queryCount(appDb(), "select count(*) from gps_data");
    EXPECT_GE(stored, sentBefore);
    EXPECT_LE(stored, sent.load());

    ConsoleProcess idle(dir.path(), instance);
    startListening(idle);
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(idle.terminate(), 0) << idle.log();
    const auto stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled).count();
    EXPECT_LT(stopMs, 2000) << idle.log();
    EXPECT_FALSE(idle.logHas("did not drain")) << idle.log();
}

namespace {

long long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atoll(line.c_str() + 6);
        }
    }
    return 0;
}

} // namespace

constexpr long long FLOOD_PER_MS = 100;

// One sender floods the port with fixes of ever new vehicle ids, 100,000 a
// second, while a known vehicle sends twenty fixes a second; the stop signal
// comes during the flood. The flood adds no more vehicles than one sender
// may add in a minute, the console's memory stays flat, 99% of the known
// vehicle's fixes are stored, and the stop takes less than two seconds.
TEST_F(Console, AFloodOfNewIdsIsRefusedWithoutHarm) {
    ConsoleProcess console(dir.path(), instance);
    startListening(console);
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long long residentBefore = residentKb(console.pid());

    std::atomic<bool> stop{false};
    std::atomic<long long> flooded{0};
    std::thread flood([&] {
        UdpSender own;
        char id[64];
        auto tick = std::chrono::steady_clock::now();
        for (long long n = 0; !stop.load(); ++n) {
            std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012lld", n);
            if (own.send(port, fixDatagram("Ghost", id, FIX_MUNICH))) {
                flooded.fetch_add(1);
            }
            if ((n + 1) % FLOOD_PER_MS == 0) {
                tick += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(tick);
            }
        }
    });
    long long knownSent = 0;
    long long residentPeak = residentBefore;
    auto next = std::chrono::steady_clock::now();
    for (; knownSent < 100; ++knownSent) {
        ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
        residentPeak = std::max(residentPeak, residentKb(console.pid()));
        next += std::chrono::milliseconds(50);
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto signalled = std::chrono::steady_clock::now();
    console.signal(SIGTERM);
    const int status = console.waitExit();
    const auto stopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled).count();
    stop.store(true);
    flood.join();

    ASSERT_EQ(status, 0) << console.log();
    EXPECT_GT(flooded.load(), 20000) << "the flood was too slow to mean anything";
    EXPECT_LT(stopMs, 2000);
    EXPECT_LT(residentPeak - residentBefore, 150 * 1024) << "kB more during the flood";
    // Truck 1 counts as the sender's first new vehicle of the minute.
    const long long vehicles = queryCount(appDb(), "select count(*) from vehicle_info");
    EXPECT_GE(vehicles, 2);
    EXPECT_LE(vehicles, 60);
    // The flood is paced: a sender in a tight loop on the same machine
    // (half a million datagrams a second here) keeps the socket's queue
    // full, and the kernel drops what the console never saw, the known
    // vehicle's fixes among them, which says nothing about the console.
    const long long knownStored =
        queryCount(appDb(), "select count(*) from gps_data where vehicle_id = '" + ID_A + "'");
    EXPECT_GE(knownStored * 100, (knownSent + 1) * 99);
    EXPECT_TRUE(console.logHas("VelmoraDlg: intake refused=")) << console.log();
}

namespace {

struct ProblemRow {
    const char* name;
    std::function<void(const std::string& directory)> prepare;
    std::string expected;
};

} // namespace

// What keeps the console from doing its job is said in a message box that
// the operator sees on screen; the console runs on until it is stopped.
TEST_F(Console, ProblemsAreShownInMessageBoxes) {
    UdpPortHolder other;
    const ProblemRow rows[] = {
        {"callback port in use",
         [&](const std::string& directory) { writeSetupAt(directory, other.port()); },
         "Callback port " + std::to_string(other.port()) +
             " is in use by another program. Choose another port in Setup."},
        {"app.db is a directory",
         [](const std::string& directory) { std::filesystem::create_directory(directory + "/app.db"); },
         "The database app.db cannot be opened: unable to open database file. Vehicles are shown but not stored."},
        {"app.db is not a database",
         [](const std::string& directory) {
             std::ofstream(directory + "/app.db") << std::string(4096, 'x');
         },
         "The database app.db cannot be opened: file is not a database. Vehicles are shown but not stored."},
    };
    for (const ProblemRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir own;
        copyImages(VELMORA_IMAGES_PARENT, own.path());
        std::filesystem::create_directory(own.file("tmp"));
        writeSetupAt(own.path(), freeUdpPort());
        row.prepare(own.path());
        const int windowsBefore = viewableWindowsNamed("Velmora");
        ASSERT_GE(windowsBefore, 0) << "xwininfo does not answer";
        ConsoleProcess console(own.path(), own.file("tmp"));
        console.start();
        EXPECT_TRUE(console.waitForLog("MessageBox: " + row.expected)) << console.log();
        // The box is on screen over the main window.
        EXPECT_TRUE(pollUntil([&] { return viewableWindowsNamed("Velmora") == windowsBefore + 2; }, 10000))
            << viewableWindowsNamed("Velmora") << " windows named Velmora";
        EXPECT_TRUE(console.running());
        EXPECT_EQ(console.terminate(), 0) << console.log();
    }
}

// The console under a German locale still stores positions with a dot.
TEST_F(Console, GermanLocaleStoresDotNumbers) {
    GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    ConsoleProcess console(dir.path(), instance);
    console.environment = {{"LOCPATH", std::getenv("LOCPATH")}, {"LC_ALL", GermanLocale::NAME},
                           {"LANG", GermanLocale::NAME}};
    startListening(console);
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
    ASSERT_EQ(console.terminate(), 0) << console.log();
    EXPECT_EQ(queryText(appDb(), "select last_updated_latitude, last_updated_longitude from vehicle_info"),
              "37.387458|-121.972360");
    EXPECT_EQ(queryText(appDb(), "select update_time from gps_data"), "2026-01-31 17:05:09");
}

// On a monitor under 1024 x 620 the console says so in a stop box and ends
// once it is answered, leaving nothing behind: no data directory, no images
// link, no single-instance files.
TEST_F(Console, ASmallScreenIsRefused) {
    SmallXServer small(800, 600);
    ASSERT_FALSE(small.display().empty()) << "Xvfb did not start";
    XDisplay display(small.display());
    ASSERT_TRUE(display.usable());
    const std::string runtime = dir.file("run");
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string data = dir.file("fresh/data");
    ConsoleProcess console(dir.path(), instance);
    console.arguments = {"--data-dir", data};
    console.environment = {{"DISPLAY", small.display()}, {"XDG_RUNTIME_DIR", runtime}};
    console.start();
    EXPECT_TRUE(console.waitForLog("MessageBox: Bad resolution format or unsupported resolution.")) << console.log();
    std::vector<xcb_window_t> boxes;
    ASSERT_TRUE(pollUntil([&] { return (boxes = display.viewableNamed("Velmora")).size() == 1; }, 10000))
        << "no box captioned Velmora on screen";
    EXPECT_TRUE(pollUntil([&] { return display.redPixels(boxes[0]) > 50; }, 5000)) << "no stop icon";
    EXPECT_TRUE(console.running());

    display.pressReturn(boxes[0]);
    EXPECT_EQ(console.waitExit(10000), 0) << console.log();
    EXPECT_FALSE(console.logHas("listening on port"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("fresh")));
    EXPECT_TRUE(std::filesystem::is_empty(runtime));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(instance)) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"console.log"});
}
