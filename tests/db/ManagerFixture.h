#pragma once

#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfoContainer.h"
#include "intake/CallbackInfo.h"
#include "tests/support/SqliteRows.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::test {

/// A DBManager opened on a fresh app.db per test, shut down and emptied
/// afterwards, so tests share no state through the singletons.
class ManagerFixture : public ::testing::Test {
protected:
    void SetUp() override { openManager(); }
    void TearDown() override
    {
        DBManager::getInstance().shutdown();
        EventLogger::getInstance().clear();
        GPSDataContainer::getInstance().clear();
        VehicleInfoContainer::getInstance().clear();
    }

    void openManager() { DBManager::getInstance().open(m_path.c_str(), 5000); }
    /// Shuts down (writing everything queued) and opens again.
    void reopen()
    {
        DBManager::getInstance().shutdown();
        openManager();
    }
    std::string count(const char* table) const
    {
        return queryValue(m_path, std::string("SELECT COUNT(*) FROM ") + table + ";");
    }

    /// An event message as the intake delivers it.
    static CallbackInfo eventMessage(const std::string& name, int32_t type = 1)
    {
        CallbackInfo info("10.0.0.7", 5000);
        info.setVehicleName(name);
        info.setEventType(type);
        info.setDeviceTitle("CAM 1");
        info.setTime(DateTime(2026, 1, 31, 17, 5, 9));
        return info;
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("app.db");
};

} // namespace velmora::test
