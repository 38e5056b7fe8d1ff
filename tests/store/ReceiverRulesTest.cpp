// The watch rules in the receiver: datagrams in over UDP, the rules run
// against the receiver's own alarm book with the store's zones and shared
// settings, and each finding lands in the store as an event of the rule's
// kind and an alarm naming it, with the rule's text in its notes.

#include "tests/store/StoreFixture.h"
#include "tests/support/UdpSender.h"

#include "receiver/Receiver.h"
#include "rules/AlarmKinds.h"
#include "rules/Zone.h"
#include "store/PgTransaction.h"
#include "store/SharedSettings.h"
#include "store/ZoneTable.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

using namespace velmora;

namespace {

const char* const DATE = "131859729"; // 2012-05-17
const char* const TIME = "863518";    // 13:45:30

// The zone: 500 m round a square in Zurich.
constexpr double DEPOT_LAT = 47.3769;
constexpr double DEPOT_LNG = 8.5417;
const char* const AT_DEPOT = "4722.6140,N,00832.5020,E";
const char* const NEAR_DEPOT = "4722.7500,N,00832.5020,E"; // 250 m north
const char* const FAR_NORTH = "4730.0000,N,00832.5020,E";  // 13 km north

std::string fix(const char* id, const char* place, double knots)
{
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f", knots);
    return std::string("Truck,100,0, ,GPS,0,") + DATE + "," + TIME + ", ,0, ," + id + ",$GPRMC,134530.000,A," +
           place + "," + speed + ",0.0,170512,,";
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

/// One vehicle's fixes, and the rule alarms they must leave in the store:
/// kind, title, and the first words of each line of the notes.
struct Expected {
    int kind;
    std::string title;
    std::vector<std::string> noteStarts;
};
struct Row {
    const char* label;
    const char* vehicle;
    std::vector<std::pair<const char*, double>> fixes; // place, knots
    std::vector<Expected> alarms;
};

class ReceiverRulesTest : public test::StoreFixture {
protected:
    void TearDown() override
    {
        if (m_receiver) {
            m_receiver->stop();
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    void startReceiver()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-rules-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        Receiver::Options options;
        options.conninfo = conninfo();
        options.port = 0;
        options.spoolPath = m_folder + "/spool.db";
        m_receiver = std::make_unique<Receiver>(options);
        std::string problem;
        ASSERT_TRUE(m_receiver->start(problem)) << problem;
        ASSERT_TRUE(waitFor([&] { return m_receiver->getCounters().connects.load() > 0; }, std::chrono::seconds(20)));
        m_device = std::make_unique<test::UdpSender>(m_receiver->getBoundPort());
    }

    void storeDepot(int32_t id, const char* name)
    {
        Zone depot = Zone::circle(id, name, {DEPOT_LAT, DEPOT_LNG}, 500.0);
        depot.setAlarmOnExit(true);
        depot.setDwellSeconds(0);
        ZoneTable::store(m_store, depot, "ops@desk1");
    }

    /// The rule alarms of the vehicle in id order: kind, title, notes, and
    /// whether the event it names is its own kind's with the same title.
    std::vector<std::vector<std::string>> ruleAlarms(const char* vehicle)
    {
        const PgResult rows = m_store.query(
            "SELECT a.event_type, a.device_title, a.notes, "
            "(e.event_type = a.event_type AND e.device_title = a.device_title AND e.vehicle_id = a.vehicle_id) "
            "FROM alarm_info a LEFT JOIN event_info e ON e.id = a.event_id "
            "WHERE a.vehicle_id = $1 AND a.event_type >= 1000 ORDER BY a.id",
            {vehicle});
        std::vector<std::vector<std::string>> out;
        for (int r = 0; r < rows.getRowCount(); ++r) {
            out.push_back({rows.getString(r, 0), rows.getString(r, 1), rows.getString(r, 2),
                           rows.isNull(r, 3) ? "no event" : rows.getString(r, 3)});
        }
        return out;
    }

    std::string m_folder;
    std::unique_ptr<Receiver> m_receiver;
    std::unique_ptr<test::UdpSender> m_device;
};

} // namespace

TEST_F(ReceiverRulesTest, FindingsOfTheRulesAreStoredAsEventsAndAlarmsWithTheirNotes)
{
    storeDepot(1, "Depot");
    {
        PgTransaction transaction(m_store);
        SharedSettings::write(m_store, SharedSettings::KEY_SPEED_LIMIT, "50", "ops@desk1");
        SharedSettings::write(m_store, SharedSettings::KEY_SPEEDING_SECONDS, "0", "ops@desk1");
        transaction.commit();
    }
    startReceiver();

    const Row rows[] = {
        {"enters and leaves the zone",
         "00112233-4455-6677-8899-aabbccddee01",
         {{FAR_NORTH, 0}, {AT_DEPOT, 0}, {NEAR_DEPOT, 0}, {FAR_NORTH, 0}},
         {{AlarmKinds::ZONE_ENTRY, "Entered Depot", {"In zone Depot since"}},
          {AlarmKinds::ZONE_EXIT, "Left Depot", {"Out of zone Depot since"}}}},
        {"a speeding episode: one alarm, its end noted",
         "00112233-4455-6677-8899-aabbccddee02",
         {{FAR_NORTH, 43.2}, {FAR_NORTH, 45.0}, {FAR_NORTH, 10.0}},
         {{AlarmKinds::SPEEDING, "Speeding 80 km/h, limit 50 km/h", {"Above 50 km/h since", "Speeding ended at"}}}},
        {"a vehicle already inside raises no entry", "00112233-4455-6677-8899-aabbccddee03",
         {{AT_DEPOT, 0}, {NEAR_DEPOT, 0}, {AT_DEPOT, 0}}, {}},
        {"below the limit is no episode", "00112233-4455-6677-8899-aabbccddee04",
         {{FAR_NORTH, 26.0}, {FAR_NORTH, 26.9}}, {}},
    };
    for (const Row& row : rows) {
        for (const auto& [place, knots] : row.fixes) {
            ASSERT_TRUE(m_device->send(fix(row.vehicle, place, knots))) << row.label;
            // One fix after another, as a device sends them.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Everything is in once the speeding alarm has its second line.
    ASSERT_TRUE(waitFor(
        [&] {
            return value("SELECT COUNT(*) FROM alarm_info WHERE event_type = 1003 AND position(E'\\n' in notes) > 0") ==
                       "1" &&
                   value("SELECT COUNT(*) FROM alarm_info WHERE event_type = 1002") == "1";
        },
        std::chrono::seconds(20)))
        << m_receiver->counterLine();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const auto stored = ruleAlarms(row.vehicle);
        ASSERT_EQ(stored.size(), row.alarms.size());
        for (size_t i = 0; i < row.alarms.size(); ++i) {
            const Expected& want = row.alarms[i];
            EXPECT_EQ(stored[i][0], std::to_string(want.kind));
            EXPECT_EQ(stored[i][1], want.title);
            EXPECT_EQ(stored[i][3], "t") << "the alarm names its own event";
            // "2026-... rules: In zone Depot since ..." one line per note.
            std::vector<std::string> lines;
            size_t from = 0;
            for (size_t at; (at = stored[i][2].find('\n', from)) != std::string::npos; from = at + 1) {
                lines.push_back(stored[i][2].substr(from, at - from));
            }
            lines.push_back(stored[i][2].substr(from));
            ASSERT_EQ(lines.size(), want.noteStarts.size()) << stored[i][2];
            for (size_t k = 0; k < lines.size(); ++k) {
                const std::string author = std::string(" ") + AlarmBook::RULES_AUTHOR + ": ";
                const size_t text = lines[k].find(author);
                ASSERT_NE(text, std::string::npos) << lines[k];
                EXPECT_EQ(lines[k].substr(text + author.size(), want.noteStarts[k].size()), want.noteStarts[k]);
            }
        }
    }
    // The speeding alarm's priority is the rule kind's default; the zone's
    // events are in the log whether or not they are alarms.
    EXPECT_EQ(value("SELECT priority FROM alarm_info WHERE event_type = 1003"), "3");
    EXPECT_EQ(value("SELECT COUNT(*) FROM event_info WHERE event_type IN (1001, 1002, 1003)"), "3");
}

// A zone a desk draws while the receiver runs reaches it through the change
// feed; one it deletes stops alarming.
TEST_F(ReceiverRulesTest, ZonesFollowTheChangeFeed)
{
    startReceiver();
    const char* const vehicle = "00112233-4455-6677-8899-aabbccddee05";
    ASSERT_TRUE(m_device->send(fix(vehicle, FAR_NORTH, 0)));
    storeDepot(7, "Yard");
    // In and out until the receiver has the zone: its first fix after the
    // zone came only tells where the vehicle is.
    bool entered = waitFor(
        [&] {
            m_device->send(fix(vehicle, AT_DEPOT, 0));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            m_device->send(fix(vehicle, FAR_NORTH, 0));
            return value("SELECT COUNT(*) FROM alarm_info WHERE event_type = 1001 AND device_title = 'Entered Yard'") ==
                   "1";
        },
        std::chrono::seconds(20));
    ASSERT_TRUE(entered) << m_receiver->counterLine();

    ASSERT_TRUE(ZoneTable::remove(m_store, 7, "ops@desk1"));
    EXPECT_FALSE(ZoneTable::remove(m_store, 7, "ops@desk1"));
    // The deletion reaches the receiver within a follow of the feed (at its
    // notice, or two seconds at most); from then on a vehicle driving in
    // and out raises nothing, not even an event.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const char* const later = "00112233-4455-6677-8899-aabbccddee06";
    const uint64_t before = m_receiver->getCounters().storedFixes.load();
    for (int pass = 0; pass < 10; ++pass) {
        m_device->send(fix(later, FAR_NORTH, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_device->send(fix(later, AT_DEPOT, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(waitFor([&] { return m_receiver->getCounters().storedFixes.load() >= before + 20; }, std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(number(std::string("SELECT COUNT(*) FROM event_info WHERE vehicle_id = '") + later + "'"), 0);
}
