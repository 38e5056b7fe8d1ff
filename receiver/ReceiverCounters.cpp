#include "receiver/ReceiverCounters.h"

#include <algorithm>

namespace velmora {

void ReceiverCounters::addLatency(int64_t milliseconds, uint64_t count)
{
    const size_t slot = static_cast<size_t>(std::clamp<int64_t>(milliseconds, 0, SLOTS - 1));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latency[slot] += count;
    m_latencyCount += count;
}

int64_t ReceiverCounters::takeLatencyP99()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_latencyCount == 0) {
        return -1;
    }
    const uint64_t rank = (m_latencyCount * 99 + 99) / 100;
    uint64_t seen = 0;
    int64_t p99 = SLOTS - 1;
    for (size_t slot = 0; slot < SLOTS; ++slot) {
        seen += m_latency[slot];
        if (seen >= rank) {
            p99 = static_cast<int64_t>(slot);
            break;
        }
    }
    std::fill(m_latency.begin(), m_latency.end(), 0);
    m_latencyCount = 0;
    return p99;
}

} // namespace velmora
