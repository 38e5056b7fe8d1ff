#include "mapview/Geocoder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <unordered_map>

namespace velmora {

namespace {

constexpr double kEarthRadiusKm = 6371.0088;
constexpr double kDegree = std::numbers::pi / 180.0;

/// Splits text into lines and each line into at most maxFields tab-separated
/// fields; calls f(fields, count) for every non-empty line.
template <size_t maxFields, typename F>
void forEachRow(std::string_view text, F&& f) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) {
            eol = text.size();
        }
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string_view fields[maxFields];
        size_t count = 0;
        size_t start = 0;
        while (count < maxFields) {
            size_t tab = count + 1 < maxFields ? line.find('\t', start) : std::string_view::npos;
            fields[count++] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
            if (tab == std::string_view::npos) {
                break;
            }
            start = tab + 1;
        }
        f(fields, count);
    }
}

bool parseInt(std::string_view s, int32_t& value) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

void toUnit(double latitude, double longitude, float out[3]) {
    double la = latitude * kDegree;
    double lo = longitude * kDegree;
    out[0] = static_cast<float>(std::cos(la) * std::cos(lo));
    out[1] = static_cast<float>(std::cos(la) * std::sin(lo));
    out[2] = static_cast<float>(std::sin(la));
}

double arcKm(double lat1, double lon1, double lat2, double lon2) {
    double p1 = lat1 * kDegree;
    double p2 = lat2 * kDegree;
    double dp = p2 - p1;
    double dl = (lon2 - lon1) * kDegree;
    double a = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
}

/// The 8-point compass direction from (lat1, lon1) towards (lat2, lon2).
const char* compass(double lat1, double lon1, double lat2, double lon2) {
    static const char* const kNames[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    double p1 = lat1 * kDegree;
    double p2 = lat2 * kDegree;
    double dl = (lon2 - lon1) * kDegree;
    double y = std::sin(dl) * std::cos(p2);
    double x = std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl);
    double bearing = std::atan2(y, x) / kDegree;
    int sector = static_cast<int>(std::lround((bearing + 360.0) / 45.0)) % 8;
    return kNames[sector];
}

float axisOf(const float v[3], int axis) { return v[axis]; }

} // namespace

Geocoder::Geocoder(std::string_view places, std::string_view admin1, std::string_view countries) {
    std::unordered_map<std::string, uint16_t> countryIndex;
    forEachRow<2>(countries, [&](const std::string_view* f, size_t n) {
        if (n == 2 && !f[0].empty() && m_countries.size() < 0xFFFF) {
            countryIndex.emplace(std::string(f[0]), static_cast<uint16_t>(m_countries.size()));
            m_countries.emplace_back(f[1]);
        }
    });
    std::unordered_map<std::string, uint16_t> regionIndex;
    m_regions.emplace_back(); // 0: unknown
    forEachRow<2>(admin1, [&](const std::string_view* f, size_t n) {
        if (n == 2 && !f[0].empty() && m_regions.size() < 0xFFFF) {
            regionIndex.emplace(std::string(f[0]), static_cast<uint16_t>(m_regions.size()));
            m_regions.emplace_back(f[1]);
        }
    });

    m_points.reserve(places.size() / 32);
    m_names.reserve(places.size() / 3);
    std::string key;
    forEachRow<5>(places, [&](const std::string_view* f, size_t n) {
        Point p{};
        if (n != 5 || !parseInt(f[0], p.latE4) || !parseInt(f[1], p.lonE4) || f[4].empty() ||
            f[4].size() > 0xFFFF || std::abs(p.latE4) > 900000 || std::abs(p.lonE4) > 1800000) {
            return;
        }
        key.assign(f[2]);
        auto country = countryIndex.find(key);
        if (country == countryIndex.end()) {
            // Keep the place; the code stands in for the missing name.
            if (m_countries.size() >= 0xFFFF) {
                return;
            }
            country = countryIndex.emplace(key, static_cast<uint16_t>(m_countries.size())).first;
            m_countries.emplace_back(f[2]);
        }
        p.countryIndex = country->second;
        key.append(".").append(f[3]);
        auto region = regionIndex.find(key);
        p.regionIndex = region == regionIndex.end() ? 0 : region->second;
        p.nameOffset = static_cast<uint32_t>(m_names.size());
        p.nameLength = static_cast<uint16_t>(f[4].size());
        m_names.append(f[4]);
        toUnit(p.latE4 / 1e4, p.lonE4 / 1e4, &p.x);
        m_points.push_back(p);
    });
    build(0, m_points.size(), 0);
}

void Geocoder::build(size_t begin, size_t end, int depth) {
    if (end - begin <= 1) {
        return;
    }
    int axis = depth % 3;
    size_t mid = begin + (end - begin) / 2;
    std::nth_element(m_points.begin() + begin, m_points.begin() + mid, m_points.begin() + end,
                     [axis](const Point& a, const Point& b) { return axisOf(&a.x, axis) < axisOf(&b.x, axis); });
    build(begin, mid, depth + 1);
    build(mid + 1, end, depth + 1);
}

void Geocoder::search(size_t begin, size_t end, int depth, const float q[3], size_t& best, float& bestD2) const {
    while (begin < end) {
        size_t mid = begin + (end - begin) / 2;
        const Point& p = m_points[mid];
        float dx = p.x - q[0], dy = p.y - q[1], dz = p.z - q[2];
        float d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < bestD2) {
            bestD2 = d2;
            best = mid;
        }
        int axis = depth % 3;
        float diff = q[axis] - axisOf(&p.x, axis);
        size_t nearBegin = diff < 0 ? begin : mid + 1;
        size_t nearEnd = diff < 0 ? mid : end;
        size_t farBegin = diff < 0 ? mid + 1 : begin;
        size_t farEnd = diff < 0 ? end : mid;
        search(nearBegin, nearEnd, depth + 1, q, best, bestD2);
        if (diff * diff >= bestD2) {
            return;
        }
        // Tail-iterate into the far side.
        begin = farBegin;
        end = farEnd;
        ++depth;
    }
}

bool Geocoder::nearest(double latitude, double longitude, Place& place) const {
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || latitude < -90 || latitude > 90 || m_points.empty()) {
        return false;
    }
    longitude = std::remainder(longitude, 360.0); // any turn of the globe
    float q[3];
    toUnit(latitude, longitude, q);
    double maxChord = 2 * std::sin(kMaxDistanceKm / kEarthRadiusKm / 2) * 1.001;
    float bestD2 = static_cast<float>(maxChord * maxChord);
    size_t best = m_points.size();
    search(0, m_points.size(), 0, q, best, bestD2);
    if (best == m_points.size()) {
        return false;
    }
    const Point& p = m_points[best];
    place.latitude = p.latE4 / 1e4;
    place.longitude = p.lonE4 / 1e4;
    place.distanceKm = arcKm(latitude, longitude, place.latitude, place.longitude);
    if (place.distanceKm > kMaxDistanceKm) {
        return false;
    }
    place.name.assign(m_names, p.nameOffset, p.nameLength);
    place.region = m_regions[p.regionIndex];
    place.country = m_countries[p.countryIndex];
    return true;
}

std::vector<std::string> Geocoder::lookup(double latitude, double longitude) const {
    std::vector<std::string> results;
    Place place;
    if (!nearest(latitude, longitude, place)) {
        return results;
    }
    bool withRegion = !place.region.empty() && place.region != place.name && place.region != place.country;
    std::string regionLine = withRegion ? place.region + ", " + place.country : place.country;
    std::string placeLine = place.name + ", " + regionLine;
    if (place.name == place.country) {
        placeLine = place.name; // city states
    }
    if (place.distanceKm >= 1.0) {
        char prefix[48];
        std::snprintf(prefix, sizeof prefix, "%.0f km %s of ", place.distanceKm,
                      compass(place.latitude, place.longitude, latitude, std::remainder(longitude, 360.0)));
        results.push_back(prefix + placeLine);
    } else {
        results.push_back(placeLine);
    }
    results.push_back(placeLine);
    if (withRegion) {
        results.push_back(regionLine);
    }
    if (results.back() != place.country) {
        results.push_back(place.country);
    }
    return results;
}

} // namespace velmora
