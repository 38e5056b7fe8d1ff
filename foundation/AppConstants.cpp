#include "foundation/AppConstants.h"

#include <atomic>
#include <mutex>

namespace velmora {

namespace {
std::atomic<AppConstants*> g_instance{nullptr};
std::mutex g_instanceMutex;
} // namespace

AppConstants& AppConstants::getInstance()
{
    AppConstants* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new AppConstants();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

AppConstants::AppConstants()
    : m_dateFormats{{0, "%Y-%m-%d"}, {1, "%Y.%m.%d"}, {2, "%Y/%m/%d"},
                    {3, "%m-%d-%Y"}, {4, "%m.%d.%Y"}, {5, "%m/%d/%Y"},
                    {6, "%d-%m-%Y"}, {7, "%d.%m.%Y"}, {8, "%d/%m/%Y"}},
      m_timeFormats{{0, "%I:%M:%S %p"}, {1, "%H:%M:%S"}}
{
}

const char* AppConstants::getDateFormat(int index) const
{
    const auto it = m_dateFormats.find(index);
    return it != m_dateFormats.end() ? it->second : "%Y-%m-%d";
}

const char* AppConstants::getTimeFormat(int index) const
{
    const auto it = m_timeFormats.find(index);
    return it != m_timeFormats.end() ? it->second : "%I:%M:%S %p";
}

} // namespace velmora
