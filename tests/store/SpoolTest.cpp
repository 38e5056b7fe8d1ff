#include "receiver/Spool.h"
#include "store/StoreBatch.h"
#include "store/StoreText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace velmora;

namespace {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-spool-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

StoreBatch batchOf(uint64_t number, size_t fixes)
{
    StoreBatch batch;
    batch.number = number;
    const UniqueID vehicle;
    for (size_t i = 0; i < fixes; ++i) {
        batch.fixes.push_back({StoreText::nowMicros(), vehicle, 1700000000, "$GPRMC,\t\\\n" + std::to_string(i)});
    }
    batch.events.push_back({1, vehicle, "10.0.0.1", "N\xC3\xA9", StoreText::NO_TIME, -3, ""});
    batch.newVehicles.push_back({vehicle, "Bus", StoreText::NO_TIME});
    StoreBatch::VehicleState& state = batch.vehicle(vehicle);
    state.fields = StoreBatch::POSITION | StoreBatch::LICENSE;
    state.latitude = -33.5;
    state.info[5] = "B-1";
    state.described = true;
    StoreBatch::AlarmRaise raise;
    raise.vehicle = vehicle;
    raise.kind = 13;
    raise.count = 2;
    raise.event = 0;
    batch.raise(raise);
    return batch;
}

} // namespace

TEST(Spool, KeepsBatchesWholeInNumberOrderWithinItsBound)
{
    TempFolder folder;
    Spool spool;
    spool.open(folder.file("spool.db"), 1024 * 1024);
    EXPECT_EQ(spool.getFrontNumber(), 0u);
    ASSERT_TRUE(spool.add(batchOf(7, 3)));
    ASSERT_TRUE(spool.add(batchOf(5, 2)));
    ASSERT_TRUE(spool.add(batchOf(6, 1)));
    EXPECT_EQ(spool.getCount(), 3u);
    std::vector<uint64_t> order;
    StoreBatch read;
    while (spool.readFront(read)) {
        order.push_back(read.number);
        if (read.number == 7) {
            // Every part survives the trip to disk and back.
            std::string again;
            std::string original;
            read.serialize(again);
            batchOf(7, 3).serialize(original);
            EXPECT_EQ(again.size(), original.size());
            ASSERT_EQ(read.fixes.size(), 3u);
            EXPECT_EQ(read.fixes[2].sentence, "$GPRMC,\t\\\n2");
            EXPECT_EQ(read.events[0].name, "N\xC3\xA9");
            EXPECT_EQ(read.events[0].time, StoreText::NO_TIME);
            EXPECT_EQ(read.vehicles[0].info[5], "B-1");
            EXPECT_TRUE(read.vehicles[0].described);
            EXPECT_EQ(read.alarms[0].count, 2);
        }
        spool.remove(read.number);
    }
    EXPECT_EQ(order, (std::vector<uint64_t>{5, 6, 7}));
    EXPECT_EQ(spool.getBytes(), 0);

    // Past the bound a batch is refused, not kept.
    std::string bytes;
    batchOf(1, 2000).serialize(bytes);
    const int64_t limit = static_cast<int64_t>(bytes.size()) * 2 + 100;
    spool.close();
    Spool bounded;
    bounded.open(folder.file("bounded.db"), limit);
    EXPECT_TRUE(bounded.add(batchOf(1, 2000)));
    EXPECT_TRUE(bounded.add(batchOf(2, 2000)));
    EXPECT_FALSE(bounded.add(batchOf(3, 2000)));
    EXPECT_EQ(bounded.getCount(), 2u);
    EXPECT_LE(bounded.getBytes(), limit);
}

TEST(Spool, ARestartKeepsTheReceiverAndNumbersAboveEveryOneUsed)
{
    TempFolder folder;
    const std::string path = folder.file("spool.db");
    UniqueID receiver;
    uint64_t last = 0;
    {
        Spool spool;
        spool.open(path, Spool::DEFAULT_LIMIT_BYTES);
        receiver = spool.getReceiver();
        for (int i = 0; i < 5; ++i) {
            last = spool.takeNumber();
        }
        ASSERT_TRUE(spool.add(batchOf(last, 1)));
    }
    Spool again;
    again.open(path, Spool::DEFAULT_LIMIT_BYTES);
    EXPECT_EQ(again.getReceiver(), receiver);
    EXPECT_EQ(again.getFrontNumber(), last);
    EXPECT_GT(again.takeNumber(), last);

    // A file that is no spool is set aside, never overwritten.
    const std::string other = folder.file("other.db");
    {
        std::ofstream junk(other);
        junk << "not a database, but someone's file";
    }
    Spool fresh;
    fresh.open(other, Spool::DEFAULT_LIMIT_BYTES);
    EXPECT_FALSE(fresh.getReceiver() == receiver);
    EXPECT_TRUE(std::filesystem::exists(other + ".damaged"));
}

// The watch rules' notes go with their alarms, merged in order, and a batch
// spooled by the program before them (no notes) is still read whole.
TEST(Spool, RuleNotesTravelAndTheFirstFormatIsStillRead)
{
    StoreBatch batch = batchOf(9, 1);
    const UniqueID vehicle;
    StoreBatch::AlarmRaise zone;
    zone.vehicle = vehicle;
    zone.kind = 1001;
    zone.count = 1;
    zone.notes = "2026-01-01 10:00:00 rules: In zone Gate";
    batch.raise(zone);
    zone.notes = "2026-01-01 10:05:00 rules: Entered Yard: In zone Yard";
    batch.raise(zone);
    batch.alarmNotes.push_back({vehicle, 1003, "2026-01-01 10:06:00 rules: Speeding ended"});
    StoreBatch later = batchOf(10, 0);
    later.alarmNotes.push_back({vehicle, 1000, "heard again"});
    batch.append(std::move(later));

    std::string bytes;
    batch.serialize(bytes);
    StoreBatch read;
    ASSERT_TRUE(read.deserialize(bytes.data(), bytes.size()));
    // batchOf's panic, the zone's alarm, the later batch's panic (each
    // batchOf names a vehicle of its own).
    ASSERT_EQ(read.alarms.size(), 3u);
    EXPECT_EQ(read.alarms[1].kind, 1001);
    EXPECT_EQ(read.alarms[1].count, 2);
    EXPECT_EQ(read.alarms[1].notes,
              "2026-01-01 10:00:00 rules: In zone Gate\n2026-01-01 10:05:00 rules: Entered Yard: In zone Yard");
    ASSERT_EQ(read.alarmNotes.size(), 2u);
    EXPECT_EQ(read.alarmNotes[0].kind, 1003);
    EXPECT_EQ(read.alarmNotes[0].text, "2026-01-01 10:06:00 rules: Speeding ended");
    EXPECT_EQ(read.alarmNotes[1].text, "heard again");
    // A note alone makes a batch worth writing.
    StoreBatch noteOnly;
    noteOnly.alarmNotes.push_back({vehicle, 1000, "x"});
    EXPECT_FALSE(noteOnly.isEmpty());

    // The first format: "VBA1", and no notes after each alarm nor the list
    // of notes at the end.
    std::string first;
    batchOf(4, 2).serialize(first);
    ASSERT_GE(first.size(), 8u);
    first.resize(first.size() - 8); // the alarm's empty notes, no alarm notes
    first[0] = '1';                  // "VBA2" little-endian starts with '2'
    StoreBatch old;
    ASSERT_TRUE(old.deserialize(first.data(), first.size()));
    EXPECT_EQ(old.number, 4u);
    ASSERT_EQ(old.fixes.size(), 2u);
    ASSERT_EQ(old.alarms.size(), 1u);
    EXPECT_EQ(old.alarms[0].kind, 13);
    EXPECT_TRUE(old.alarms[0].notes.empty());
    // Cut anywhere else it is damaged, in either format.
    EXPECT_FALSE(old.deserialize(first.data(), first.size() - 1));
    EXPECT_FALSE(old.deserialize(bytes.data(), bytes.size() - 3));
}
