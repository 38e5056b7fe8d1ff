#include "tests/app/hub/HubFixture.h"

#include "app/alarms/AlarmBell.h"
#include "rules/AlarmBook.h"
#include "app/alarms/AlarmReport.h"
#include "app/alarms/AlarmSettings.h"
#include "db/AlarmRecord.h"
#include "db/Setup.h"
#include "tests/support/ConsoleTestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <utility>

using namespace velmora;
using namespace velmora::test;

namespace {

using R = AlarmBook::Result;

// One operator or device step and what the book must answer and hold after
// it: open alarms, then the alarm's repeats, acknowledged and closed marks.
struct Step {
    const char* what;
    char action;       // r raise, a acknowledge, n note, c close
    int vehicle;       // 0 ID_A, 1 ID_B
    int kind;          // for raise
    int32_t id;        // for the others
    const char* text;  // note
    R result;
    size_t open;
    int repeats;       // of alarm id after the step, -1 when closed
    bool acknowledged;
};

const Step LIFECYCLE[] = {
    {"a plain event is no alarm", 'r', 0, 0, 0, "", R::NotAnAlarm, 0, -1, false},
    {"a panic opens alarm 1", 'r', 0, 13, 1, "", R::Raised, 1, 0, false},
    {"the same panic again counts on it", 'r', 0, 13, 1, "", R::Repeated, 1, 1, false},
    {"a G-sensor of the same vehicle is another alarm", 'r', 0, 11, 2, "", R::Raised, 2, 0, false},
    {"a panic of another vehicle is another alarm", 'r', 1, 13, 3, "", R::Raised, 3, 0, false},
    {"priority 1 does not close without a note", 'c', 0, 0, 1, "", R::NeedsNote, 3, 1, false},
    {"a blank note is refused", 'n', 0, 0, 1, " \t ", R::EmptyNote, 3, 1, false},
    {"acknowledge", 'a', 0, 0, 1, "", R::Done, 3, 1, true},
    {"acknowledge twice", 'a', 0, 0, 1, "", R::AlreadyDone, 3, 1, true},
    {"repeats still count once acknowledged", 'r', 0, 13, 1, "", R::Repeated, 3, 2, true},
    {"a note", 'n', 0, 0, 1, "called the driver", R::Done, 3, 2, true},
    {"closes with its note", 'c', 0, 0, 1, "", R::Done, 2, -1, false},
    {"a closed alarm takes no step", 'a', 0, 0, 1, "", R::Unknown, 2, -1, false},
    {"the next panic of that vehicle is a new alarm", 'r', 0, 13, 4, "", R::Raised, 3, 0, false},
    {"priority 2 closes without a note, acknowledged by the close", 'c', 0, 0, 2, "", R::Done, 2, -1, false},
};

} // namespace

TEST(AlarmRules, LifecycleStepByStep) {
    AlarmBook book;
    book.setPriorities(AlarmSettings::defaults());
    const UniqueID vehicles[] = {AlarmRecord::idFromText(ID_A.c_str()), AlarmRecord::idFromText(ID_B.c_str())};
    std::time_t now = 1796839509;
    // When each alarm was first and last raised, as the steps raise them.
    std::map<int32_t, std::pair<std::time_t, std::time_t>> raised;
    for (const Step& step : LIFECYCLE) {
        SCOPED_TRACE(step.what);
        ++now;
        R result = R::Unknown;
        Alarm closed;
        switch (step.action) {
        case 'r':
            result = book.raise(vehicles[step.vehicle], "Truck", step.kind, "IN", "10.0.0.1", now, nullptr);
            break;
        case 'a':
            result = book.acknowledge(step.id, "ops", now);
            break;
        case 'n':
            result = book.addNote(step.id, "ops", step.text, now);
            break;
        case 'c':
            result = book.close(step.id, "lead", now, &closed);
            break;
        }
        EXPECT_EQ(result, step.result);
        EXPECT_EQ(book.openCount(), step.open);
        const Alarm* alarm = book.find(step.id);
        EXPECT_EQ(alarm != nullptr ? alarm->repeats : -1, step.repeats);
        EXPECT_EQ(alarm != nullptr && alarm->isAcknowledged(), step.acknowledged);
        // A repeat moves the last-received time only; other steps neither.
        if (result == R::Raised) {
            raised[step.id] = {now, now};
        } else if (result == R::Repeated) {
            raised[step.id].second = now;
        }
        if (alarm != nullptr) {
            EXPECT_EQ(alarm->received, raised[step.id].first);
            EXPECT_EQ(alarm->lastReceived, raised[step.id].second);
        }
        if (step.action == 'c' && result == R::Done) {
            EXPECT_EQ(closed.closed, now);
            EXPECT_EQ(closed.closedBy, "lead");
            EXPECT_NE(closed.acknowledged, 0);
        }
    }
    // Priority 1 first, then the oldest: the other vehicle's panic (3),
    // then the new one (4).
    const std::vector<const Alarm*> order = book.ordered();
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0]->id, 3);
    EXPECT_EQ(order[1]->id, 4);
    EXPECT_TRUE(book.hasUnacknowledged(1));
    EXPECT_FALSE(book.hasUnacknowledged(2));
}

// Bounds a hostile or careless sender cannot pass, and the stored form.
TEST(AlarmRules, BoundsAndStoredForm) {
    AlarmBook book(41);
    book.setPriorities({{13, 1}, {5, 7}});
    EXPECT_EQ(book.priorityOf(5), 0) << "a priority out of range makes no alarm";
    std::time_t now = 1796839509;
    const Alarm* first = nullptr;
    ASSERT_EQ(book.raise(AlarmRecord::idFromText(ID_A.c_str()), std::string(100, 'x') + "\xC3\xA9", 13,
                         std::string(63, 'y') + "\xC3\xA9", "", now, &first),
              R::Raised);
    EXPECT_EQ(first->id, 42) << "ids follow the stored ones";
    EXPECT_EQ(first->vehicleName.size(), AlarmBook::DEVICE_TEXT_MAX);
    EXPECT_EQ(first->deviceTitle, std::string(63, 'y')) << "never cut inside a character";
    EXPECT_EQ(book.addNote(42, "ops", "line one\nline two", now), R::Done);
    EXPECT_EQ(first->notes, "2026-12-09 18:05:09 ops: line one line two");
    while (book.addNote(42, "ops", std::string(2000, 'n'), now) == R::Done) {
    }
    EXPECT_LE(first->notes.size(), AlarmBook::NOTES_MAX);
    for (int i = 0; book.openCount() < AlarmBook::MAX_OPEN; ++i) {
        book.raise(UniqueID(), "v", 13, "", "", now, nullptr);
    }
    EXPECT_EQ(book.raise(UniqueID(), "v", 13, "", "", now, nullptr), R::Full);

    const AlarmRecord stored = AlarmRecord::of(*first);
    EXPECT_EQ(stored.received, "2026-12-09 18:05:09");
    EXPECT_EQ(stored.acknowledged, "");
    const Alarm back = stored.toAlarm();
    EXPECT_EQ(back.received, now);
    EXPECT_EQ(back.acknowledged, 0);
    EXPECT_EQ(AlarmRecord::parseTime("2026-13-01 00:00:00"), 0);
    EXPECT_EQ(AlarmRecord::parseTime("2026-12-09 18:05:09 junk"), 0);

    AlarmBook restored;
    Alarm open = back;
    EXPECT_TRUE(restored.restore(open));
    EXPECT_FALSE(restored.restore(open)) << "an id is restored once";
    open.id = 50;
    open.closed = now;
    EXPECT_FALSE(restored.restore(open)) << "a closed alarm stays closed";
    EXPECT_EQ(restored.getLastId(), 42);
}

// Response times and their figures, against values worked out by hand.
TEST(AlarmRules, ReportFiguresAndCsv) {
    const auto alarm = [](int32_t priority, const char* received, const char* acknowledged, const char* closed) {
        AlarmRecord r;
        r.priority = priority;
        r.received = received;
        r.acknowledged = acknowledged;
        r.closed = closed;
        return r;
    };
    const std::vector<AlarmRecord> alarms = {
        alarm(1, "2026-12-09 10:00:00", "2026-12-09 10:00:10", "2026-12-09 10:05:00"),
        alarm(1, "2026-12-09 10:00:00", "2026-12-09 10:00:40", "2026-12-09 11:00:00"),
        alarm(1, "2026-12-09 10:00:00", "2026-12-09 10:00:20", ""),
        alarm(1, "2026-12-09 10:00:00", "2026-12-09 10:00:30", ""),
        alarm(2, "2026-12-09 23:59:50", "2026-12-10 00:00:05", ""),
        alarm(2, "2026-12-09 10:00:00", "", ""),
        // The clock was set back between receiving and acknowledging.
        alarm(3, "2026-12-09 10:00:30", "2026-12-09 10:00:00", ""),
    };
    const std::vector<AlarmReport::Figures> figures = AlarmReport::figures(alarms);
    ASSERT_EQ(figures.size(), 3u);
    EXPECT_EQ(figures[0].priority, 1);
    EXPECT_EQ(figures[0].count, 4);
    EXPECT_DOUBLE_EQ(figures[0].medianAcknowledge, 25);
    EXPECT_DOUBLE_EQ(figures[0].p95Acknowledge, 40);
    EXPECT_DOUBLE_EQ(figures[0].medianClose, (300 + 3600) / 2.0);
    EXPECT_DOUBLE_EQ(figures[0].p95Close, 3600);
    EXPECT_DOUBLE_EQ(figures[1].medianAcknowledge, 15) << "across midnight";
    EXPECT_DOUBLE_EQ(figures[1].medianClose, -1);
    EXPECT_DOUBLE_EQ(figures[2].medianAcknowledge, 0) << "no negative response time";
    EXPECT_EQ(AlarmReport::durations(alarms[6]).toAcknowledge, 0);

    std::vector<int64_t> twenty;
    for (int i = 1; i <= 20; ++i) {
        twenty.push_back(i);
    }
    EXPECT_DOUBLE_EQ(AlarmReport::percentile95(twenty), 19);
    twenty.push_back(21);
    EXPECT_DOUBLE_EQ(AlarmReport::percentile95(twenty), 20);
    EXPECT_EQ(AlarmReport::duration(3725), QStringLiteral("1h 02m"));
    EXPECT_EQ(AlarmReport::duration(65), QStringLiteral("1m 05s"));

    AlarmRecord line = alarms[0];
    line.id = 7;
    line.vehicleName = "=HYPERLINK(\"x\")";
    line.eventType = 13;
    line.deviceTitle = "PANIC";
    line.acknowledgedBy = "ops";
    line.closedBy = "lead";
    line.notes = "a, b\nc";
    EXPECT_EQ(AlarmReport::csvLine(line).toStdString(),
              "7,1,\"'=HYPERLINK(\"\"x\"\")\",Panic,PANIC,2026-12-09 10:00:00,0,2026-12-09 10:00:10,ops,"
              "2026-12-09 10:05:00,lead,10,300,\"a, b\nc\"\r\n");
}

// The setting as setup.db keeps it: defaults on a new file, a value edited
// out of range falls back to the kind's default, a stored choice reads back.
TEST(AlarmRules, PrioritiesInSetupDb) {
    TempDir dir;
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(dir.file("setup.db").c_str());
    EXPECT_EQ(AlarmSettings::load(setup), AlarmSettings::defaults());
    setup.getDatabase().setInt("setup/AlarmPriority/13", 9);
    setup.getDatabase().setInt("setup/AlarmPriority/2", 3);
    EXPECT_EQ(AlarmSettings::load(setup),
              (AlarmBook::Priorities{{2, 3}, {11, 2}, {13, 1}, {1000, 2}, {1001, 3}, {1002, 3}, {1003, 3}}));
    AlarmSettings::store(setup.getDatabase(), {{0, 2}});
    EXPECT_EQ(AlarmSettings::load(setup), (AlarmBook::Priorities{{0, 2}}));
    setup.close();
}

// Mute silences the bell for a while, never for good: the longest mute ends
// within the hour, and once a short one is over the bell sounds again.
TEST(AlarmRules, MuteEndsAndTheBellSoundsAgain) {
    AlarmBell bell;
    int sounded = 0;
    bell.setOutput([&] { ++sounded; });
    bell.ring();
    EXPECT_EQ(sounded, 1);

    const QDateTime asked = QDateTime::currentDateTimeUtc();
    bell.mute(std::numeric_limits<int>::max());
    EXPECT_TRUE(bell.isMuted());
    EXPECT_LE(bell.getMutedUntil(), asked.addSecs(3601));
    bell.ring();
    EXPECT_EQ(sounded, 1);

    bell.unmute();
    bell.mute(1);
    bell.ring();
    EXPECT_EQ(sounded, 1);
    QTest::qWait(1100);
    EXPECT_FALSE(bell.isMuted());
    bell.ring();
    EXPECT_EQ(sounded, 2);
}
