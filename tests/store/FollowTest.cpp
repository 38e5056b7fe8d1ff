// The receiver follows what desks change in the store: vehicles deleted for
// good, the shared settings (admission rules, alarm priorities), admitted
// ids, closed alarms; and publishes the ids it refuses.

#include "tests/store/StoreFixture.h"
#include "tests/support/UdpSender.h"

#include "receiver/Receiver.h"
#include "store/ChangeFeed.h"
#include "store/PgTransaction.h"
#include "store/SharedSettings.h"

#include <filesystem>
#include <functional>
#include <thread>

using namespace velmora;

namespace {

const char* const A = "0a000000-0000-4000-8000-00000000000a";
const char* const B = "0b000000-0000-4000-8000-00000000000b";
const char* const DESK = "op@desk-1";

std::string message(const char* id, int kind)
{
    std::string text = std::string("Car,") + std::to_string(kind) + ",0, ,Title,0,131859729,863518, ,0, ," + id;
    if (kind == 100) {
        text += ",$GPRMC,134530,A,4722.614,N,00832.502,E,1,0,170512,,*00";
    }
    return text;
}

bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(15))
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

class FollowTest : public test::StoreFixture {
protected:
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::string spoolPath()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-follow-XXXXXX").string();
        m_folder = mkdtemp(pattern.data()) != nullptr ? pattern : "";
        return m_folder + "/spool.db";
    }

    /// A desk's change: the rows and their feed entry, one transaction.
    void deskChange(const std::string& sql, const std::vector<PgConnection::Param>& params, const char* kind,
                    const std::string& key)
    {
        PgTransaction transaction(m_store);
        m_store.query(sql, params);
        ChangeFeed::append(m_store, kind, key, DESK);
        ChangeFeed::notify(m_store, kind);
        transaction.commit();
    }

    int64_t rows(const std::string& sql) { return number(sql); }

    std::string m_folder;
};

} // namespace

TEST_F(FollowTest, DesksChangesReachTheReceiverThroughTheFeed)
{
    Receiver::Options options;
    options.conninfo = conninfo();
    options.port = 0;
    options.spoolPath = spoolPath();
    Receiver receiver(options);
    std::string problem;
    ASSERT_TRUE(receiver.start(problem)) << problem;
    ASSERT_TRUE(eventually([&] { return receiver.getCounters().connects.load() > 0; }));
    test::UdpSender device(receiver.getBoundPort());

    ASSERT_TRUE(device.send(message(A, 100)));
    ASSERT_TRUE(eventually([&] { return rows("SELECT COUNT(*) FROM vehicle_info") == 1; }));

    // Deleted for good at a desk: the id is new again, its next fix makes it.
    deskChange("DELETE FROM vehicle_info WHERE id = $1", {A}, ChangeFeed::VEHICLE_DELETED, A);
    EXPECT_TRUE(eventually([&] {
        device.send(message(A, 100));
        return rows("SELECT COUNT(*) FROM vehicle_info") == 1;
    }));

    // Known vehicles only, and kind 5 an alarm of priority 2.
    SharedSettings::Values values = SharedSettings::load(m_store);
    values.admission.knownOnly = true;
    values.priorities[5] = 2;
    SharedSettings::store(m_store, values, DESK);
    ASSERT_TRUE(eventually([&] { return receiver.getAdmission().knownOnly; }));
    ASSERT_TRUE(device.send(message(A, 5)));
    EXPECT_TRUE(eventually([&] { return rows("SELECT COUNT(*) FROM alarm_info WHERE event_type = 5") == 1; }));
    EXPECT_EQ(value("SELECT priority FROM alarm_info WHERE event_type = 5"), "2");

    // A new id is refused now, and listed for the desks.
    EXPECT_TRUE(eventually([&] {
        device.send(message(B, 100));
        return rows(std::string("SELECT COUNT(*) FROM admission_candidate WHERE vehicle_id = '") + B + "'") == 1;
    }));
    EXPECT_EQ(rows(std::string("SELECT COUNT(*) FROM vehicle_info WHERE id = '") + B + "'"), 0);

    // A desk admits it: its next fix makes it.
    deskChange("INSERT INTO admission_decision (vehicle_id, decision, decided_by) VALUES ($1, 'admit', $2)",
               {B, DESK}, ChangeFeed::ADMISSION, B);
    EXPECT_TRUE(eventually([&] {
        device.send(message(B, 100));
        return rows(std::string("SELECT COUNT(*) FROM vehicle_info WHERE id = '") + B + "'") == 1;
    }));

    // A desk closes the alarm: the same kind again opens a new one.
    deskChange("UPDATE alarm_info SET acknowledged = now(), acknowledged_by = 'op', closed = now(), "
               "closed_by = 'op', notes = 'done' WHERE event_type = $1",
               {5}, ChangeFeed::ALARM, "1");
    ASSERT_TRUE(device.send(message(A, 5)));
    EXPECT_TRUE(eventually([&] { return rows("SELECT COUNT(*) FROM alarm_info WHERE event_type = 5") == 2; }));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM alarm_info WHERE closed IS NULL"), 1);
    receiver.stop();
}
