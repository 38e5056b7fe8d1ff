#include "rules/GeoPoint.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora {

namespace {

constexpr double RADIANS = std::numbers::pi / 180.0;

} // namespace

bool GeoPoint::isValid() const {
    return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90.0 && latitude <= 90.0 &&
           longitude >= -180.0 && longitude <= 180.0;
}

double GeoPoint::distanceTo(const GeoPoint& other) const {
    const double phi1 = latitude * RADIANS;
    const double phi2 = other.latitude * RADIANS;
    const double sinHalfPhi = std::sin((phi2 - phi1) / 2);
    const double sinHalfLambda = std::sin((other.longitude - longitude) * RADIANS / 2);
    const double a = sinHalfPhi * sinHalfPhi + std::cos(phi1) * std::cos(phi2) * sinHalfLambda * sinHalfLambda;
    return 2 * EARTH_RADIUS * std::asin(std::sqrt(std::clamp(a, 0.0, 1.0)));
}

double GeoPoint::normalLongitude(double longitude) {
    if (longitude >= -180.0 && longitude < 180.0) {
        return longitude;
    }
    double wrapped = std::fmod(longitude + 180.0, 360.0);
    if (wrapped < 0) {
        wrapped += 360.0;
    }
    return wrapped - 180.0;
}

} // namespace velmora
