#include "rules/Zone.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace velmora {

namespace {

constexpr double RADIANS = std::numbers::pi / 180.0;
constexpr double DEGREES = 180.0 / std::numbers::pi;
/// The map page draws a polygon's edges straight in its Mercator
/// projection; latitudes are taken there, short of the poles.
constexpr double MERCATOR_LATITUDE_MAX = 89.9;

double mercatorY(double latitude) {
    const double phi = std::clamp(latitude, -MERCATOR_LATITUDE_MAX, MERCATOR_LATITUDE_MAX) * RADIANS;
    return std::log(std::tan(std::numbers::pi / 4 + phi / 2));
}

void appendNumber(std::string& out, double value) {
    // Shortest text that reads back to the same double; never the locale's.
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

const char* skipBlanks(const char* at, const char* end) {
    while (at < end && *at == ' ') {
        ++at;
    }
    return at;
}

/// Reads one number at at (after blanks); null when there is none.
const char* readNumber(const char* at, const char* end, double& value) {
    at = skipBlanks(at, end);
    const auto result = std::from_chars(at, end, value);
    if (result.ec != std::errc() || result.ptr == at) {
        return nullptr;
    }
    return result.ptr;
}

} // namespace

Zone::Zone() = default;

void Zone::setDwellSeconds(int32_t seconds) { m_dwellSeconds = std::clamp(seconds, 0, DWELL_MAX); }

void Zone::setSpeedLimitKmh(int32_t kmh) { m_speedLimitKmh = std::clamp(kmh, 0, SPEED_LIMIT_MAX); }

Zone Zone::circle(int32_t id, const std::string& name, GeoPoint centre, double radiusMetres) {
    Zone zone;
    zone.m_id = id;
    zone.m_name = name;
    zone.m_shape = CIRCLE;
    zone.m_centre = centre;
    zone.m_radius = radiusMetres;
    zone.m_valid = centre.isValid() && std::isfinite(radiusMetres) && radiusMetres >= RADIUS_MIN &&
                   radiusMetres <= RADIUS_MAX;
    if (zone.m_valid) {
        zone.makeCircleBounds();
    }
    return zone;
}

void Zone::makeCircleBounds() {
    // A spherical cap reaches its angular radius north and south of the
    // centre; east and west it reaches asin(sin r / cos lat), unless it
    // holds a pole, when it reaches every longitude.
    const double angle = m_radius / GeoPoint::EARTH_RADIUS;
    m_south = m_centre.latitude - angle * DEGREES;
    m_north = m_centre.latitude + angle * DEGREES;
    const double sinReach = std::sin(angle) / std::cos(m_centre.latitude * RADIANS);
    if (m_north >= 90.0 || m_south <= -90.0 || !(sinReach < 1.0)) {
        m_south = std::max(m_south, -90.0);
        m_north = std::min(m_north, 90.0);
        m_west = -180.0;
        m_east = 180.0;
        return;
    }
    const double reach = std::asin(sinReach) * DEGREES;
    m_west = m_centre.longitude - reach;
    m_east = m_centre.longitude + reach;
}

Zone Zone::polygon(int32_t id, const std::string& name, const std::vector<GeoPoint>& vertices) {
    Zone zone;
    zone.m_id = id;
    zone.m_name = name;
    zone.m_shape = POLYGON;
    zone.m_vertices = vertices;
    zone.m_valid = vertices.size() >= VERTICES_MIN && vertices.size() <= VERTICES_MAX &&
                   std::all_of(vertices.begin(), vertices.end(), [](const GeoPoint& p) { return p.isValid(); });
    if (zone.m_valid) {
        zone.makePolygonBounds();
    }
    return zone;
}

void Zone::makePolygonBounds() {
    // Each edge takes the short way round: unwrap the longitudes so that no
    // step between neighbours exceeds 180°.
    auto step = [](double from, double to, bool& ok) {
        double delta = to - from;
        if (delta > 180.0) {
            delta -= 360.0;
        } else if (delta < -180.0) {
            delta += 360.0;
        }
        // Exactly half way round has no short way.
        ok = ok && std::fabs(delta) != 180.0;
        return delta;
    };
    bool ok = true;
    m_unwrapped.resize(m_vertices.size());
    m_unwrapped[0] = m_vertices[0].longitude;
    for (size_t i = 1; i < m_vertices.size(); ++i) {
        m_unwrapped[i] = m_unwrapped[i - 1] + step(m_vertices[i - 1].longitude, m_vertices[i].longitude, ok);
    }
    // The closing edge must come back to the first vertex; coming back a
    // whole turn away means the outline went round a pole.
    const double closed =
        m_unwrapped.back() + step(m_vertices.back().longitude, m_vertices.front().longitude, ok);
    const auto [west, east] = std::minmax_element(m_unwrapped.begin(), m_unwrapped.end());
    if (!ok || std::fabs(closed - m_unwrapped[0]) > 1e-9 || *east - *west >= 360.0) {
        m_valid = false;
        m_unwrapped.clear();
        return;
    }
    m_west = *west;
    m_east = *east;
    m_projected.resize(m_vertices.size());
    std::transform(m_vertices.begin(), m_vertices.end(), m_projected.begin(),
                   [](const GeoPoint& p) { return mercatorY(p.latitude); });
    const auto [south, north] = std::minmax_element(m_vertices.begin(), m_vertices.end(),
        [](const GeoPoint& a, const GeoPoint& b) { return a.latitude < b.latitude; });
    m_south = south->latitude;
    m_north = north->latitude;
}

bool Zone::contains(GeoPoint point) const {
    if (!m_valid || !point.isValid()) {
        return false;
    }
    if (m_shape == CIRCLE) {
        return m_centre.distanceTo(point) <= m_radius;
    }
    return polygonContains(point);
}

bool Zone::polygonContains(GeoPoint point) const {
    if (point.latitude < m_south || point.latitude > m_north) {
        return false;
    }
    // The point's longitude, turned into the polygon's unwrapped range.
    double x = m_west + std::fmod(point.longitude - m_west, 360.0);
    if (x < m_west) {
        x += 360.0;
    }
    if (x > m_east) {
        return false;
    }
    // Even-odd crossings of a ray to the east, in the page's projection.
    const double y = mercatorY(point.latitude);
    bool inside = false;
    const size_t n = m_vertices.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const double yi = m_projected[i];
        const double yj = m_projected[j];
        if ((yi > y) != (yj > y)) {
            const double xCross = m_unwrapped[i] + (m_unwrapped[j] - m_unwrapped[i]) * (y - yi) / (yj - yi);
            if (x < xCross) {
                inside = !inside;
            }
        }
    }
    return inside;
}

const char* Zone::shapeText() const { return m_shape == CIRCLE ? "circle" : "polygon"; }

std::string Zone::geometryText() const {
    std::string text;
    if (m_shape == CIRCLE) {
        appendNumber(text, m_centre.latitude);
        text += ' ';
        appendNumber(text, m_centre.longitude);
        text += ' ';
        appendNumber(text, m_radius);
        return text;
    }
    for (const GeoPoint& vertex : m_vertices) {
        if (!text.empty()) {
            text += ',';
        }
        appendNumber(text, vertex.latitude);
        text += ' ';
        appendNumber(text, vertex.longitude);
    }
    return text;
}

bool Zone::parse(int32_t id, const std::string& name, const std::string& shape, const std::string& geometry,
                 Zone& zone) {
    const char* at = geometry.data();
    const char* const end = at + geometry.size();
    if (shape == "circle") {
        GeoPoint centre;
        double radius = 0;
        if ((at = readNumber(at, end, centre.latitude)) == nullptr ||
            (at = readNumber(at, end, centre.longitude)) == nullptr || (at = readNumber(at, end, radius)) == nullptr ||
            skipBlanks(at, end) != end) {
            return false;
        }
        Zone made = circle(id, name, centre, radius);
        if (!made.isValid()) {
            return false;
        }
        zone = std::move(made);
        return true;
    }
    if (shape != "polygon") {
        return false;
    }
    std::vector<GeoPoint> vertices;
    while (true) {
        GeoPoint vertex;
        if ((at = readNumber(at, end, vertex.latitude)) == nullptr ||
            (at = readNumber(at, end, vertex.longitude)) == nullptr || vertices.size() == VERTICES_MAX) {
            return false;
        }
        vertices.push_back(vertex);
        at = skipBlanks(at, end);
        if (at == end) {
            break;
        }
        if (*at++ != ',') {
            return false;
        }
    }
    Zone made = polygon(id, name, vertices);
    if (!made.isValid()) {
        return false;
    }
    zone = std::move(made);
    return true;
}

bool Zone::sameGeometry(const Zone& other) const {
    if (m_shape != other.m_shape) {
        return false;
    }
    if (m_shape == CIRCLE) {
        return m_centre.latitude == other.m_centre.latitude && m_centre.longitude == other.m_centre.longitude &&
               m_radius == other.m_radius;
    }
    return m_vertices.size() == other.m_vertices.size() &&
           std::equal(m_vertices.begin(), m_vertices.end(), other.m_vertices.begin(),
                      [](const GeoPoint& a, const GeoPoint& b) {
                          return a.latitude == b.latitude && a.longitude == b.longitude;
                      });
}

} // namespace velmora
