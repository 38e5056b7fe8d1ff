#include "intake/GPSInfo.h"

#include <gtest/gtest.h>

#include "tests/support/GermanLocale.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

using namespace velmora;

TEST(GPSInfo, WorkedExample)
{
    GPSInfo gps("$GPRMC,134530.000,A,3723.2475,N,12158.3416,W,0.13,309.62,170512,,");
    ASSERT_EQ(gps.getFields().size(), 12u);
    EXPECT_EQ(gps.getFields()[0], "GPRMC");
    EXPECT_EQ(gps.getFields()[10], "");
    EXPECT_EQ(gps.getFields()[11], "");
    EXPECT_NEAR(gps.getLatitude(), 37.387458, 1e-6);
    EXPECT_NEAR(gps.getLongitude(), -121.97236, 1e-6);
    EXPECT_DOUBLE_EQ(gps.getSpeed(), 0.13);
    EXPECT_DOUBLE_EQ(gps.getBearing(), 309.62);
    EXPECT_EQ(gps.getUtcTime().getValue(), Time(13, 45, 30).getValue());
    EXPECT_TRUE(gps.hasPosition());
}

struct GpsRow {
    const char* sentence;
    double latitude;
    double longitude;
    double speed;
    double bearing;
    int hour;
    int minute;
    int second;
};

TEST(GPSInfo, FieldRules)
{
    const GpsRow rows[] = {
        {"$GPRMC,235959,A,4807.038,S,01131.000,E,22.4,0.0,230394", -48.1173, 11.516666667, 22.4, 0.0, 23, 59, 59},
        {"$GPRMC,000000.50,A,4807.038,s,01131.000,w,1,,230394", 48.1173, 11.516666667, 1, -1.0, 0, 0, 0},
        // No fix: empty position fields read 0.
        {"$GPRMC,120000,V,,,,,,,010100", 0, 0, 0, -1.0, 12, 0, 0},
        // Too short: missing fields read 0, a missing course -1.
        {"$GPRMC,1234", 0, 0, 0, -1.0, 12, 34, 0},
        {"$GPRMC,12345", 0, 0, 0, -1.0, 12, 34, 5},
        {"$GPRMC,1", 0, 0, 0, -1.0, 1, 0, 0},
        {"", 0, 0, 0, -1.0, 0, 0, 0},
        // A star after the last comma ends the field.
        {"$GPRMC,101010,A,0100.0,N,00200.0,E,5.5,90*6A", 1, 2, 5.5, 90, 10, 10, 10},
        // Non-finite and hexadecimal numbers never come through.
        {"$GPRMC,101010,A,nan,N,inf,E,0x10,1e999", 0, 0, 0, 0, 10, 10, 10},
        // A negative pair would spill into the next packed byte: read 0.
        {"$GPRMC,-1-2-3,A", 0, 0, 0, -1.0, 0, 0, 0},
    };
    for (const GpsRow& row : rows) {
        SCOPED_TRACE(row.sentence);
        GPSInfo gps(row.sentence);
        EXPECT_NEAR(gps.getLatitude(), row.latitude, 1e-6);
        EXPECT_NEAR(gps.getLongitude(), row.longitude, 1e-6);
        EXPECT_DOUBLE_EQ(gps.getSpeed(), row.speed);
        EXPECT_DOUBLE_EQ(gps.getBearing(), row.bearing);
        const Time t = gps.getUtcTime();
        EXPECT_EQ(t.getHour(), row.hour);
        EXPECT_EQ(t.getMinute(), row.minute);
        EXPECT_EQ(t.getSecond(), row.second);
        EXPECT_EQ(t.getZoneOffset(), 0);
    }
}

TEST(GPSInfo, SplittingRules)
{
    struct Row {
        const char* text;
        std::vector<std::string> fields;
    };
    const Row rows[] = {
        {"GPRMC,1", {"PRMC", "1"}},          // no "$": the first character goes
        {"$GPRMC,,", {"GPRMC", "", ""}},
        {"a*b*c", {"a", "b", "c"}},            // no comma: stars separate
        {"xyz", {"xyz"}},                      // none of "$GPRMC": nothing skipped
        {"$GPRMC,1*2,3", {"GPRMC", "1*2", "3"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(GPSInfo(row.text).getFields(), row.fields);
    }
}

namespace {
// Six decimals with a dot whatever the locale, for the lines the test prints.
std::string plain(double value)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6).ptr;
    return std::string(text, end);
}
} // namespace

TEST(GPSInfo, NumbersIgnoreTheProcessLocale)
{
    // A German operator's console runs with a decimal comma; the device
    // writes dots whatever the console's locale.
    const GpsRow rows[] = {
        {"$GPRMC,134530,A,3723.2475,N,12158.3416,W,0.13,309.62,120598,,*10", 37.387458333, -121.97236,
         0.13, 309.62, 13, 45, 30},
        {"$GPRMC,235959,A,4807.038,S,01131.000,E,22.4,0.5,230394", -48.1173, 11.516666667, 22.4, 0.5, 23,
         59, 59},
        {"$GPRMC,000000,V,0000.0000,S,00000.0000,W,0.0,,010100", 0, 0, 0, -1.0, 0, 0, 0},
    };
    test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    for (const GpsRow& row : rows) {
        SCOPED_TRACE(row.sentence);
        GPSInfo gps(row.sentence);
        EXPECT_NEAR(gps.getLatitude(), row.latitude, 1e-6);
        EXPECT_NEAR(gps.getLongitude(), row.longitude, 1e-6);
        EXPECT_DOUBLE_EQ(gps.getSpeed(), row.speed);
        EXPECT_DOUBLE_EQ(gps.getBearing(), row.bearing);
        EXPECT_EQ(gps.getUtcTime().getValue(), Time(row.hour, row.minute, row.second).getValue());
        std::printf("under %s: %s -> lat %s lng %s speed %s bearing %s\n", test::GermanLocale::NAME, row.sentence,
                    plain(gps.getLatitude()).c_str(), plain(gps.getLongitude()).c_str(),
                    plain(gps.getSpeed()).c_str(), plain(gps.getBearing()).c_str());
    }
}
