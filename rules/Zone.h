#pragma once

#include "rules/GeoPoint.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

/// A zone the operator drew on the map: a circle (centre and radius in
/// metres on the ground) or a polygon (its vertices), with what it watches:
/// alarm on entry, on exit or both, the dwell time a vehicle must spend
/// inside or outside before that counts, and a speed limit of its own.
///
/// A polygon's edges each take the short way round, so a polygon drawn
/// across the antimeridian (179°E to 179°W) is the narrow strip it looks
/// like on the map, not the rest of the world. A polygon round a pole has
/// no such reading and is not valid; a circle may hold a pole.
///
/// The geometry is fixed when the zone is made; a zone made from bad
/// numbers exists but is not valid (isValid), and holds no point. A plain
/// value: copies share nothing.
class Zone {
public:
    enum Shape { CIRCLE = 0, POLYGON = 1 };

    static constexpr int32_t DWELL_DEFAULT = 30;
    /// Seconds; a day.
    static constexpr int32_t DWELL_MAX = 86400;
    /// Metres.
    static constexpr double RADIUS_MIN = 1.0;
    static constexpr double RADIUS_MAX = 1000000.0;
    static constexpr size_t VERTICES_MIN = 3;
    static constexpr size_t VERTICES_MAX = 1000;
    /// km/h; 0 is no limit of the zone's own.
    static constexpr int32_t SPEED_LIMIT_MAX = 1000;

    /// An empty circle at 0, 0: not valid.
    Zone();

    /// A circle of radiusMetres on the ground round centre; valid when the
    /// centre is a place and the radius within RADIUS_MIN..RADIUS_MAX.
    static Zone circle(int32_t id, const std::string& name, GeoPoint centre, double radiusMetres);
    /// A polygon through vertices in order (closed by itself); valid with
    /// VERTICES_MIN..VERTICES_MAX places, no edge spanning exactly 180° of
    /// longitude, and no pole inside.
    static Zone polygon(int32_t id, const std::string& name, const std::vector<GeoPoint>& vertices);
    /// The zone of a stored shape ("circle" or "polygon") and geometry text
    /// (see geometryText); false when they are not a valid zone. Numbers are
    /// read the same in every locale.
    static bool parse(int32_t id, const std::string& name, const std::string& shape, const std::string& geometry,
                      Zone& zone);

    bool isValid() const { return m_valid; }
    int32_t getId() const { return m_id; }
    void setId(int32_t id) { m_id = id; }
    const std::string& getName() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    Shape getShape() const { return m_shape; }
    /// A circle's centre.
    GeoPoint getCentre() const { return m_centre; }
    /// A circle's radius in metres.
    double getRadius() const { return m_radius; }
    /// A polygon's vertices as given.
    const std::vector<GeoPoint>& getVertices() const { return m_vertices; }

    bool getAlarmOnEntry() const { return m_alarmOnEntry; }
    void setAlarmOnEntry(bool on) { m_alarmOnEntry = on; }
    bool getAlarmOnExit() const { return m_alarmOnExit; }
    void setAlarmOnExit(bool on) { m_alarmOnExit = on; }
    int32_t getDwellSeconds() const { return m_dwellSeconds; }
    /// Clamped to 0..DWELL_MAX.
    void setDwellSeconds(int32_t seconds);
    /// 0 when the zone has no limit of its own.
    int32_t getSpeedLimitKmh() const { return m_speedLimitKmh; }
    /// Clamped to 0..SPEED_LIMIT_MAX.
    void setSpeedLimitKmh(int32_t kmh);

    /// Whether point lies inside (a circle's rim counts as inside).
    bool contains(GeoPoint point) const;

    /// The box round the zone in degrees. West and east may pass -180 or
    /// 180 where the zone crosses the antimeridian; east - west is 360 when
    /// the zone reaches every longitude (a circle round a pole).
    double getSouth() const { return m_south; }
    double getNorth() const { return m_north; }
    double getWest() const { return m_west; }
    double getEast() const { return m_east; }

    /// "circle" or "polygon".
    const char* shapeText() const;
    /// The stored geometry, numbers written the same in every locale: a
    /// circle "lat lng radius", a polygon "lat lng,lat lng,...".
    std::string geometryText() const;
    /// Whether other has the same shape and numbers (names and settings
    /// aside).
    bool sameGeometry(const Zone& other) const;

private:
    void makeCircleBounds();
    void makePolygonBounds();
    bool polygonContains(GeoPoint point) const;

    int32_t m_id = 0;
    std::string m_name;
    Shape m_shape = CIRCLE;
    GeoPoint m_centre;
    double m_radius = 0;
    std::vector<GeoPoint> m_vertices;
    /// The vertices' longitudes, unwrapped so no edge jumps by 360.
    std::vector<double> m_unwrapped;
    /// The vertices' latitudes in the page's projection.
    std::vector<double> m_projected;
    bool m_alarmOnEntry = true;
    bool m_alarmOnExit = false;
    int32_t m_dwellSeconds = DWELL_DEFAULT;
    int32_t m_speedLimitKmh = 0;
    bool m_valid = false;
    double m_south = 0;
    double m_north = 0;
    double m_west = 0;
    double m_east = 0;
};

} // namespace velmora
