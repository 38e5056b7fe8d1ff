#pragma once

#include "foundation/UniqueID.h"

#include <cstdint>
#include <cstring>

namespace velmora {

/// Hash and equality of vehicle ids for unordered containers that are
/// looked up for every message: the bytes themselves, without the virtual
/// comparisons of UniqueID. The ids are random or device-made GUIDs, so
/// their bytes are spread well.
struct UniqueIdHash {
    size_t operator()(const UniqueID& id) const
    {
        uint64_t low = 0;
        uint64_t high = 0;
        std::memcpy(&low, id.getBytes(), sizeof low);
        std::memcpy(&high, id.getBytes() + sizeof low, sizeof high);
        return static_cast<size_t>((low ^ (high * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull >> 7);
    }
};

struct UniqueIdEqual {
    bool operator()(const UniqueID& a, const UniqueID& b) const
    {
        return std::memcmp(a.getBytes(), b.getBytes(), 16) == 0;
    }
};

} // namespace velmora
