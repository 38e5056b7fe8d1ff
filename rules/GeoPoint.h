#pragma once

namespace velmora {

/// A place on the ground in degrees: latitude north positive, longitude
/// east positive. Distances are taken on a sphere of EARTH_RADIUS, the one
/// the map page draws circles on, so a zone's circle alarms where the
/// operator drew it.
struct GeoPoint {
    /// Metres; the map page's sphere.
    static constexpr double EARTH_RADIUS = 6371000.0;

    double latitude = 0;
    double longitude = 0;

    /// Whether both are finite, the latitude within -90..90 and the
    /// longitude within -180..180.
    bool isValid() const;
    /// The great-circle distance to other in metres (haversine).
    double distanceTo(const GeoPoint& other) const;
    /// The longitude brought into -180 (included) .. 180 (excluded).
    static double normalLongitude(double longitude);
};

} // namespace velmora
