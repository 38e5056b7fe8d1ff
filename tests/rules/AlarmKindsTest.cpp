#include "rules/AlarmBook.h"
#include "rules/AlarmKinds.h"
#include "rules/WatchRules.h"
#include "intake/CallbackInfo.h"
#include "intake/EventTypeName.h"
#include "tests/rules/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace velmora;
using namespace velmora::test;

TEST(AlarmKinds, RuleKindsAreTheirOwnNumbersAndNames) {
    const std::vector<int32_t> all = AlarmKinds::all();
    ASSERT_EQ(all.size(), static_cast<size_t>(EVENT_TYPE_COUNT + AlarmKinds::RULE_COUNT));
    std::set<std::string> names;
    for (int32_t kind : all) {
        SCOPED_TRACE(kind);
        const bool rule = AlarmKinds::isRuleKind(kind);
        EXPECT_EQ(rule, kind >= EVENT_TYPE_COUNT);
        // No rule kind is a number a device uses for events, fixes or
        // vehicle information.
        if (rule) {
            EXPECT_NE(kind, CallbackInfo::EVENT_GPS);
            EXPECT_NE(kind, CallbackInfo::EVENT_OPTIONAL_INFO);
        }
        EXPECT_STRNE(AlarmKinds::name(kind), "");
        EXPECT_TRUE(names.insert(AlarmKinds::name(kind)).second) << AlarmKinds::name(kind);
        // The wide name is the same text.
        const std::u16string wide = AlarmKinds::wideName(kind);
        EXPECT_EQ(std::string(wide.begin(), wide.end()), AlarmKinds::name(kind));
    }
    EXPECT_STREQ(AlarmKinds::name(AlarmKinds::SILENT), "Silent");
    EXPECT_STREQ(AlarmKinds::name(AlarmKinds::ZONE_ENTRY), "Zone Entry");
    EXPECT_STREQ(AlarmKinds::name(AlarmKinds::ZONE_EXIT), "Zone Exit");
    EXPECT_STREQ(AlarmKinds::name(AlarmKinds::SPEEDING), "Speeding");
    EXPECT_STREQ(AlarmKinds::name(13), "Panic");
    for (int32_t stray : {-1, 14, 100, 999, 1004}) {
        EXPECT_STREQ(AlarmKinds::name(stray), "") << stray;
    }
}

TEST(AlarmKinds, TheQueueTakesRuleKindsOnlyFromTheRules) {
    AlarmBook book;
    book.setPriorities({{13, 1}, {AlarmKinds::SILENT, 2}, {AlarmKinds::ZONE_ENTRY, 3}, {AlarmKinds::SPEEDING, 3}});
    const UniqueID vehicle = vehicleId(1);
    // A datagram naming the Silent kind raises nothing.
    EXPECT_EQ(book.raise(vehicle, "Bus 1", AlarmKinds::SILENT, "x", "10.0.0.1", 100, nullptr),
              AlarmBook::Result::NotAnAlarm);
    EXPECT_EQ(book.openCount(), 0u);
    EXPECT_EQ(book.raise(vehicle, "Bus 1", 13, "PANIC", "10.0.0.1", 100, nullptr), AlarmBook::Result::Raised);

    // The rules' Silent alarm, then its "heard again" on the same alarm.
    WatchRules rules;
    WatchRules::Requests out;
    const std::time_t t0 = 1796839200;
    rules.heard(vehicle, t0);
    rules.tick(t0 + 600, out);
    rules.heard(vehicle, t0 + 700);
    rules.tick(t0 + 701, out);
    ASSERT_EQ(out.size(), 2u);
    const Alarm* alarm = nullptr;
    ASSERT_EQ(book.raiseRule(out[0], "Bus 1", &alarm), AlarmBook::Result::Raised);
    const int32_t id = alarm->id;
    EXPECT_EQ(alarm->kind, AlarmKinds::SILENT);
    EXPECT_EQ(alarm->priority, 2);
    EXPECT_EQ(alarm->deviceTitle, "Not heard for 10 min");
    EXPECT_EQ(alarm->received, t0 + 600);
    EXPECT_EQ(alarm->notes, "2026-12-09 18:10:00 rules: Not heard since 2026-12-09 18:00:00");
    // A NOTE is no alarm of its own, nor a RAISE a note.
    EXPECT_EQ(book.raiseRule(out[1], "Bus 1", nullptr), AlarmBook::Result::NotAnAlarm);
    EXPECT_EQ(book.noteRule(out[0], nullptr), AlarmBook::Result::NotAnAlarm);
    ASSERT_EQ(book.noteRule(out[1], &alarm), AlarmBook::Result::Done);
    EXPECT_EQ(alarm->id, id);
    EXPECT_EQ(book.find(id)->notes,
              "2026-12-09 18:10:00 rules: Not heard since 2026-12-09 18:00:00\n"
              "2026-12-09 18:11:40 rules: Heard again at 2026-12-09 18:11:40 after 11 min 40 s without a message");
    // It still needs acknowledging.
    EXPECT_FALSE(book.find(id)->isAcknowledged());

    // Closed by the operator: a later note has nothing to go to.
    ASSERT_EQ(book.acknowledge(id, "op", t0 + 800), AlarmBook::Result::Done);
    ASSERT_EQ(book.close(id, "op", t0 + 801, nullptr), AlarmBook::Result::Done);
    EXPECT_EQ(book.noteRule(out[1], nullptr), AlarmBook::Result::Unknown);
}

TEST(AlarmKinds, ASecondZoneEnteredIsNotedOnTheOpenEntryAlarm) {
    AlarmBook book;
    book.setPriorities({{AlarmKinds::ZONE_ENTRY, 3}});
    WatchRules rules;
    Zone a = Zone::circle(1, "Depot", {47.0, 8.0}, 100.0);
    Zone b = Zone::circle(2, "Harbour", {47.0, 8.1}, 100.0);
    a.setDwellSeconds(0);
    b.setDwellSeconds(0);
    ASSERT_EQ(rules.setZones({a, b}), 2u);
    WatchRules::Requests out;
    const UniqueID vehicle = vehicleId(1);
    rules.fix(vehicle, 1000, {47.01, 8.05}, 0, out);
    rules.fix(vehicle, 1010, {47.0, 8.0}, 0, out);
    rules.fix(vehicle, 1020, {47.0, 8.1}, 0, out);
    const auto entries = ofStep(out, AlarmRequest::RAISE);
    ASSERT_EQ(entries.size(), 2u);
    const Alarm* alarm = nullptr;
    ASSERT_EQ(book.raiseRule(entries[0], "Van 2", &alarm), AlarmBook::Result::Raised);
    EXPECT_EQ(alarm->deviceTitle, "Entered Depot");
    ASSERT_EQ(book.raiseRule(entries[1], "Van 2", &alarm), AlarmBook::Result::Repeated);
    EXPECT_EQ(alarm->repeats, 1);
    EXPECT_NE(alarm->notes.find("rules: Entered Harbour: In zone Harbour since 1970-01-01 00:17:00"), std::string::npos)
        << alarm->notes;
}
