#include "foundation/thread/MessageQueue.h"
#include "foundation/thread/MessageQueueListener.h"
#include "foundation/thread/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

bool putText(MessageQueue& queue, const std::string& text, int64_t ms = 0)
{
    return queue.timedPut(text.data(), static_cast<uint32_t>(text.size()), ms);
}

std::string takeText(MessageQueue& queue, int64_t ms = 0)
{
    char buffer[4096];
    const uint32_t length = queue.timedTake(buffer, sizeof buffer, ms);
    return std::string(buffer, length);
}

class CountingListener : public MessageQueueListener {
public:
    void onPut(const void* const*, const uint32_t* lengths, int pieceCount) override
    {
        ++puts;
        for (int i = 0; i < pieceCount; ++i)
            putBytes += lengths[i];
    }
    void onTake(const void*, uint32_t length) override
    {
        ++takes;
        takeBytes += length;
    }
    void onClear() override { ++clears; }
    int puts = 0, takes = 0, clears = 0;
    uint32_t putBytes = 0, takeBytes = 0;
};

} // namespace

TEST(MessageQueueTest, PiecesAreJoinedAndMessagesComeOutInOrder)
{
    CountingListener listener;
    MessageQueue queue(1024, &listener, 16);
    const char* pieces[] = {"ab", "", "cde"};
    const uint32_t lengths[] = {2, 0, 3};
    ASSERT_TRUE(queue.timedPut(reinterpret_cast<const void* const*>(pieces), lengths, 3, 0));
    ASSERT_TRUE(putText(queue, "second"));
    EXPECT_EQ(queue.getCount(), 2);
    EXPECT_EQ(takeText(queue), "abcde");
    EXPECT_EQ(takeText(queue), "second");
    EXPECT_EQ(takeText(queue), "");
    EXPECT_EQ(listener.puts, 2);
    EXPECT_EQ(listener.takes, 2);
    EXPECT_EQ(listener.putBytes, 11u);
    EXPECT_EQ(listener.takeBytes, 11u);
}

TEST(MessageQueueTest, RingWrapsUsingDataEnd)
{
    // 64 bytes: three 16-byte messages (20 with header) fill 60 bytes.
    MessageQueue queue(64, nullptr, 100);
    const std::string a(16, 'a'), b(16, 'b'), c(16, 'c'), d(16, 'd'), e(16, 'e');
    ASSERT_TRUE(putText(queue, a));
    ASSERT_TRUE(putText(queue, b));
    ASSERT_TRUE(putText(queue, c));
    EXPECT_FALSE(putText(queue, d)); // 4 bytes left at the end, none at the front
    EXPECT_EQ(takeText(queue), a);   // frees 20 bytes at the front
    ASSERT_TRUE(putText(queue, d));  // does not fit after writePos: goes to offset 0
    EXPECT_FALSE(putText(queue, e));
    EXPECT_EQ(takeText(queue), b);
    EXPECT_EQ(takeText(queue), c); // reaches dataEnd: reading goes on at 0
    EXPECT_EQ(takeText(queue), d);
    EXPECT_EQ(queue.getCount(), 0);
    // Empty again: the whole ring is free.
    const std::string big(60, 'x');
    ASSERT_TRUE(putText(queue, big));
    EXPECT_EQ(takeText(queue), big);
}

TEST(MessageQueueTest, CountAndByteLimitsRefuseAtOnce)
{
    MessageQueue byCount(4096, nullptr, 3);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(putText(byCount, "m"));
    EXPECT_FALSE(putText(byCount, "m"));
    EXPECT_FALSE(putText(byCount, "m", 30)); // times out after 30 ms

    MessageQueue byBytes(64, nullptr, 1000);
    EXPECT_FALSE(putText(byBytes, std::string(61, 'x'))); // larger than capacity - 4
    ASSERT_TRUE(putText(byBytes, std::string(60, 'x')));
    EXPECT_FALSE(putText(byBytes, ""));
}

TEST(MessageQueueTest, CloseEndsTakesAndPuts)
{
    MessageQueue queue(256, nullptr, 8);
    ASSERT_TRUE(putText(queue, "left behind"));
    queue.close();
    EXPECT_TRUE(queue.isClosed());
    EXPECT_EQ(takeText(queue), "");
    EXPECT_FALSE(putText(queue, "late"));
    char buffer[16];
    EXPECT_EQ(queue.take(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(queue.put("x", 1));
}

TEST(MessageQueueTest, CloseReleasesEveryBlockedThread)
{
    MessageQueue full(256, nullptr, 1);
    ASSERT_TRUE(putText(full, "x"));
    MessageQueue empty(256, nullptr, 1);
    std::atomic<int> released{0};
    std::vector<std::thread> blocked;
    for (int i = 0; i < 3; ++i) {
        blocked.emplace_back([&] {
            if (!full.put("y", 1))
                ++released;
        });
        blocked.emplace_back([&] {
            char buffer[4];
            if (empty.take(buffer, sizeof buffer) == 0)
                ++released;
        });
    }
    Thread::sleep(50);
    full.close();
    empty.close();
    for (auto& t : blocked)
        t.join();
    EXPECT_EQ(released.load(), 6);
}

TEST(MessageQueueTest, ClearLetsABlockedProducerGoOn)
{
    CountingListener listener;
    MessageQueue queue(256, &listener, 1);
    ASSERT_TRUE(putText(queue, "first"));
    std::atomic<bool> stored{false};
    std::thread producer([&] { stored = queue.put("second", 6); });
    Thread::sleep(30);
    EXPECT_FALSE(stored.load());
    queue.clear();
    producer.join();
    EXPECT_TRUE(stored.load());
    EXPECT_EQ(listener.clears, 1);
    EXPECT_EQ(takeText(queue), "second");
}

TEST(MessageQueueTest, TimedTakeWaitsForAProducer)
{
    MessageQueue queue(256, nullptr, 4);
    std::thread producer([&] {
        Thread::sleep(20);
        putText(queue, "late");
    });
    EXPECT_EQ(takeText(queue, 5000), "late");
    producer.join();
    EXPECT_EQ(takeText(queue, 10), "");
}

TEST(MessageQueueTest, OversizeMessageIsCutToTheBuffer)
{
    MessageQueue queue(256, nullptr, 4);
    ASSERT_TRUE(putText(queue, "0123456789"));
    ASSERT_TRUE(putText(queue, "next"));
    char buffer[4];
    EXPECT_EQ(queue.timedTake(buffer, sizeof buffer, 0), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(takeText(queue), "next");
}

TEST(MessageQueueTest, ManyProducersKeepContentAndOrder)
{
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 5000;
    // Small on purpose: producers block and the ring wraps very often.
    MessageQueue queue(2048, nullptr, 32);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&queue, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                // Lengths vary so messages land at every offset.
                char text[200];
                const int length = std::snprintf(text, sizeof text, "%d:%d:", p, i);
                const int padding = (i * 7 + p) % 120;
                std::memset(text + length, 'a' + p, static_cast<size_t>(padding));
                ASSERT_TRUE(queue.put(text, static_cast<uint32_t>(length + padding)));
            }
        });
    }
    int next[kProducers] = {};
    char buffer[256];
    for (int received = 0; received < kProducers * kPerProducer; ++received) {
        const uint32_t length = queue.take(buffer, sizeof buffer);
        ASSERT_GT(length, 0u);
        int p = -1, i = -1, consumed = 0;
        ASSERT_EQ(std::sscanf(std::string(buffer, length).c_str(), "%d:%d:%n", &p, &i, &consumed), 2);
        ASSERT_GE(p, 0);
        ASSERT_LT(p, kProducers);
        ASSERT_EQ(i, next[p]) << "producer " << p << " out of order";
        ++next[p];
        const int padding = (i * 7 + p) % 120;
        ASSERT_EQ(static_cast<int>(length), consumed + padding);
        for (uint32_t k = static_cast<uint32_t>(consumed); k < length; ++k)
            ASSERT_EQ(buffer[k], 'a' + p);
    }
    for (auto& t : producers)
        t.join();
    EXPECT_EQ(queue.getCount(), 0);
}
