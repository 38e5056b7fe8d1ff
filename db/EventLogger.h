#pragma once

#include "db/EventLog.h"
#include "foundation/ISingleton.h"
#include "foundation/thread/Mutex.h"

#include <deque>

namespace velmora {

class CallbackInfo;

/// The events of the last event search (DBManager::loadEvents), in row
/// order, and the operation that stores a new event. Callers that walk the
/// list hold the lock.
class EventLogger : public ISingleton {
public:
    /// A deque: records keep their address while the list grows, and a
    /// million of them cost no more than their own size.
    using List = std::deque<EventLog>;

    /// The instance, made on the first call.
    static EventLogger& getInstance();

    Mutex& getLock() { return m_lock; }
    /// The list; hold the lock while using it.
    List& getList() { return m_list; }
    /// Queues one event made from info (name and title cut to 32, time in the
    /// stored form); true when the queue took it. The list is not changed.
    bool log(const CallbackInfo& info);
    /// Destroys every record.
    void clear();
    int getCount();

private:
    EventLogger() = default;

    Mutex m_lock;
    List m_list;
};

} // namespace velmora
