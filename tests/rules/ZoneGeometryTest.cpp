#include "rules/Zone.h"
#include "tests/support/GermanLocale.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using namespace velmora;

TEST(ZoneGeometry, StoredTextReadsBackTheSameInEveryLocale) {
    velmora::test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    const Zone circle = Zone::circle(4, "Depot", {47.376887, 8.541694}, 250.5);
    const Zone polygon =
        Zone::polygon(5, "Strip", {{10.25, 179.5}, {10.25, -179.5}, {-11.125, -179.5}, {-11.125, 179.5}});
    EXPECT_EQ(circle.geometryText(), "47.376887 8.541694 250.5");
    EXPECT_EQ(polygon.geometryText(), "10.25 179.5,10.25 -179.5,-11.125 -179.5,-11.125 179.5");
    EXPECT_STREQ(circle.shapeText(), "circle");
    EXPECT_STREQ(polygon.shapeText(), "polygon");

    for (const Zone* zone : {&circle, &polygon}) {
        Zone back;
        ASSERT_TRUE(Zone::parse(zone->getId(), zone->getName(), zone->shapeText(), zone->geometryText(), back));
        EXPECT_TRUE(back.sameGeometry(*zone));
        EXPECT_EQ(back.getId(), zone->getId());
        EXPECT_EQ(back.getName(), zone->getName());
    }
    // Numbers that need every digit come back bit for bit.
    const Zone exact = Zone::circle(6, "x", {0.1 + 0.2, -0.000123456789012345}, 1.0 / 3.0 * 1000);
    Zone back;
    ASSERT_TRUE(Zone::parse(6, "x", "circle", exact.geometryText(), back));
    EXPECT_TRUE(back.sameGeometry(exact));
}

TEST(ZoneGeometry, TextsThatAreNoZone) {
    struct Row {
        const char* shape;
        const char* geometry;
        bool valid;
    };
    const Row rows[] = {
        {"circle", "47 8 100", true},
        {"circle", " 47  8  100 ", true},
        {"circle", "", false},
        {"circle", "47 8", false},
        {"circle", "47 8 100 5", false},
        {"circle", "47,5 8 100", false},
        {"circle", "47 8 0", false},
        {"circle", "47 8 -100", false},
        {"circle", "47 8 2000000", false},
        {"circle", "91 8 100", false},
        {"circle", "-91 8 100", false},
        {"circle", "47 181 100", false},
        {"circle", "nan 8 100", false},
        {"circle", "47 inf 100", false},
        {"circle", "47 8 100x", false},
        {"square", "47 8 100", false},
        {"polygon", "1 2,3 4,5 6", true},
        {"polygon", "1 2,3 4", false},
        {"polygon", "1 2,3 4,5", false},
        {"polygon", "1 2,3 4,5 6,", false},
        {"polygon", "1 2,-90.5 4,5 6", false},
        {"polygon", "1 2;3 4;5 6", false},
        {"polygon", "1,5 2,3 4,5 6", false},
        // Round the north pole: every edge short, but the outline closes a
        // whole turn away.
        {"polygon", "80 0,80 90,80 180,80 -90", false},
        {"polygon", "80 0,80 100,80 -140", false},
        // An edge exactly half way round has no short way.
        {"polygon", "0 0,0 180,10 90", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.shape) + " '" + row.geometry + "'");
        Zone zone;
        EXPECT_EQ(Zone::parse(1, "z", row.shape, row.geometry, zone), row.valid);
        EXPECT_EQ(zone.isValid(), row.valid);
    }
    // The vertex bound.
    std::string many;
    for (size_t i = 0; i <= Zone::VERTICES_MAX; ++i) {
        many += (i == 0 ? "" : ",") + std::to_string(i % 80) + " " + std::to_string(i % 170);
    }
    Zone zone;
    EXPECT_FALSE(Zone::parse(1, "z", "polygon", many, zone));
}

TEST(ZoneGeometry, AnInvalidZoneHoldsNothing) {
    const Zone zone = Zone::circle(1, "z", {47, 8}, 0.5);
    EXPECT_FALSE(zone.isValid());
    EXPECT_FALSE(zone.contains({47, 8}));
    // A place that is no place is in no zone.
    const Zone big = Zone::circle(2, "z", {0, 0}, Zone::RADIUS_MAX);
    EXPECT_FALSE(big.contains({std::numeric_limits<double>::quiet_NaN(), 0}));
    EXPECT_FALSE(big.contains({95, 0}));
}

TEST(ZoneGeometry, ACircleRoundAPoleHoldsEveryLongitude) {
    const Zone cap = Zone::circle(1, "Pole", {89.9, 0}, 50000.0);
    ASSERT_TRUE(cap.isValid());
    // 50 km north of 89.9 is past the pole: the far side at 89.9 is
    // 0.2° x 111.2 km = 22 km away, inside.
    EXPECT_TRUE(cap.contains({89.9, 180.0}));
    EXPECT_TRUE(cap.contains({89.9, -90.0}));
    EXPECT_EQ(cap.getEast() - cap.getWest(), 360.0);
    EXPECT_EQ(cap.getNorth(), 90.0);
}
