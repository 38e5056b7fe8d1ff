#include "db/Setup.h"

#include "foundation/thread/ScopedLock.h"

#include <atomic>
#include <mutex>

namespace velmora {

namespace {
std::atomic<Setup*> g_instance{nullptr};
std::mutex g_instanceMutex;
} // namespace

Setup& Setup::getInstance()
{
    Setup* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new Setup();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

void Setup::writeDefaults(SetupDatabase& database)
{
    ScopedLock lock(getLock());
    database.begin();
    try {
        database.insertInt("Magic", 4915331, false);
        database.insertString("Version", "1.0.0", false);
        database.insertBool("Initialized", true, false);
        database.insertInt(KEY_PORT, DEFAULT_PORT, false);
        database.insertString("setup/Driver", "Driver", false);
        database.insertString("setup/Company", "Company", false);
        database.insertString("setup/Image", "Image", false);
        database.commit();
    } catch (...) {
        // A failed default must not leave the transaction open on the
        // connection, or every later write would fail with "within a
        // transaction".
        try {
            database.execute("ROLLBACK;");
        } catch (...) {
        }
        throw;
    }
}

void Setup::onOpened(SetupDatabase&)
{
}

} // namespace velmora
