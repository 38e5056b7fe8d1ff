#include "intake/CallbackInfo.h"
#include "intake/IntakeQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

constexpr IntakeQueue::Lane R = IntakeQueue::REVIEWED;
constexpr IntakeQueue::Lane U = IntakeQueue::UNREVIEWED;
constexpr int MARKER = -1;

// One row of a queue's life, as the intake thread and the window use it.
struct QueueStep {
    enum Op {
        PUSH,     // message ordinal with gpsBytes of GPS text into lane -> taken, wake
        MARKER_IN,// the stop's marker -> taken, wake
        TAKE,     // a batch of at most most -> these ordinals, left
        PUT_BACK, // the last count messages of the last batch, as an early end of a turn
        DROPPED,  // count dropped in lane so far
    };
    Op op = PUSH;
    IntakeQueue::Lane lane = R;
    int ordinal = 0;
    size_t gpsBytes = 0;
    bool taken = true;
    bool wake = false;
    size_t most = 0;
    std::vector<int> ordinals;
    size_t count = 0;
};

QueueStep queueStep(QueueStep::Op op, IntakeQueue::Lane lane = R) {
    QueueStep made;
    made.op = op;
    made.lane = lane;
    return made;
}
QueueStep push(IntakeQueue::Lane lane, int ordinal, bool taken, bool wake, size_t gpsBytes = 0) {
    QueueStep made = queueStep(QueueStep::PUSH, lane);
    made.ordinal = ordinal;
    made.gpsBytes = gpsBytes;
    made.taken = taken;
    made.wake = wake;
    return made;
}
QueueStep marker(bool wake) {
    QueueStep made = push(U, MARKER, true, wake);
    made.op = QueueStep::MARKER_IN;
    return made;
}
QueueStep take(size_t most, std::vector<int> ordinals, size_t left) {
    QueueStep made = queueStep(QueueStep::TAKE);
    made.most = most;
    made.ordinals = std::move(ordinals);
    made.count = left;
    return made;
}
QueueStep putBack(size_t count) {
    QueueStep made = queueStep(QueueStep::PUT_BACK);
    made.count = count;
    return made;
}
QueueStep dropped(IntakeQueue::Lane lane, size_t count) {
    QueueStep made = queueStep(QueueStep::DROPPED, lane);
    made.count = count;
    return made;
}

struct QueueScenario {
    const char* name;
    IntakeQueue::Bounds reviewed;
    IntakeQueue::Bounds unreviewed;
    std::vector<QueueStep> steps;
};

std::unique_ptr<CallbackInfo> numbered(int ordinal, size_t gpsBytes) {
    auto info = std::make_unique<CallbackInfo>("10.0.0.1", 5000);
    info->setOrdinal(ordinal);
    info->setGpsData(std::string(gpsBytes, 'x'));
    return info;
}

} // namespace

TEST(IntakeQueue, LanesBoundsOrderAndWakeUps) {
    constexpr size_t MANY = 100;
    const std::vector<QueueScenario> scenarios = {
        // About 2.9 kB a message of 2,500 GPS bytes, a few hundred bytes one
        // without: three big ones fit in 10 kB, a fourth does not, a small
        // one does; taking frees the room.
        {"a lane holds at most its bytes",
         {MANY, 10000},
         {MANY, 10000},
         {push(R, 1, true, true, 2500), push(R, 2, true, false, 2500), push(R, 3, true, false, 2500),
          push(R, 4, false, false, 2500), push(R, 5, true, false), dropped(R, 1), take(2, {1, 2}, 2),
          push(R, 6, true, false, 2500), take(10, {3, 5, 6}, 0)}},
        {"a flood of unreviewed messages never drops a known one",
         {4, 1u << 20},
         {4, 1u << 20},
         {push(U, 1, true, true), push(U, 2, true, false), push(U, 3, true, false), push(U, 4, true, false),
          push(U, 5, false, false), push(U, 6, false, false), push(R, 10, true, false), push(R, 11, true, false),
          dropped(U, 2), dropped(R, 0),
          // The known lane is served first.
          take(3, {10, 11, 1}, 3), take(10, {2, 3, 4}, 0)}},
        {"put back after an early end keeps each lane's order",
         {MANY, 1u << 20},
         {MANY, 1u << 20},
         {push(R, 1, true, true), push(R, 2, true, false), push(R, 3, true, false), push(U, 4, true, false),
          push(U, 5, true, false), push(U, 6, true, false), take(5, {1, 2, 3, 4, 5}, 1), putBack(3),
          push(R, 7, true, false), push(U, 8, true, false), take(10, {3, 7, 4, 5, 6, 8}, 0)}},
        {"one wake-up until the queue is emptied",
         {MANY, 1u << 20},
         {MANY, 1u << 20},
         {push(R, 1, true, true), push(R, 2, true, false), push(U, 3, true, false), take(2, {1, 2}, 1),
          push(R, 4, true, false),  // the taker has not emptied it yet
          take(10, {4, 3}, 0), push(U, 5, true, true), take(1, {5}, 0), putBack(1),
          push(R, 6, true, false),  // a put-back turn posts its own wake-up
          take(10, {6, 5}, 0), push(R, 7, true, true)}},
        {"the stop's marker passes every bound, behind what came before",
         {2, 1u << 20},
         {2, 1u << 20},
         {push(R, 1, true, true), push(R, 2, true, false), push(R, 3, false, false), push(U, 4, true, false),
          push(U, 5, true, false), push(U, 6, false, false), marker(false), push(R, 7, false, false),
          take(10, {1, 2, 4, 5, MARKER}, 0)}},
    };
    for (const QueueScenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        IntakeQueue queue(scenario.reviewed, scenario.unreviewed);
        std::vector<std::unique_ptr<CallbackInfo>> batch;
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i));
            const QueueStep& step = scenario.steps[i];
            switch (step.op) {
            case QueueStep::PUSH:
            case QueueStep::MARKER_IN: {
                auto message = numbered(step.ordinal, step.gpsBytes);
                const IntakeQueue::Pushed pushed = step.op == QueueStep::PUSH
                                                       ? queue.push(std::move(message), step.lane)
                                                       : queue.pushMarker(std::move(message));
                EXPECT_EQ(pushed.taken, step.taken);
                EXPECT_EQ(pushed.wake, step.wake);
                break;
            }
            case QueueStep::TAKE: {
                batch.clear();
                EXPECT_EQ(queue.takeBatch(batch, step.most), step.count);
                std::vector<int> ordinals;
                for (const auto& message : batch) {
                    ordinals.push_back(message->getOrdinal());
                }
                EXPECT_EQ(ordinals, step.ordinals);
                break;
            }
            case QueueStep::PUT_BACK: {
                std::vector<std::unique_ptr<CallbackInfo>> rest;
                for (size_t n = batch.size() - step.count; n < batch.size(); ++n) {
                    rest.push_back(std::move(batch[n]));
                }
                batch.resize(batch.size() - step.count);
                queue.putBack(rest);
                EXPECT_TRUE(rest.empty());
                break;
            }
            case QueueStep::DROPPED:
                EXPECT_EQ(queue.getDropped(step.lane), step.count);
                break;
            }
        }
        // What is left is accounted to the byte: an empty queue holds none.
        batch.clear();
        queue.takeBatch(batch, SIZE_MAX);
        EXPECT_EQ(queue.getBytes(R) + queue.getBytes(U), 0u);
    }
}

// The hand-over to the window: bounded, in order, no wake-up lost while one
// thread fills it and another empties it in batches.
TEST(IntakeQueue, BoundedOrderedAndWakesOnce) {
    IntakeQueue queue({100, SIZE_MAX}, {100, SIZE_MAX});
    std::atomic<int> wakes{0};
    std::atomic<bool> done{false};
    std::vector<int> seen;
    std::thread producer([&] {
        for (int n = 0; n < 20000; ++n) {
            auto info = std::make_unique<CallbackInfo>();
            info->setOrdinal(n);
            if (queue.push(std::move(info)).wake) {
                ++wakes;
            }
        }
        done.store(true);
    });
    std::vector<std::unique_ptr<CallbackInfo>> batch;
    int handledWakes = 0;
    while (!done.load() || handledWakes < wakes.load()) {
        if (handledWakes == wakes.load()) {
            std::this_thread::yield();
            continue;
        }
        // One pending wake-up: empty the queue as the window would.
        ++handledWakes;
        size_t left = 0;
        do {
            batch.clear();
            left = queue.takeBatch(batch, 7);
            EXPECT_LE(batch.size() + left, 100u);
            for (auto& info : batch) {
                seen.push_back(info->getOrdinal());
            }
        } while (left > 0);
    }
    producer.join();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(seen.size() + queue.getDropped(), 20000u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    // Full: dropped and counted, except a message that must pass.
    for (int n = 0; n < 100; ++n) {
        ASSERT_TRUE(queue.push(std::make_unique<CallbackInfo>()).taken);
    }
    const uint64_t dropped = queue.getDropped();
    EXPECT_FALSE(queue.push(std::make_unique<CallbackInfo>()).taken);
    EXPECT_EQ(queue.getDropped(), dropped + 1);
    EXPECT_TRUE(queue.push(std::make_unique<CallbackInfo>(), true).taken);
    EXPECT_EQ(queue.size(), 101u);
}
