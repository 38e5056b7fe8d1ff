#include "intake/IntakeQueue.h"

#include "intake/CallbackInfo.h"

#include <algorithm>

namespace velmora {

IntakeQueue::IntakeQueue(size_t capacity) : m_capacity(std::max<size_t>(capacity, 1)) {}

IntakeQueue::~IntakeQueue() = default;

IntakeQueue::Pushed IntakeQueue::push(std::unique_ptr<CallbackInfo> message, bool overCapacity) {
    Pushed pushed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (overCapacity || m_messages.size() < m_capacity) {
            m_messages.push_back(std::move(message));
            pushed.taken = true;
            pushed.wake = !m_wakePending;
            m_wakePending = true;
        }
    }
    if (!pushed.taken) {
        ++m_dropped;
    }
    // A dropped message is freed here, outside the lock.
    return pushed;
}

size_t IntakeQueue::takeBatch(std::vector<std::unique_ptr<CallbackInfo>>& out, size_t most) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t count = std::min(most, m_messages.size());
    for (size_t i = 0; i < count; ++i) {
        out.push_back(std::move(m_messages.front()));
        m_messages.pop_front();
    }
    if (m_messages.empty()) {
        m_wakePending = false;
    }
    return m_messages.size();
}

void IntakeQueue::putBack(std::vector<std::unique_ptr<CallbackInfo>>& messages) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        m_messages.push_front(std::move(*it));
    }
    messages.clear();
    if (!m_messages.empty()) {
        m_wakePending = true;
    }
}

void IntakeQueue::clear() {
    std::deque<std::unique_ptr<CallbackInfo>> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    dropped.swap(m_messages);
    m_wakePending = false;
}

size_t IntakeQueue::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

} // namespace velmora
