#include "foundation/UniqueID.h"
#include "intake/SeededHash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>

using namespace velmora;

// The published SipHash-2-4 values for key 00 01 .. 0f and the message
// 00 01 .. of each length.
TEST(SeededHash, MatchesThePublishedValues) {
    struct Row {
        size_t length;
        uint64_t expected;
    };
    const Row rows[] = {
        {0, 0x726fdb47dd0e0e31ull}, {1, 0x74f839c593dc67fdull}, {8, 0x93f5f5799a932462ull},
        {15, 0xa129ca6149be45e5ull},
    };
    const SeededHash hash(0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull);
    uint8_t message[16];
    for (int i = 0; i < 16; ++i) {
        message[i] = static_cast<uint8_t>(i);
    }
    for (const Row& row : rows) {
        EXPECT_EQ(hash.hash(message, row.length), row.expected) << row.length;
    }
}

// Ids made to share one value under a fixed mix of their two halves still
// spread under the process key, which a sender cannot know.
TEST(SeededHash, CraftedIdsDoNotShareAValue) {
    const SeededHash hash;
    std::set<size_t> values;
    for (uint64_t n = 1; n <= 1000; ++n) {
        const uint64_t high = n;
        const uint64_t low = 0x5555555555555555ull ^ (high * 0x9E3779B97F4A7C15ull);
        uint8_t bytes[16];
        std::memcpy(bytes, &low, 8);
        std::memcpy(bytes + 8, &high, 8);
        values.insert(hash(UniqueID::fromBytes(bytes)) % 4099);
    }
    // 1,000 random values in 4,099 buckets fill about 890 of them.
    EXPECT_GT(values.size(), 800u);
}
