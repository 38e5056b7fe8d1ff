// The real velmora-receiver under traffic while the store goes away and
// comes back, and stopped while it is away: nothing lost, nothing twice.

#include "tests/support/ReceiverProcess.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/UdpSender.h"

#include "store/StoreException.h"

#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <filesystem>

using namespace velmora;

namespace {

constexpr auto START_LIMIT = std::chrono::seconds(30);
/// SIGTERM must end the program within 2 s.
constexpr auto STOP_LIMIT = std::chrono::milliseconds(2000);

std::string fix(int vehicle, int sequence)
{
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", vehicle);
    return "Car " + std::to_string(vehicle) + ",100,0, ,GPS,0,131859729,863518, ,0, ," + id +
           ",$GPRMC,134530.000,A,4722.6140,N,00832.5020,E,0.0,0.0,170512,," + std::to_string(sequence) + "*00";
}

class ReceiverProcessTest : public test::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-receiver-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::vector<std::string> args() const
    {
        return {"--store", conninfo(), "--port", "0", "--spool", m_folder + "/spool.db"};
    }

    /// Rows the store holds, reconnecting when the cluster was restarted.
    int64_t storedCount(const std::string& sql)
    {
        try {
            if (!m_store.isOpen()) {
                m_store.open(conninfo(), "store_tests");
            }
            return m_store.execute(sql).getInt64(0, 0);
        } catch (const StoreException&) {
            m_store.close();
            return -1;
        }
    }

    bool waitForStored(int64_t count, std::chrono::seconds limit)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (storedCount("SELECT COUNT(*) FROM gps_data") < count) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }

    std::string m_folder;
};

} // namespace

TEST_F(ReceiverProcessTest, TrafficWhileTheStoreStopsAndStartsIsStoredOnceEach)
{
    test::ReceiverProcess receiver(args(), m_folder + "/receiver.log");
    ASSERT_TRUE(receiver.isStarted());
    ASSERT_TRUE(receiver.waitForLog("writing to the store", START_LIMIT)) << receiver.log();
    m_store.close();

    // 40 vehicles, 1,000 fixes a second for 8 s; the store is stopped from
    // the 2nd to the 5th second.
    constexpr int VEHICLES = 40;
    constexpr int TOTAL = 8000;
    std::atomic<int> sent{0};
    std::thread devices([&] {
        test::UdpSender device(receiver.port());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < TOTAL; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(1000LL * i));
            if (device.send(fix(i % VEHICLES, i))) {
                ++sent;
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(m_cluster->stop()) << m_cluster->why();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_TRUE(m_cluster->start()) << m_cluster->why();
    devices.join();
    ASSERT_EQ(sent.load(), TOTAL);

    EXPECT_TRUE(waitForStored(TOTAL, std::chrono::seconds(60)))
        << storedCount("SELECT COUNT(*) FROM gps_data") << " stored\n"
        << receiver.log();
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM gps_data"), TOTAL);
    EXPECT_EQ(storedCount("SELECT COUNT(DISTINCT gps_data) FROM gps_data"), TOTAL);
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM vehicle_info"), VEHICLES);
    const std::string log = receiver.log();
    EXPECT_NE(log.find("store unreachable"), std::string::npos) << log;
    EXPECT_NE(log.find("store reachable again"), std::string::npos) << log;
    EXPECT_EQ(receiver.terminate(STOP_LIMIT), 0) << receiver.log();
}

TEST_F(ReceiverProcessTest, AStopWhileTheStoreIsAwayKeepsWhatWasTakenForTheNextStart)
{
    constexpr int TOTAL = 600;
    {
        test::ReceiverProcess receiver(args(), m_folder + "/first.log");
        ASSERT_TRUE(receiver.waitForLog("writing to the store", START_LIMIT)) << receiver.log();
        m_store.close();
        ASSERT_TRUE(m_cluster->stop()) << m_cluster->why();
        test::UdpSender device(receiver.port());
        for (int i = 0; i < TOTAL; ++i) {
            ASSERT_TRUE(device.send(fix(i % 7, i)));
            if (i % 100 == 99) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(receiver.terminate(STOP_LIMIT), 0) << receiver.log();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, STOP_LIMIT);
        EXPECT_NE(receiver.log().find("spooled="), std::string::npos);
    }
    ASSERT_TRUE(m_cluster->start()) << m_cluster->why();
    test::ReceiverProcess again(args(), m_folder + "/second.log");
    ASSERT_TRUE(again.waitForLog("spooled batches first", START_LIMIT)) << again.log();
    EXPECT_TRUE(waitForStored(TOTAL, std::chrono::seconds(30))) << again.log();
    EXPECT_EQ(storedCount("SELECT COUNT(DISTINCT gps_data) FROM gps_data"), TOTAL);
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM gps_data"), TOTAL);
    EXPECT_EQ(again.terminate(STOP_LIMIT), 0) << again.log();
}

struct CommandRow {
    std::vector<std::string> args;
    int status;
    std::string said;
};

TEST(ReceiverCommandLine, AnswersAndRefusalsEndWithTheirStatus)
{
    std::string folder = (std::filesystem::temp_directory_path() / "velmora-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    // A port another socket holds.
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string busyPort = std::to_string(ntohs(address.sin_port));
    const std::string spool = folder + "/spool.db";
    const CommandRow rows[] = {
        {{"--help"}, 0, "usage: velmora-receiver"},
        {{"--version"}, 0, "velmora-receiver "},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"--port", "70000"}, 2, "--port must be between 0 and 65535"},
        {{"--port"}, 2, "--port needs a value"},
        {{"--spool-limit-mb", "0"}, 2, "--spool-limit-mb must be between"},
        {{"--store", "dbname=none", "--spool", spool, "--port", busyPort}, 1, "callback port " + busyPort},
        {{"--store", "dbname=none", "--spool", "/proc/no-such-folder/spool.db", "--port", "0"}, 1,
         "cannot be opened"},
    };
    for (const CommandRow& row : rows) {
        SCOPED_TRACE(row.args.front());
        test::ReceiverProcess program(row.args, folder + "/out.log");
        EXPECT_EQ(program.waitForExit(std::chrono::seconds(20)), row.status) << program.log();
        EXPECT_NE(program.log().find(row.said), std::string::npos) << program.log();
    }
    ::close(holder);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TEST_F(ReceiverProcessTest, ANewerStoreIsNotWrittenToAndAFullSpoolRefusesAndSaysSo)
{
    m_store.query("INSERT INTO schema_version (version, program) VALUES ($1, 'later')", {StoreSchema::VERSION + 1});
    std::vector<std::string> arguments = args();
    arguments.insert(arguments.end(), {"--spool-limit-mb", "1"});
    test::ReceiverProcess receiver(arguments, m_folder + "/receiver.log");
    ASSERT_TRUE(receiver.waitForLog("the store is not written to", START_LIMIT)) << receiver.log();
    ASSERT_TRUE(receiver.waitForLog("listening on port", START_LIMIT)) << receiver.log();
    EXPECT_NE(receiver.log().find("newer than this program knows"), std::string::npos) << receiver.log();
    // About 3 MB of fixes for a spool of 1 MB.
    test::UdpSender device(receiver.port());
    for (int i = 0; i < 30000; ++i) {
        ASSERT_TRUE(device.send(fix(i % 50, i)));
        if (i % 500 == 499) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_TRUE(receiver.waitForLog("is full", std::chrono::seconds(20))) << receiver.log();
    // How fast a receiver stops is the stop test's; here the refusals only
    // have to be counted in its last line, on however busy a machine.
    EXPECT_EQ(receiver.terminate(std::chrono::seconds(15)), 0) << receiver.log();
    const std::string log = receiver.log();
    const size_t refused = log.rfind("spool_refused_rows=");
    ASSERT_NE(refused, std::string::npos) << log;
    EXPECT_GT(std::atoll(log.c_str() + refused + 19), 0) << log;
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM gps_data"), 0);
    EXPECT_LE(std::filesystem::file_size(m_folder + "/spool.db"), 2u * 1024 * 1024);
}

TEST_F(ReceiverProcessTest, AReceiverStartedWhileTheStoreIsAwayJudgesByItsCopyOfTheFleet)
{
    const auto event = [](int vehicle, int kind) {
        char id[40];
        std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", vehicle);
        return "Car " + std::to_string(vehicle) + "," + std::to_string(kind) + ",0, ,Door,0,131859729,863518, ,0, ," +
               id;
    };
    {
        // Known vehicles only, and one vehicle the store knows.
        m_store.execute("UPDATE shared_setting SET value = '1' WHERE key = 'setup/AdmissionMode'");
        m_store.execute("INSERT INTO vehicle_info (id, name) VALUES ('00000000-0000-4000-8000-000000000001', 'Car 1')");
        test::ReceiverProcess receiver(args(), m_folder + "/first.log");
        ASSERT_TRUE(receiver.waitForLog("writing to the store", START_LIMIT)) << receiver.log();
        EXPECT_EQ(receiver.terminate(STOP_LIMIT), 0);
    }
    m_store.close();
    ASSERT_TRUE(m_cluster->stop());
    test::ReceiverProcess receiver(args(), m_folder + "/second.log");
    ASSERT_TRUE(receiver.waitForLog("store unreachable", START_LIMIT)) << receiver.log();
    ASSERT_TRUE(receiver.waitForLog("listening on port", START_LIMIT)) << receiver.log();
    test::UdpSender device(receiver.port());
    // The known vehicle's events are taken; an unknown one's fixes are not.
    ASSERT_TRUE(device.send(event(1, 3)));
    ASSERT_TRUE(device.send(fix(2, 1)));
    ASSERT_TRUE(device.send(event(1, 4)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(m_cluster->start());
    EXPECT_TRUE(receiver.waitForLog("reachable again", std::chrono::seconds(20))) << receiver.log();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (storedCount("SELECT COUNT(*) FROM event_info") < 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM event_info"), 2);
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM vehicle_info"), 1);
    EXPECT_EQ(storedCount("SELECT COUNT(*) FROM gps_data"), 0);
    EXPECT_EQ(receiver.terminate(STOP_LIMIT), 0) << receiver.log();
}
