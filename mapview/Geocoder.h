#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

/// Offline reverse geocoder over the populated-places extract in
/// third_party/geonames: finds the nearest place to a position and names it
/// with its first-level division and country. Built once, then read-only, so
/// any number of threads may call lookup at the same time.
class Geocoder {
public:
    /// Places farther than this from the position are not named: open
    /// water and empty land get no address rather than a misleading one.
    static constexpr double kMaxDistanceKm = 150.0;

    /// One resolved place.
    struct Place {
        std::string name;
        std::string region;   ///< first-level division, empty when unknown
        std::string country;  ///< country name, or its code when the name is unknown
        double latitude = 0;
        double longitude = 0;
        double distanceKm = 0; ///< from the asked position
    };

    /// Parses the three tab-separated texts (places.tsv, admin1.tsv,
    /// countries.tsv). Malformed lines are skipped.
    Geocoder(std::string_view places, std::string_view admin1, std::string_view countries);
    Geocoder(const Geocoder&) = delete;
    Geocoder& operator=(const Geocoder&) = delete;

    /// The nearest place within kMaxDistanceKm; false when there is none or
    /// the position is not a finite latitude/longitude.
    bool nearest(double latitude, double longitude, Place& place) const;

    /// Addresses from specific to general:
    /// 0 "2 km NE of Palo Alto, California, United States" (the place line
    ///   itself when closer than 1 km), 1 "Palo Alto, California, United States",
    /// 2 "California, United States", 3 "United States".
    /// Empty when nearest finds nothing; the region line is left out when the
    /// division is unknown or named like the place.
    std::vector<std::string> lookup(double latitude, double longitude) const;

    size_t getPlaceCount() const { return m_points.size(); }

private:
    struct Point {
        float x, y, z;       // unit vector: chord distance orders like arc distance
        int32_t latE4, lonE4;
        uint32_t nameOffset;
        uint16_t nameLength;
        uint16_t regionIndex; // into m_regions, 0 = unknown
        uint16_t countryIndex; // into m_countries
    };

    void build(size_t begin, size_t end, int depth);
    void search(size_t begin, size_t end, int depth, const float q[3], size_t& best, float& bestD2) const;

    std::vector<Point> m_points; // implicit k-d tree: median of each range at its middle
    std::string m_names;
    std::vector<std::string> m_regions;
    std::vector<std::string> m_countries;
};

} // namespace velmora
