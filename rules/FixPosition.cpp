#include "rules/FixPosition.h"

#include "intake/GPSInfo.h"

#include <cmath>
#include <string>

namespace velmora {

namespace {

// Field positions in a $GPRMC sentence as GPSInfo splits it.
constexpr size_t STATUS_FIELD = 2;
constexpr size_t LATITUDE_FIELD = 3;
constexpr size_t LONGITUDE_FIELD = 5;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

bool FixPosition::isOnEarth(double latitude, double longitude) {
    // Also false for NaN, which compares false with everything.
    return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90.0 && latitude <= 90.0 &&
           longitude >= -180.0 && longitude <= 180.0;
}

bool FixPosition::isVoid(const GPSInfo& fix) {
    const auto& fields = fix.getFields();
    if (fields.size() <= STATUS_FIELD) {
        return false;
    }
    char status = 0;
    for (const char c : fields[STATUS_FIELD]) {
        if (isBlank(c)) {
            continue;
        }
        if (status != 0) {
            return false;
        }
        status = c;
    }
    return status == 'V' || status == 'v';
}

bool FixPosition::has(const GPSInfo& fix) {
    const auto& fields = fix.getFields();
    if (!fix.hasPosition() || fields.size() <= LONGITUDE_FIELD || fields[LATITUDE_FIELD].empty() ||
        fields[LONGITUDE_FIELD].empty()) {
        return false;
    }
    const double latitude = fix.getLatitude();
    const double longitude = fix.getLongitude();
    if (!isOnEarth(latitude, longitude)) {
        return false;
    }
    // -0 is 0 as well: "0000.0000,S" is the same placeholder.
    return !(latitude == 0.0 && longitude == 0.0 && isVoid(fix));
}

} // namespace velmora
