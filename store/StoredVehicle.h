#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <string>

namespace velmora {

/// One row of the store's vehicle_info as readers hand it out. Times are UTC
/// seconds (StoreText::NO_TIME for none).
struct StoredVehicle {
    UniqueID id;
    std::string name;
    std::string editedName;
    int64_t lastUpdatedTime = 0;
    bool hasPosition = false;
    double latitude = 0;
    double longitude = 0;
    bool deleted = false;
    std::string company;
    std::string maker;
    std::string model;
    std::string registration;
    std::string driver;
    std::string license;
    std::string info1;
    std::string info2;
    std::string imagePath;
};

} // namespace velmora
