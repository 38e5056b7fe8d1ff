#include "intake/IntakeQueue.h"

#include "intake/CallbackInfo.h"

#include <algorithm>

namespace velmora {

IntakeQueue::IntakeQueue() : IntakeQueue(DEFAULT_REVIEWED, DEFAULT_UNREVIEWED) {}

IntakeQueue::IntakeQueue(const Bounds& reviewed, const Bounds& unreviewed)
{
    m_lanes[REVIEWED].bounds = {std::max<size_t>(reviewed.messages, 1), reviewed.bytes};
    m_lanes[UNREVIEWED].bounds = {std::max<size_t>(unreviewed.messages, 1), unreviewed.bytes};
}

IntakeQueue::~IntakeQueue() = default;

IntakeQueue::Pushed IntakeQueue::push(std::unique_ptr<CallbackInfo> message, Lane lane)
{
    return append(std::move(message), lane, false);
}

IntakeQueue::Pushed IntakeQueue::push(std::unique_ptr<CallbackInfo> message, bool overCapacity)
{
    return append(std::move(message), REVIEWED, overCapacity);
}

IntakeQueue::Pushed IntakeQueue::pushMarker(std::unique_ptr<CallbackInfo> message)
{
    // The unreviewed lane is served after the reviewed one has been
    // emptied into the same batch, so everything queued before the marker,
    // in either lane, is taken before it.
    return append(std::move(message), UNREVIEWED, true);
}

IntakeQueue::Pushed IntakeQueue::append(std::unique_ptr<CallbackInfo> message, Lane lane, bool overBounds)
{
    // Measured outside the lock: the intake thread owns the message.
    const size_t bytes = message->estimateBytes();
    LaneState& state = m_lanes[lane];
    Pushed pushed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool fits = state.entries.size() < state.bounds.messages && state.bytes + bytes <= state.bounds.bytes;
        if (overBounds || fits) {
            state.entries.push_back({std::move(message), bytes});
            state.bytes += bytes;
            pushed.taken = true;
            pushed.wake = !m_wakePending;
            m_wakePending = true;
        }
    }
    if (!pushed.taken) {
        ++state.dropped;
    }
    // A dropped message is freed here, outside the lock.
    return pushed;
}

size_t IntakeQueue::takeBatch(std::vector<std::unique_ptr<CallbackInfo>>& out, size_t most)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_takenUnreviewed.clear();
    size_t room = most;
    for (LaneState& state : m_lanes) {
        const bool unreviewed = &state == &m_lanes[UNREVIEWED];
        for (; room > 0 && !state.entries.empty(); --room) {
            Entry& entry = state.entries.front();
            state.bytes -= entry.bytes;
            if (unreviewed) {
                m_takenUnreviewed.push_back(entry.message.get());
            }
            out.push_back(std::move(entry.message));
            state.entries.pop_front();
        }
    }
    std::sort(m_takenUnreviewed.begin(), m_takenUnreviewed.end());
    const size_t left = m_lanes[REVIEWED].entries.size() + m_lanes[UNREVIEWED].entries.size();
    if (left == 0) {
        m_wakePending = false;
    }
    return left;
}

void IntakeQueue::putBack(std::vector<std::unique_ptr<CallbackInfo>>& messages)
{
    std::vector<Entry> returned;
    returned.reserve(messages.size());
    for (auto& message : messages) {
        if (message) {
            const size_t bytes = message->estimateBytes();
            returned.push_back({std::move(message), bytes});
        }
    }
    messages.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    // Last first, each to the front of its own lane: a lane gets its
    // messages back in the order given.
    for (auto it = returned.rbegin(); it != returned.rend(); ++it) {
        const bool unreviewed =
            std::binary_search(m_takenUnreviewed.begin(), m_takenUnreviewed.end(), it->message.get());
        LaneState& state = m_lanes[unreviewed ? UNREVIEWED : REVIEWED];
        state.bytes += it->bytes;
        state.entries.push_front(std::move(*it));
    }
    if (!m_lanes[REVIEWED].entries.empty() || !m_lanes[UNREVIEWED].entries.empty()) {
        m_wakePending = true;
    }
}

void IntakeQueue::clear()
{
    std::deque<Entry> dropped[2];
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int lane = REVIEWED; lane <= UNREVIEWED; ++lane) {
        dropped[lane].swap(m_lanes[lane].entries);
        m_lanes[lane].bytes = 0;
    }
    m_takenUnreviewed.clear();
    m_wakePending = false;
}

size_t IntakeQueue::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lanes[REVIEWED].entries.size() + m_lanes[UNREVIEWED].entries.size();
}

size_t IntakeQueue::size(Lane lane) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lanes[lane].entries.size();
}

size_t IntakeQueue::getBytes(Lane lane) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lanes[lane].bytes;
}

uint64_t IntakeQueue::getDropped() const
{
    return m_lanes[REVIEWED].dropped.load() + m_lanes[UNREVIEWED].dropped.load();
}

} // namespace velmora
