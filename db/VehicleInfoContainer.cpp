#include "db/VehicleInfoContainer.h"

#include "foundation/thread/ScopedLock.h"

#include <atomic>
#include <mutex>

namespace velmora {

namespace {
std::atomic<VehicleInfoContainer*> g_instance{nullptr};
std::mutex g_instanceMutex;
} // namespace

VehicleInfoContainer& VehicleInfoContainer::getInstance()
{
    VehicleInfoContainer* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new VehicleInfoContainer();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

VehicleInfo* VehicleInfoContainer::find(const UniqueID& id)
{
    ScopedLock lock(m_lock);
    const auto it = m_map.find(id);
    return it != m_map.end() ? it->second.get() : nullptr;
}

VehicleInfo* VehicleInfoContainer::create(const UniqueID& id, const std::string& name,
                                          const std::string& timeText)
{
    auto* record = new VehicleInfo(id);
    record->setName(name);
    record->setLastUpdatedTime(timeText);
    return record;
}

bool VehicleInfoContainer::adopt(VehicleInfo* record)
{
    ScopedLock lock(m_lock);
    const auto it = m_map.find(record->getId());
    if (it != m_map.end())
        return it->second.get() == record;
    m_map.emplace(record->getId(), std::unique_ptr<VehicleInfo>(record));
    return true;
}

bool VehicleInfoContainer::remove(const UniqueID& id)
{
    ScopedLock lock(m_lock);
    return m_map.erase(id) != 0;
}

void VehicleInfoContainer::clear()
{
    ScopedLock lock(m_lock);
    m_map.clear();
}

int VehicleInfoContainer::getCount()
{
    ScopedLock lock(m_lock);
    return static_cast<int>(m_map.size());
}

} // namespace velmora
