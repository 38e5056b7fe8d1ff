#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <string>

namespace velmora {

/// One row of the store's gps_data as readers hand it out.
struct StoredFix {
    int64_t id = 0;
    UniqueID vehicle;
    std::string sentence;
    int64_t time = 0;     ///< the device's time, UTC seconds, or StoreText::NO_TIME
    int64_t received = 0; ///< when the receiver took it, UTC microseconds
};

} // namespace velmora
