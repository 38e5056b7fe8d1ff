#pragma once

#include "rules/AlarmRequest.h"
#include "rules/GeoPoint.h"
#include "foundation/UniqueID.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace velmora::test {

/// Metres in one degree of latitude on the map page's sphere (radius
/// 6,371,000 m): 2 pi 6371000 / 360.
constexpr double METRES_PER_DEGREE = 111194.92664455873;
constexpr double KNOTS_PER_KMH = 1.0 / 1.852;

/// A fixed vehicle id per number.
inline UniqueID vehicleId(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
    return UniqueID(text);
}

/// A place metres north and east of from, for laying out tracks (an input,
/// never an oracle).
inline GeoPoint moved(GeoPoint from, double northMetres, double eastMetres) {
    GeoPoint to;
    to.latitude = from.latitude + northMetres / METRES_PER_DEGREE;
    to.longitude =
        from.longitude + eastMetres / (METRES_PER_DEGREE * std::cos(from.latitude * std::numbers::pi / 180.0));
    to.longitude = GeoPoint::normalLongitude(to.longitude);
    return to;
}

/// The requests of one step.
inline std::vector<AlarmRequest> ofStep(const std::vector<AlarmRequest>& all, AlarmRequest::Step step) {
    std::vector<AlarmRequest> kept;
    for (const AlarmRequest& r : all) {
        if (r.step == step) {
            kept.push_back(r);
        }
    }
    return kept;
}

} // namespace velmora::test
