#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velmora {

/// What the receiver has done, for the minute line on standard error and
/// for tests: written by the writing thread, read by any.
class ReceiverCounters {
public:
    std::atomic<uint64_t> storedFixes{0};
    std::atomic<uint64_t> storedEvents{0};
    std::atomic<uint64_t> storedAlarms{0};
    std::atomic<uint64_t> storedBatches{0};
    /// Batches the store had already (replayed after a lost answer).
    std::atomic<uint64_t> duplicateBatches{0};
    std::atomic<uint64_t> spooledBatches{0};
    std::atomic<uint64_t> replayedBatches{0};
    /// Batches (and their fixes and events) the full spool refused: lost.
    std::atomic<uint64_t> refusedBatches{0};
    std::atomic<uint64_t> refusedRows{0};
    /// Batches (and rows) the store refused for good: lost.
    std::atomic<uint64_t> rejectedBatches{0};
    std::atomic<uint64_t> rejectedRows{0};
    std::atomic<uint64_t> connects{0};
    std::atomic<bool> storeUp{false};
    /// When the store went away, UTC microseconds; 0 while it is there.
    std::atomic<int64_t> storeDownSince{0};

    /// count messages went from the receiver to a commit in milliseconds.
    void addLatency(int64_t milliseconds, uint64_t count);
    /// The 99th percentile of the latencies added since the last call, in
    /// milliseconds (-1 when none); starts the next interval.
    int64_t takeLatencyP99();

private:
    /// One slot per millisecond up to the last, which takes everything longer.
    static constexpr size_t SLOTS = 10001;
    std::mutex m_mutex;
    std::vector<uint64_t> m_latency = std::vector<uint64_t>(SLOTS, 0);
    uint64_t m_latencyCount = 0;
};

} // namespace velmora
