#include "db/EventLogger.h"

#include "db/DBManager.h"
#include "foundation/AppConstants.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/CallbackInfo.h"

#include <atomic>
#include <mutex>
#include <string>

namespace velmora {

namespace {
std::atomic<EventLogger*> g_instance{nullptr};
std::mutex g_instanceMutex;
} // namespace

EventLogger& EventLogger::getInstance()
{
    EventLogger* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new EventLogger();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

bool EventLogger::log(const CallbackInfo& info)
{
    const AppConstants& constants = AppConstants::getInstance();
    std::string pattern = constants.getDateFormat(constants.getDateFormatIndex());
    pattern += ' ';
    pattern += constants.getTimeFormat(constants.getTimeFormatIndex());
    char time[DateTime::FORMATTED_SIZE];
    info.getTime().formatted(pattern.c_str(), time, sizeof time);

    EventLog record;
    record.setId(0);
    record.setAddress(info.getAddress().c_str());
    record.setName(info.getVehicleName().c_str());
    record.setTime(time);
    record.setEventType(info.getEventType());
    record.setDeviceTitle(info.getDeviceTitle().c_str());
    record.setVehicleId(info.getVehicleID());
    record.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
    record.setRecordKind(AbstractDatabaseRecord::KIND_EVENT);
    return DBManager::getInstance().enqueue(record);
}

void EventLogger::clear()
{
    ScopedLock lock(m_lock);
    m_list.clear();
}

int EventLogger::getCount()
{
    ScopedLock lock(m_lock);
    return static_cast<int>(m_list.size());
}

} // namespace velmora
