#include "mapview/Geocoder.h"
#include "mapview/PageResources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using velmora::Geocoder;
using velmora::PageResources;

namespace {

struct Known {
    double latitude;
    double longitude;
    const char* address; // the second result; "" = no result at all
};

// Known places, both sides of the 180th meridian, the poles and open water.
const Known kKnown[] = {
    {37.4419, -122.1430, "Palo Alto, California, United States"},
    {48.8534, 2.3488, "Paris, Île-de-France, France"},
    {-33.8688, 151.2093, "Sydney, New South Wales, Australia"},
    {35.6895, 139.6917, "Tokyo, Japan"},              // division named like the place
    {-16.80, 179.99, "Savusavu, Northern, Fiji"},
    {-16.80, -179.99, "Savusavu, Northern, Fiji"},   // east of the meridian, nearest place west of it
    {65.0, -179.99, "Anadyr, Chukotka, Russia"},
    {1.2897, 103.8501, "Singapore"},                 // city state: no repeated country
    {90.0, 0.0, ""},
    {-90.0, 0.0, ""},
    {0.0, -140.0, ""},                                // mid Pacific
    {-48.8767, -123.3933, ""},                        // the pole of inaccessibility
};

} // namespace

TEST(Geocoder, NamesKnownPositionsFromSpecificToGeneral) {
    const Geocoder& g = PageResources::getGeocoder();
    ASSERT_GT(g.getPlaceCount(), 100000u);
    for (const Known& k : kKnown) {
        std::vector<std::string> r = g.lookup(k.latitude, k.longitude);
        SCOPED_TRACE(std::to_string(k.latitude) + "," + std::to_string(k.longitude));
        if (*k.address == 0) {
            EXPECT_TRUE(r.empty()) << r.front();
            continue;
        }
        ASSERT_GE(r.size(), 2u);
        EXPECT_EQ(r[1], k.address);
        // Each result is contained in the one before: specific to general.
        for (size_t i = 1; i < r.size(); ++i) {
            EXPECT_NE(r[i - 1].find(r[i]), std::string::npos) << r[i - 1] << " / " << r[i];
        }
    }
}

TEST(Geocoder, NearestAgreesWithBruteForceAcrossTheGlobe) {
    // The tree must find what a plain scan finds; a small hand-made set keeps
    // the scan honest about poles and the 180th meridian.
    std::string places;
    std::vector<std::pair<double, double>> points;
    int n = 0;
    for (int lat = -89; lat <= 89; lat += 7) {
        for (int lon = -180; lon < 180; lon += 11) {
            double la = lat + 0.37 * (((lat + lon) % 5 + 5) % 5), lo = lon + 0.53 * (((lat * lon) % 7 + 7) % 7);
            if (lo >= 180) {
                lo -= 360;
            }
            points.emplace_back(la, lo);
            places += std::to_string(std::lround(la * 1e4)) + "\t" + std::to_string(std::lround(lo * 1e4)) +
                      "\tZZ\t01\tP" + std::to_string(n++) + "\n";
        }
    }
    places += "garbage line\n\t\t\t\t\n12\tx\tZZ\t01\tBad\n";
    Geocoder g(places, "ZZ.01\tRegion\n", "ZZ\tLand\n");
    ASSERT_EQ(g.getPlaceCount(), points.size());
    for (double lat = -90; lat <= 90; lat += 4.5) {
        for (double lon = -200; lon <= 200; lon += 6.25) {
            Geocoder::Place place;
            bool found = g.nearest(lat, lon, place);
            double best = 1e9;
            for (auto& p : points) {
                double p1 = lat * M_PI / 180, p2 = p.first * M_PI / 180, dl = (p.second - lon) * M_PI / 180;
                double a = std::sin((p2 - p1) / 2) * std::sin((p2 - p1) / 2) +
                           std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
                best = std::min(best, 2 * 6371.0088 * std::asin(std::min(1.0, std::sqrt(a))));
            }
            if (best > Geocoder::kMaxDistanceKm + 0.5) {
                EXPECT_FALSE(found) << lat << "," << lon;
            } else if (best < Geocoder::kMaxDistanceKm - 0.5) {
                ASSERT_TRUE(found) << lat << "," << lon;
                EXPECT_NEAR(place.distanceKm, best, 0.5) << lat << "," << lon;
                EXPECT_EQ(place.region, "Region");
                EXPECT_EQ(place.country, "Land");
            }
        }
    }
}

TEST(Geocoder, RefusesPositionsThatAreNotOnTheGlobe) {
    const Geocoder& g = PageResources::getGeocoder();
    const double bad[][2] = {{NAN, 0}, {0, NAN}, {INFINITY, 0}, {0, -INFINITY}, {90.5, 0}, {-91, 0}};
    for (auto& p : bad) {
        EXPECT_TRUE(g.lookup(p[0], p[1]).empty()) << p[0] << "," << p[1];
    }
    // Longitudes past a full turn name the same place.
    EXPECT_EQ(g.lookup(37.4419, -122.143 + 720), g.lookup(37.4419, -122.143));
}

TEST(PageResources, GeocodeAnswerIsAScriptLineWithJsonStrings) {
    struct Row {
        const char* query;
        const char* expectedPrefix;
        bool empty;
    };
    const Row rows[] = {
        {"lat=37.4419&lng=-122.143&seq=7", "velmoraGeocodeReply(7, [\"Palo Alto, California, United States\"", false},
        {"lat=0&lng=-140&seq=3", "velmoraGeocodeReply(3, [])", true},
        {"lat=abc&lng=1&seq=2", "velmoraGeocodeReply(2, [])", true},
        {"lat=1&lng=1&seq=alert(1)", "velmoraGeocodeReply(0, ", false},
        {"lat=1&lng=1&seq=-5", "velmoraGeocodeReply(0, ", false},
        {"", "velmoraGeocodeReply(0, [])", true},
    };
    for (const Row& row : rows) {
        velmora::VelmoraSchemeHandler::Reply reply;
        QUrl url(QStringLiteral("velmora://geocode/lookup?") + QString::fromLatin1(row.query));
        ASSERT_TRUE(PageResources::answerGeocode(url, reply)) << row.query;
        EXPECT_TRUE(reply.mimeType.startsWith("text/javascript")) << row.query;
        EXPECT_TRUE(reply.body.startsWith(row.expectedPrefix)) << row.query << " -> " << reply.body.constData();
        EXPECT_TRUE(reply.body.endsWith(");\n")) << row.query;
    }
}
