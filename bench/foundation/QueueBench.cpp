// MessageQueue put+take of 200-byte messages between one producer and one
// consumer thread, against std::mutex + std::condition_variable +
// std::deque<std::vector<char>> in the same run, in five alternating rounds.
// Each round goes to standard error; one summary line of the medians ends it.
#include "foundation/thread/MessageQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

constexpr uint32_t kMessageSize = 200;
// The database queue's own limits.
constexpr uint32_t kCapacity = 1048576;
constexpr int32_t kMaxCount = 2048;

class BaselineQueue {
public:
    void put(const char* data, size_t length)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notFull.wait(lock, [this] { return m_messages.size() < kMaxCount; });
        m_messages.emplace_back(data, data + length);
        m_notEmpty.notify_one();
    }
    size_t take(char* buffer, size_t size)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notEmpty.wait(lock, [this] { return !m_messages.empty(); });
        std::vector<char> message = std::move(m_messages.front());
        m_messages.pop_front();
        m_notFull.notify_one();
        lock.unlock();
        const size_t length = message.size() < size ? message.size() : size;
        std::memcpy(buffer, message.data(), length);
        return length;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_notEmpty, m_notFull;
    std::deque<std::vector<char>> m_messages;
};

template <typename Put, typename Take>
double run(long count, Put put, Take take)
{
    const auto start = std::chrono::steady_clock::now();
    std::thread producer([&] {
        char message[kMessageSize];
        for (long i = 0; i < count; ++i) {
            std::memcpy(message, &i, sizeof i);
            put(message);
        }
    });
    char buffer[kMessageSize];
    long checksum = 0;
    for (long i = 0; i < count; ++i) {
        take(buffer);
        long value;
        std::memcpy(&value, buffer, sizeof value);
        if (value != i) {
            std::fprintf(stderr, "out of order: %ld != %ld\n", value, i);
            std::exit(1);
        }
        checksum += value;
    }
    producer.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(count) / seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 2000000;
    constexpr int kRounds = 5;
    // Alternate the two, round by round, and compare medians: one run of the
    // baseline swings by a factor of four on a shared machine.
    std::vector<double> ours, baseline;
    for (int round = 0; round < kRounds; ++round) {
        MessageQueue queue(kCapacity, nullptr, kMaxCount);
        ours.push_back(run(
            count, [&](const char* m) { queue.put(m, kMessageSize); },
            [&](char* b) { queue.take(b, kMessageSize); }));
        BaselineQueue plain;
        baseline.push_back(run(
            count, [&](const char* m) { plain.put(m, kMessageSize); },
            [&](char* buf) { plain.take(buf, kMessageSize); }));
        std::fprintf(stderr, "round %d: ours=%.0f baseline=%.0f\n", round + 1, ours.back(), baseline.back());
    }
    const double oursMedian = median(ours);
    const double baselineMedian = median(baseline);
    std::printf("queue: rounds=%d msgs_per_s=%.0f baseline_msgs_per_s=%.0f ratio=%.2f\n", kRounds, oursMedian,
                baselineMedian, oursMedian / baselineMedian);
    return 0;
}
