// Any text as a GPS sentence; every accessor must give a defined, finite result.

#include "intake/GPSInfo.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string sentence(reinterpret_cast<const char*>(data), size);
    const velmora::GPSInfo gps(sentence);
    check(!gps.getFields().empty());
    check(std::isfinite(gps.getLatitude()));
    check(std::isfinite(gps.getLongitude()));
    check(std::isfinite(gps.getSpeed()));
    check(std::isfinite(gps.getBearing()));
    const velmora::Time t = gps.getUtcTime();
    check(t.getHour() <= 99 && t.getMinute() <= 99 && t.getSecond() <= 99);
    check((static_cast<uint32_t>(t.getValue()) >> 24) == 0);
    (void)gps.hasPosition();
    return 0;
}
