#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <string>

namespace velmora {

/// One row of the store's event_info as readers hand it out.
struct StoredEvent {
    int64_t id = 0;
    UniqueID vehicle;
    std::string address;
    std::string name;
    int64_t time = 0;     ///< the device's time, UTC seconds, or StoreText::NO_TIME
    int32_t kind = 0;
    std::string title;
    int64_t received = 0; ///< UTC microseconds
};

} // namespace velmora
