#include "db/GPSDataContainer.h"

#include "db/DBManager.h"
#include "foundation/thread/ScopedLock.h"

#include <atomic>
#include <mutex>

namespace velmora {

namespace {
std::atomic<GPSDataContainer*> g_instance{nullptr};
std::mutex g_instanceMutex;
} // namespace

GPSDataContainer& GPSDataContainer::getInstance()
{
    GPSDataContainer* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new GPSDataContainer();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

bool GPSDataContainer::insert(const char* timeText, const UniqueID& vehicleId,
                              const char* sentence)
{
    GPSData record;
    record.setGpsData(sentence);
    record.setUpdateTime(timeText);
    record.setVehicleId(vehicleId);
    record.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
    record.setRecordKind(AbstractDatabaseRecord::KIND_GPS);
    return DBManager::getInstance().enqueue(record);
}

void GPSDataContainer::clear()
{
    ScopedLock lock(m_lock);
    m_list.clear();
}

int GPSDataContainer::getCount()
{
    ScopedLock lock(m_lock);
    return static_cast<int>(m_list.size());
}

} // namespace velmora
