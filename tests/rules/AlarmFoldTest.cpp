#include "rules/AlarmBook.h"
#include "tests/rules/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int32_t PANIC = 13;
constexpr int32_t G_SENSOR = 11;

std::string senderAddress(int s) {
    return "10." + std::to_string(s / 65536) + "." + std::to_string(s / 256 % 256) + "." + std::to_string(s % 256);
}

} // namespace

// Senders that admitted vehicles of their own flood the book with panics;
// whatever the load, every alarm is counted on exactly one row, no sender's
// rows pass their bounds, and a known vehicle's panic afterwards still
// gets a row of its own, most urgent and new.
TEST(AlarmFold, UnreviewedFloodsFoldAndAKnownPanicKeepsItsOwnRow) {
    struct Row {
        const char* name;
        int senders;
        int vehiclesEach;
        size_t ownRows;      // unreviewed alarms on rows of their own
        size_t foldRows;     // fold rows, the shared one included
        int sharedAlarms;    // alarms on the row of the further senders
    };
    const size_t perSender = AlarmBook::UNREVIEWED_PER_SENDER;
    const size_t overall = AlarmBook::UNREVIEWED_OPEN;
    const int pastFolds = static_cast<int>(overall + AlarmBook::FOLDS_MAX) + 7;
    const Row rows[] = {
        {"a few alarms of one sender", 1, 3, 3, 0, 0},
        {"one sender past its bound", 1, 50, perSender, 1, 0},
        {"many senders past the overall bound", 30, 10, overall, 30, 0},
        {"more senders than fold rows", pastFolds, 1, overall, AlarmBook::FOLDS_MAX + 1, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AlarmBook book;
        book.setPriorities({{PANIC, 1}, {G_SENSOR, 2}});
        int n = 0;
        int raised = 0;
        for (int s = 0; s < row.senders; ++s) {
            for (int v = 0; v < row.vehiclesEach; ++v) {
                ++n;
                const AlarmBook::Result result = book.raiseUnreviewed(vehicleId(n), "Junk", G_SENSOR, "G",
                                                                      senderAddress(s), 1000 + n, nullptr);
                ASSERT_TRUE(result == AlarmBook::Result::Raised || result == AlarmBook::Result::Folded);
                ++raised;
            }
        }
        size_t own = 0;
        size_t folds = 0;
        int counted = 0;
        int shared = 0;
        std::map<std::string, size_t> ownBySender;
        for (const Alarm* alarm : book.ordered()) {
            if (alarm->isFold()) {
                ++folds;
                counted += alarm->foldedAlarms;
                EXPECT_LE(alarm->foldedVehicles, alarm->foldedAlarms);
                if (alarm->address.empty()) {
                    shared = alarm->foldedAlarms;
                }
            } else {
                ++own;
                ++counted;
                EXPECT_LE(++ownBySender[alarm->address], perSender) << alarm->address;
            }
        }
        EXPECT_EQ(own, row.ownRows);
        EXPECT_EQ(folds, row.foldRows);
        EXPECT_EQ(shared, row.sharedAlarms);
        EXPECT_EQ(counted, raised) << "every alarm is on exactly one row";
        EXPECT_EQ(book.reviewedCount(), 0u);

        const Alarm* known = nullptr;
        ASSERT_EQ(book.raise(vehicleId(999999), "Truck 1", PANIC, "PANIC", senderAddress(0), 9000, &known),
                  AlarmBook::Result::Raised);
        ASSERT_NE(known, nullptr);
        EXPECT_FALSE(known->isFold());
        EXPECT_FALSE(known->unreviewed);
        EXPECT_EQ(book.ordered().front()->id, known->id) << "the known panic is the most urgent row";
        EXPECT_TRUE(book.hasUnacknowledged(1));
    }
}

// A fold is one row to the operator: acknowledging or closing it handles
// every alarm it holds, a more urgent alarm folding in after the
// acknowledgement makes it new again at that priority, and after the close
// the sender's next alarm opens a fresh row.
TEST(AlarmFold, AFoldIsAcknowledgedRaisedAgainAndClosedAsOne) {
    AlarmBook book;
    book.setPriorities({{PANIC, 1}, {G_SENSOR, 3}});
    const std::string sender = "10.0.0.7";
    const Alarm* last = nullptr;
    for (int v = 1; v <= static_cast<int>(AlarmBook::UNREVIEWED_PER_SENDER) + 3; ++v) {
        book.raiseUnreviewed(vehicleId(v), "Junk", G_SENSOR, "G", sender, 100 + v, &last);
    }
    const Alarm* fold = book.foldOf(sender);
    ASSERT_NE(fold, nullptr);
    const int32_t foldId = fold->id;
    EXPECT_EQ(fold->foldedAlarms, 3);
    EXPECT_EQ(fold->priority, 3);
    EXPECT_EQ(book.acknowledge(foldId, "op", 200), AlarmBook::Result::Done);
    EXPECT_TRUE(book.find(foldId)->isAcknowledged());

    // A repeat of an alarm it holds counts nothing new.
    EXPECT_EQ(book.raiseUnreviewed(vehicleId(8), "Junk", G_SENSOR, "G", sender, 210, nullptr),
              AlarmBook::Result::Folded);
    EXPECT_EQ(book.find(foldId)->foldedAlarms, 3);

    EXPECT_EQ(book.raiseUnreviewed(vehicleId(50), "Junk", PANIC, "P", sender, 220, nullptr),
              AlarmBook::Result::Folded);
    fold = book.find(foldId);
    EXPECT_EQ(fold->foldedAlarms, 4);
    EXPECT_EQ(fold->priority, 1);
    EXPECT_FALSE(fold->isAcknowledged()) << "a more urgent alarm makes the fold new again";
    EXPECT_TRUE(book.hasUnacknowledged(1));

    EXPECT_EQ(book.close(foldId, "op", 230, nullptr), AlarmBook::Result::NeedsNote);
    EXPECT_EQ(book.addNote(foldId, "op", "sender blocked", 231), AlarmBook::Result::Done);
    Alarm closed;
    EXPECT_EQ(book.close(foldId, "op", 232, &closed), AlarmBook::Result::Done);
    EXPECT_EQ(closed.foldedAlarms, 4);
    EXPECT_EQ(book.foldOf(sender), nullptr);
    EXPECT_FALSE(book.hasUnacknowledged(1));
    // The sender's own rows stayed; its next alarm folds anew.
    EXPECT_EQ(book.raiseUnreviewed(vehicleId(60), "Junk", G_SENSOR, "G", sender, 240, nullptr),
              AlarmBook::Result::Raised);
    ASSERT_NE(book.foldOf(sender), nullptr);
    EXPECT_NE(book.foldOf(sender)->id, foldId);
}

// Notes are counted in characters, as they are typed: text of two-byte
// characters keeps NOTE_MAX of them, not half as many.
TEST(AlarmFold, NotesAreCutInCharacters) {
    struct Row {
        const char* name;
        std::string unit;
    };
    const Row rows[] = {{"ASCII", "a"}, {"Cyrillic", "\xD0\x96"}, {"CJK", "\xE6\xBC\xA2"}, {"emoji", "\xF0\x9F\x9A\x92"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string text;
        for (size_t i = 0; i < AlarmBook::NOTE_MAX + 20; ++i) {
            text += row.unit;
        }
        EXPECT_EQ(AlarmBook::characters(text), AlarmBook::NOTE_MAX + 20);
        const std::string cut = AlarmBook::cutCharacters(text, AlarmBook::NOTE_MAX);
        EXPECT_EQ(cut.size(), AlarmBook::NOTE_MAX * row.unit.size());
        AlarmBook book;
        book.setPriorities({{PANIC, 1}});
        const Alarm* alarm = nullptr;
        ASSERT_EQ(book.raise(vehicleId(1), "Truck", PANIC, "P", "10.0.0.1", 100, &alarm), AlarmBook::Result::Raised);
        ASSERT_EQ(book.addNote(alarm->id, "op", text, 101), AlarmBook::Result::Done);
        const std::string& notes = book.find(alarm->id)->notes;
        EXPECT_NE(notes.find(cut), std::string::npos);
        EXPECT_EQ(notes.find(cut + row.unit), std::string::npos);
    }
}
