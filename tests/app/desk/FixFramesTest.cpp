// Fixes reach the page a frame at a time: of each vehicle only the newest
// position, the frame's commands made from the vehicle as it is when the
// frame goes, the next frame only once the page has run the last one.

#include "app/hub/FixFrames.h"
#include "app/hub/IPageRunner.h"
#include "tests/support/QtWait.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

/// A page that answers whenRun only when the test says so.
class SlowPage : public IPageRunner {
public:
    void execute(const QString& command) override { commands.push_back(command.toStdString()); }
    void whenRun(std::function<void()> done) override { waiting.push_back(std::move(done)); }
    void answer() {
        while (!waiting.empty()) {
            auto done = std::move(waiting.front());
            waiting.pop_front();
            done();
        }
    }
    std::vector<std::string> commands;
    std::deque<std::function<void()>> waiting;
};

UniqueID idOf(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
    UniqueID id;
    UniqueID::parse(text, id);
    return id;
}

std::string fixOf(int minutes) {
    return "$GPRMC,120000,A,47" + std::to_string(10 + minutes) + ".000,N,00830.000,E,1,90,310126,,";
}

} // namespace

TEST(FixFramesTest, AFrameShowsEachVehiclesNewestFixInTheOrderTheyCameAndWaitsForThePage) {
    SlowPage page;
    FixFrames frames(page);
    std::vector<std::string> names = {"first", "first", "first"};
    frames.setShow([&](const UniqueID& id, const GPSInfo* fix) {
        // What the vehicle is when the frame goes, not when the fix came.
        page.execute(QString::fromStdString(id.toText().substr(30) + " " + names[0] + " " +
                                            (fix != nullptr ? fix->getFields()[3] : std::string("-"))));
    });
    const struct {
        int vehicle;
        int minute; ///< -1: a fix without a position
    } fixes[] = {{2, 1}, {1, 2}, {2, 3}, {3, -1}, {1, 4}, {2, 5}, {3, 6}, {4, -1}};
    for (const auto& f : fixes) {
        if (f.minute < 0) {
            frames.put(idOf(f.vehicle), nullptr);
        } else {
            const GPSInfo info(fixOf(f.minute));
            frames.put(idOf(f.vehicle), &info);
        }
    }
    frames.forget(idOf(4));
    names[0] = "renamed";
    EXPECT_EQ(frames.getPendingCount(), 4u); // the order keeps a forgotten vehicle's place
    ASSERT_TRUE(waitUntil([&] { return !page.commands.empty(); }, 2000));
    EXPECT_EQ(page.commands, (std::vector<std::string>{"000002 renamed 4715.000", "000001 renamed 4714.000",
                                                       "000003 renamed 4716.000"}));
    // The page has not answered: fixes coalesce, no frame goes.
    for (int minute = 10; minute < 20; ++minute) {
        const GPSInfo info(fixOf(minute));
        frames.put(idOf(minute % 2), &info);
    }
    pump(4 * FixFrames::FRAME_MS);
    EXPECT_EQ(page.commands.size(), 3u);
    EXPECT_EQ(frames.getFrameCount(), 1u);
    page.commands.clear();
    page.answer();
    ASSERT_TRUE(waitUntil([&] { return !page.commands.empty(); }, 2000));
    EXPECT_EQ(page.commands, (std::vector<std::string>{"000000 renamed 4728.000", "000001 renamed 4729.000"}));
    EXPECT_EQ(frames.getFrameCount(), 2u);
}

TEST(FixFramesTest, APageThatNeverAnswersHoldsAFrameBackOnlySoLong) {
    SlowPage page;
    FixFrames frames(page);
    int shown = 0;
    frames.setShow([&](const UniqueID&, const GPSInfo*) { ++shown; });
    frames.put(idOf(1), nullptr);
    ASSERT_TRUE(waitUntil([&] { return shown == 1; }, 2000));
    frames.put(idOf(1), nullptr);
    pump(FixFrames::PAGE_PATIENCE_MS / 2);
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(waitUntil([&] { return shown == 2; }, FixFrames::PAGE_PATIENCE_MS * 2));
    // A stop drops what waits.
    frames.put(idOf(2), nullptr);
    frames.clear();
    pump(FixFrames::PAGE_PATIENCE_MS + 200);
    EXPECT_EQ(shown, 2);
}
