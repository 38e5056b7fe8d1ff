#include "tests/store/StoreFixture.h"

#include "store/BatchWriter.h"
#include "store/ChangeFeed.h"
#include "store/FeedReader.h"
#include "store/PgTransaction.h"
#include "store/SharedSettings.h"
#include "store/StoreBatch.h"
#include "store/StoreText.h"

#include <set>

using namespace velmora;

namespace {

class FeedTest : public test::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        const int64_t today = StoreText::dayOfMicros(StoreText::nowMicros());
        StoreSchema::ensureFixDays(m_store, {today, today + 1});
    }

    static void addFix(PgConnection& connection, const UniqueID& vehicle, const std::string& sentence)
    {
        connection.query("INSERT INTO gps_data (gps_data, vehicle_id, received) VALUES ($1, $2, now())",
                         {sentence, vehicle.toText()});
    }

    static std::set<std::string> keys(const FeedReader::Changes& changes)
    {
        std::set<std::string> seen;
        for (const FeedReader::Entry& entry : changes.entries) {
            seen.insert(entry.key);
        }
        return seen;
    }

    static FeedReader::Options everything()
    {
        FeedReader::Options options;
        options.newestFixPerVehicle = false;
        return options;
    }
};

} // namespace

TEST_F(FeedTest, ARowCommittedLateWithALowerNumberIsNeverSkipped)
{
    PgConnection early;
    PgConnection late;
    early.open(conninfo(), "early");
    late.open(conninfo(), "late");
    int64_t position = FeedReader::currentPosition(m_store);
    const UniqueID first;
    const UniqueID second;

    PgTransaction earlier(early);
    ChangeFeed::append(early, ChangeFeed::VEHICLE, first.toText(), "early");
    addFix(early, first, "$GPRMC,early");
    {
        PgTransaction later(late);
        ChangeFeed::append(late, ChangeFeed::VEHICLE, second.toText(), "late");
        addFix(late, second, "$GPRMC,late");
        later.commit();
    }
    // The later transaction holds the higher entry number and committed
    // first: a reader going by "numbers above the last one seen" would
    // pass the earlier one's entry for good.
    EXPECT_EQ(m_store.execute("SELECT COUNT(*) FROM change_feed").getInt64(0, 0), 1);
    EXPECT_GT(m_store.execute("SELECT MIN(seq) FROM change_feed").getInt64(0, 0), 1);

    const FeedReader::Changes whileOpen = FeedReader::read(m_store, position, everything());
    EXPECT_TRUE(whileOpen.entries.empty());
    EXPECT_TRUE(whileOpen.fixes.empty());
    position = whileOpen.next;

    earlier.commit();
    const FeedReader::Changes afterwards = FeedReader::read(m_store, position, everything());
    EXPECT_EQ(keys(afterwards), (std::set<std::string>{first.toText(), second.toText()}));
    ASSERT_EQ(afterwards.fixes.size(), 2u);
    EXPECT_EQ(afterwards.vehicles.size(), 0u); // named, but no rows: gone
    EXPECT_EQ(afterwards.deletedVehicles.size(), 2u);
    position = afterwards.next;

    EXPECT_TRUE(FeedReader::read(m_store, position, everything()).isEmpty());
}

TEST_F(FeedTest, ABatchIsOneCommitWithItsNoticeAndItsFeedEntries)
{
    PgConnection desk;
    desk.open(conninfo(), "desk");
    desk.listen(ChangeFeed::CHANNEL);
    int64_t position = FeedReader::currentPosition(desk);

    const UniqueID vehicle;
    StoreBatch batch;
    batch.number = 1;
    const int64_t now = StoreText::nowMicros();
    batch.newVehicles.push_back({vehicle, "Truck 7", 1336657530});
    batch.fixes.push_back({now, vehicle, 1336657530, "$GPRMC,one"});
    batch.fixes.push_back({now + 1, vehicle, 1336657531, "$GPRMC,two"});
    batch.events.push_back({now, vehicle, "10.0.0.7", "Truck 7", 1336657530, 13, "Panic button"});
    StoreBatch::AlarmRaise panic;
    panic.vehicle = vehicle;
    panic.vehicleName = "Truck 7";
    panic.kind = 13;
    panic.priority = 1;
    panic.first = panic.last = 1336657530;
    panic.count = 1;
    panic.event = 0;
    batch.raise(panic);

    // A write rolled back sends nothing.
    {
        PgTransaction abandoned(m_store);
        ChangeFeed::append(m_store, ChangeFeed::SETTING, "x", "test");
        ChangeFeed::notify(m_store, "never");
    }
    BatchWriter writer(UniqueID(), "test-receiver");
    writer.prepare(m_store);
    const BatchWriter::Result result = writer.write(m_store, batch);
    EXPECT_FALSE(result.duplicate);
    EXPECT_EQ(result.fixes, 2);
    EXPECT_EQ(result.events, 1);

    ASSERT_TRUE(desk.waitForInput(5000));
    const std::vector<PgConnection::Notice> notices = desk.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].payload, "fixes=2 events=1 vehicles=1 alarms=1");
    EXPECT_EQ(notices[0].senderPid, m_store.getServerPid());

    const FeedReader::Changes changes = FeedReader::read(desk, position, FeedReader::Options());
    ASSERT_EQ(changes.fixes.size(), 1u); // the vehicle's newest only
    EXPECT_EQ(changes.fixes[0].sentence, "$GPRMC,two");
    ASSERT_EQ(changes.events.size(), 1u);
    EXPECT_EQ(changes.events[0].title, "Panic button");
    ASSERT_EQ(changes.vehicles.size(), 1u);
    EXPECT_EQ(changes.vehicles[0].name, "Truck 7");
    ASSERT_EQ(changes.alarms.size(), 1u);
    EXPECT_EQ(changes.alarms[0].eventId, changes.events[0].id);
    EXPECT_EQ(changes.alarms[0].alarm.priority, 1);
    EXPECT_FALSE(changes.settingsChanged);
    position = changes.next;

    // A desk changes the shared settings: the feed says so.
    SharedSettings::Values values = SharedSettings::load(desk);
    values.admission.knownOnly = true;
    SharedSettings::store(desk, values, "operator@desk-2");
    const FeedReader::Changes settings = FeedReader::read(m_store, position, FeedReader::Options());
    EXPECT_TRUE(settings.settingsChanged);
    EXPECT_TRUE(SharedSettings::load(m_store).admission.knownOnly);

    // Entries older than the feed keeps are pruned; a reader that far behind
    // is told to load everything again.
    ChangeFeed::prune(m_store, 0);
    EXPECT_TRUE(FeedReader::read(m_store, position, FeedReader::Options()).reloadNeeded);
}

TEST_F(FeedTest, EventsPastTheLimitAreCountedAndTheNewestKept)
{
    const int64_t position = FeedReader::currentPosition(m_store);
    const UniqueID vehicle;
    m_store.query("INSERT INTO event_info (name, event_type, vehicle_id) SELECT 'e' || n, n, $1 "
                  "FROM generate_series(1, 25) AS n",
                  {vehicle.toText()});
    FeedReader::Options options;
    options.maxEvents = 10;
    const FeedReader::Changes changes = FeedReader::read(m_store, position, options);
    ASSERT_EQ(changes.events.size(), 10u);
    EXPECT_EQ(changes.eventsLeftOut, 15u);
    EXPECT_EQ(changes.events.front().name, "e16");
    EXPECT_EQ(changes.events.back().name, "e25");
}
