// What operators change at desks, as transactions in the store: the first
// desk wins a race on an alarm and the second is told who was first; every
// step is in the change feed the other desks and the receiver follow;
// vehicle edits write only their own fields; Delete and the answers to new
// ids leave the store as the single desk leaves app.db.

#include "tests/store/StoreFixture.h"

#include "rules/AlarmBook.h"
#include "store/ChangeFeed.h"
#include "store/DeskActions.h"
#include "store/FeedReader.h"
#include "store/FleetReader.h"
#include "store/PgTransaction.h"
#include "store/StoreText.h"

#include <atomic>
#include <thread>

using namespace velmora;

namespace {

const char* const CAR = "0a000000-0000-4000-8000-00000000000a";
const DeskActions::Operator ANN{"ann", "desk-1"};
const DeskActions::Operator BOB{"bob", "desk-2"};

class DeskActionsTest : public test::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        m_store.query("INSERT INTO vehicle_info (id, name, edited_name, info1, info2, image_path) "
                      "VALUES ($1, 'Car', 'Old name', 'one', 'two', '/a.png')",
                      {CAR});
    }

    /// An open alarm of priority, with notes; its id.
    int64_t alarm(int priority, const std::string& notes = "", bool acknowledged = false, bool closed = false)
    {
        static int kind = 0;
        return m_store
            .query("INSERT INTO alarm_info (vehicle_id, vehicle_name, event_type, priority, received, notes, "
                   "acknowledged, acknowledged_by, acknowledged_desk, closed, closed_by, closed_desk) "
                   "VALUES ($1, 'Car', $2, $3, now(), $4, "
                   "CASE WHEN $5 THEN now() END, CASE WHEN $5 THEN 'cid' END, CASE WHEN $5 THEN 'desk-9' END, "
                   "CASE WHEN $6 THEN now() END, CASE WHEN $6 THEN 'cid' END, CASE WHEN $6 THEN 'desk-9' END) "
                   "RETURNING id",
                   {CAR, ++kind, priority, notes, acknowledged ? "true" : "false", closed ? "true" : "false"})
            .getInt64(0, 0);
    }

    std::string row(int64_t id, const char* columns)
    {
        return value(std::string("SELECT concat_ws('|', ") + columns + ") FROM alarm_info WHERE id = " +
                     std::to_string(id));
    }
};

} // namespace

// Every step in every state of an alarm: what it answers and what the row
// then holds.
TEST_F(DeskActionsTest, EachStepTakesOnlyTheStateItNeeds)
{
    struct Case {
        const char* name;
        int priority;
        const char* notes;
        bool acknowledged;
        bool closed;
        enum { ACK, NOTE, CLOSE } step;
        const char* line;
        DeskActions::AlarmOutcome::Kind outcome;
        const char* columns;  ///< of the row afterwards
        const char* expected; ///< their values, "|"-joined
    };
    const std::string full(AlarmBook::NOTES_MAX - 5, 'x');
    const Case cases[] = {
        {"acknowledge a new alarm", 2, "", false, false, Case::ACK, "", DeskActions::AlarmOutcome::DONE,
         "acknowledged_by, acknowledged_desk, closed IS NULL", "ann|desk-1|t"},
        {"acknowledge one acknowledged", 2, "", true, false, Case::ACK, "", DeskActions::AlarmOutcome::TAKEN,
         "acknowledged_by, acknowledged_desk", "cid|desk-9"},
        {"acknowledge one closed", 2, "", true, true, Case::ACK, "", DeskActions::AlarmOutcome::CLOSED,
         "acknowledged_by", "cid"},
        {"a note on a new alarm", 2, "", false, false, Case::NOTE, "10:00 ann: tyre", DeskActions::AlarmOutcome::DONE,
         "notes, acknowledged IS NULL", "10:00 ann: tyre|t"},
        {"a second note", 2, "first", true, false, Case::NOTE, "second", DeskActions::AlarmOutcome::DONE, "notes",
         "first\nsecond"},
        {"a note with no room", 2, full.c_str(), false, false, Case::NOTE, "too long",
         DeskActions::AlarmOutcome::FULL, "length(notes)", "15995"},
        {"a note on a closed alarm", 2, "", true, true, Case::NOTE, "late", DeskActions::AlarmOutcome::CLOSED, "notes",
         ""},
        {"close acknowledges too", 2, "", false, false, Case::CLOSE, "", DeskActions::AlarmOutcome::DONE,
         "acknowledged_by, acknowledged_desk, closed_by, closed_desk, closed IS NOT NULL", "ann|desk-1|ann|desk-1|t"},
        {"close keeps who acknowledged", 2, "", true, false, Case::CLOSE, "", DeskActions::AlarmOutcome::DONE,
         "acknowledged_by, closed_by", "cid|ann"},
        {"priority 1 without a note", 1, "", false, false, Case::CLOSE, "", DeskActions::AlarmOutcome::NEEDS_NOTE,
         "closed IS NULL, acknowledged IS NULL", "t|t"},
        {"priority 1 with the closing note", 1, "", false, false, Case::CLOSE, "done",
         DeskActions::AlarmOutcome::DONE, "notes, closed_by", "done|ann"},
        {"priority 1 noted before", 1, "seen", true, false, Case::CLOSE, "", DeskActions::AlarmOutcome::DONE,
         "notes, closed_by", "seen|ann"},
        {"close one closed", 2, "", true, true, Case::CLOSE, "", DeskActions::AlarmOutcome::CLOSED, "closed_by", "cid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t id = alarm(c.priority, c.notes, c.acknowledged, c.closed);
        const int64_t position = FeedReader::currentPosition(m_store);
        DeskActions::AlarmOutcome outcome;
        switch (c.step) {
        case Case::ACK:
            outcome = DeskActions::acknowledge(m_store, id, ANN);
            break;
        case Case::NOTE:
            outcome = DeskActions::addNote(m_store, id, c.line, ANN);
            break;
        case Case::CLOSE:
            outcome = DeskActions::close(m_store, id, c.line, ANN);
            break;
        }
        EXPECT_EQ(outcome.kind, c.outcome);
        EXPECT_EQ(outcome.alarm.alarm.id, id);
        EXPECT_EQ(row(id, c.columns), c.expected);
        // A step taken is in the feed for the other desks; one refused is not.
        const FeedReader::Changes changes = FeedReader::read(m_store, position, FeedReader::Options());
        EXPECT_EQ(changes.alarms.size(), c.outcome == DeskActions::AlarmOutcome::DONE ? 1u : 0u);
    }
    EXPECT_EQ(DeskActions::acknowledge(m_store, 999999, ANN).kind, DeskActions::AlarmOutcome::UNKNOWN);
}

// Two desks acknowledge the same alarms at the same moment, each on its own
// connection: every alarm is won by exactly one, and the other is told the
// winner's name, desk and time.
TEST_F(DeskActionsTest, TwoDesksAtOnceOneWinsAndTheOtherIsToldWho)
{
    constexpr int ALARMS = 25;
    std::vector<int64_t> ids;
    for (int i = 0; i < ALARMS; ++i) {
        ids.push_back(alarm(1));
    }
    PgConnection desks[2];
    desks[0].open(conninfo(), "desk-1");
    desks[1].open(conninfo(), "desk-2");
    std::vector<DeskActions::AlarmOutcome> outcomes[2];
    std::atomic<int> ready{0};
    auto run = [&](int desk) {
        ++ready;
        while (ready.load() < 2) {
        }
        for (int64_t id : ids) {
            outcomes[desk].push_back(DeskActions::acknowledge(desks[desk], id, desk == 0 ? ANN : BOB));
        }
    };
    std::thread first(run, 0);
    std::thread second(run, 1);
    first.join();
    second.join();
    int wins[2] = {0, 0};
    for (int i = 0; i < ALARMS; ++i) {
        SCOPED_TRACE(i);
        const DeskActions::AlarmOutcome& a = outcomes[0][static_cast<size_t>(i)];
        const DeskActions::AlarmOutcome& b = outcomes[1][static_cast<size_t>(i)];
        ASSERT_NE(a.kind == DeskActions::AlarmOutcome::DONE, b.kind == DeskActions::AlarmOutcome::DONE);
        const DeskActions::AlarmOutcome& lost = a.kind == DeskActions::AlarmOutcome::DONE ? b : a;
        const DeskActions::Operator& winner = a.kind == DeskActions::AlarmOutcome::DONE ? ANN : BOB;
        ++wins[a.kind == DeskActions::AlarmOutcome::DONE ? 0 : 1];
        EXPECT_EQ(lost.kind, DeskActions::AlarmOutcome::TAKEN);
        EXPECT_EQ(lost.alarm.alarm.acknowledgedBy, winner.user);
        EXPECT_EQ(lost.alarm.acknowledgedDesk, winner.desk);
        EXPECT_NE(lost.alarm.alarm.acknowledged, 0);
        EXPECT_EQ(row(ids[static_cast<size_t>(i)], "acknowledged_by, acknowledged_desk"),
                  winner.user + "|" + winner.desk);
    }
    EXPECT_EQ(wins[0] + wins[1], ALARMS);
    EXPECT_EQ(number("SELECT COUNT(*) FROM change_feed WHERE kind = 'alarm'"), ALARMS);
}

// A vehicle edit writes the fields it names and nothing else, so two desks
// changing different fields of one vehicle keep both; each is in the feed.
TEST_F(DeskActionsTest, VehicleEditsWriteOnlyTheirFields)
{
    UniqueID car;
    ASSERT_TRUE(UniqueID::parse(CAR, car));
    const int64_t position = FeedReader::currentPosition(m_store);
    DeskActions::VehicleEdit rename;
    rename.fields = DeskActions::EDITED_NAME;
    rename.editedName = "Ambulance 1";
    rename.info1 = "not written";
    DeskActions::VehicleEdit info;
    info.fields = DeskActions::INFO | DeskActions::IMAGE;
    info.editedName = "stale name";
    info.info1 = "Shift A";
    info.info2 = "";
    info.imagePath = "/b.png";
    ASSERT_TRUE(DeskActions::saveVehicle(m_store, car, rename, ANN));
    ASSERT_TRUE(DeskActions::saveVehicle(m_store, car, info, BOB));
    EXPECT_EQ(value(std::string("SELECT concat_ws('|', edited_name, info1, info2, image_path, deleted) FROM "
                                "vehicle_info WHERE id = '") +
                    CAR + "'"),
              "Ambulance 1|Shift A||/b.png|f");
    DeskActions::VehicleEdit remove;
    remove.fields = DeskActions::DELETED;
    remove.deleted = true;
    ASSERT_TRUE(DeskActions::saveVehicle(m_store, car, remove, ANN));
    EXPECT_EQ(value(std::string("SELECT concat_ws('|', edited_name, deleted) FROM vehicle_info WHERE id = '") + CAR +
                    "'"),
              "Ambulance 1|t");

    const FeedReader::Changes changes = FeedReader::read(m_store, position, FeedReader::Options());
    ASSERT_EQ(changes.entries.size(), 3u);
    EXPECT_EQ(changes.entries[0].source, "ann@desk-1");
    EXPECT_EQ(changes.entries[1].source, "bob@desk-2");
    ASSERT_EQ(changes.vehicles.size(), 1u);
    EXPECT_TRUE(changes.vehicles[0].deleted);

    UniqueID unknown;
    ASSERT_TRUE(UniqueID::parse("0f000000-0000-4000-8000-00000000000f", unknown));
    EXPECT_FALSE(DeskActions::saveVehicle(m_store, unknown, rename, ANN));
}

// Delete takes the vehicle with its fixes, events and information (its
// alarms stay, as at the single desk); the feed says it went.
TEST_F(DeskActionsTest, DeleteTakesTheVehicleWithItsRows)
{
    UniqueID car;
    ASSERT_TRUE(UniqueID::parse(CAR, car));
    const int64_t today = StoreText::dayOfMicros(StoreText::nowMicros());
    StoreSchema::ensureFixDays(m_store, {today});
    m_store.query("INSERT INTO gps_data (gps_data, vehicle_id, received) VALUES ('$GPRMC', $1, now())", {CAR});
    m_store.query("INSERT INTO event_info (name, event_type, vehicle_id) VALUES ('Car', 1, $1)", {CAR});
    m_store.query("INSERT INTO optional_info (key_info, vehicle_id) VALUES ('Driver', $1)", {CAR});
    const int64_t open = alarm(2);
    const int64_t position = FeedReader::currentPosition(m_store);

    ASSERT_TRUE(DeskActions::deleteVehicle(m_store, car, ANN));
    for (const char* table : {"vehicle_info WHERE id", "gps_data WHERE vehicle_id", "event_info WHERE vehicle_id",
                              "optional_info WHERE vehicle_id"}) {
        EXPECT_EQ(number(std::string("SELECT COUNT(*) FROM ") + table + " = '" + CAR + "'"), 0) << table;
    }
    EXPECT_EQ(number("SELECT COUNT(*) FROM alarm_info WHERE id = " + std::to_string(open)), 1);
    const FeedReader::Changes changes = FeedReader::read(m_store, position, FeedReader::Options());
    ASSERT_EQ(changes.deletedVehicles.size(), 1u);
    EXPECT_EQ(changes.deletedVehicles[0], car);
    EXPECT_FALSE(DeskActions::deleteVehicle(m_store, car, BOB));
}

// An answer to a refused id is the store's: the receiver finds the
// decision, every desk's list loses the id.
TEST_F(DeskActionsTest, AnAnswerTakesTheIdOffEveryDesksList)
{
    const char* const waiting[] = {"01000000-0000-4000-8000-000000000001", "02000000-0000-4000-8000-000000000002",
                                   "03000000-0000-4000-8000-000000000003"};
    for (int i = 0; i < 3; ++i) {
        m_store.query("INSERT INTO admission_candidate (vehicle_id, address, name, first_seen, last_seen, messages) "
                      "VALUES ($1, '10.0.0.9', $2, now() - interval '1 hour', now() - make_interval(mins => $3), 5)",
                      {waiting[i], "New " + std::to_string(i), i});
    }
    std::vector<DeskActions::Candidate> listed = DeskActions::loadCandidates(m_store);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].name, "New 0"); // the most recently seen first
    EXPECT_EQ(listed[2].messages, 5u);

    const int64_t position = FeedReader::currentPosition(m_store);
    DeskActions::decide(m_store, listed[0].id, true, ANN);
    DeskActions::decide(m_store, listed[1].id, false, BOB);
    listed = DeskActions::loadCandidates(m_store);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "New 2");
    EXPECT_EQ(value(std::string("SELECT decision || ' ' || decided_by FROM admission_decision WHERE vehicle_id = '") +
                    waiting[0] + "'"),
              "admit ann@desk-1");
    const FeedReader::Changes changes = FeedReader::read(m_store, position, FeedReader::Options());
    EXPECT_EQ(changes.decisions.size(), 2u);
}
