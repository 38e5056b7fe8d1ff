#pragma once

#include "db/GPSData.h"
#include "foundation/ISingleton.h"
#include "foundation/thread/Mutex.h"

#include <deque>

namespace velmora {

/// The fixes of the last track request (DBManager::loadGPSData), in row
/// order, and the operation that stores a new fix. Callers that walk the
/// list hold the lock.
class GPSDataContainer : public ISingleton {
public:
    using List = std::deque<GPSData>;

    /// The instance, made on the first call.
    static GPSDataContainer& getInstance();

    Mutex& getLock() { return m_lock; }
    /// The list; hold the lock while using it.
    List& getList() { return m_list; }
    /// Queues one fix (sentence cut to 81, time to 20 characters); true when
    /// the queue took it. The list is not changed.
    bool insert(const char* timeText, const UniqueID& vehicleId, const char* sentence);
    /// Destroys every record.
    void clear();
    int getCount();

private:
    GPSDataContainer() = default;

    Mutex m_lock;
    List m_list;
};

} // namespace velmora
