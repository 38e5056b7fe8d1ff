#include "mapview/MapCommands.h"

#include "db/VehicleInfo.h"
#include "intake/GPSInfo.h"
#include "tests/support/GermanLocale.h"

#include "tests/support/GermanLocale.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

namespace velmora {
namespace {

const char* const ID = "0b1e4c0e-9a43-4a8e-9d6b-2f6c1e0d7a11";

MapCommands::Vehicle sampleVehicle()
{
    MapCommands::Vehicle v;
    v.id = ID;
    v.name = "DVR-7";
    v.editedName = "O'Brien\\Co";
    v.lastUpdatedTime = "2026-01-31 17:05:09";
    v.lastUpdatedLatitude = "37.566500";
    v.lastUpdatedLongitude = "126.978000";
    v.company = "Acme";
    v.maker = "Maker";
    v.model = "M1";
    v.registration = "12-AB";
    v.driver = "Kim";
    v.license = "L-1";
    v.info1 = "first";
    v.info2 = "second";
    v.imagePath = "images\\car.png";
    return v;
}

struct TextRow {
    const char* label;
    QString built;
    std::string expected;
};

TEST(MapCommandsTest, ExactTexts)
{
    const MapCommands::Vehicle v = sampleVehicle();
    const std::string id = ID;
    const TextRow rows[] = {
        {"setPageSize", MapCommands::setPageSize(1024, 768), "setPageSize(1024, 768);"},
        {"resetTimeout", MapCommands::resetTimeout(10), "resetTimeout(10);"},
        {"sortVehicleList", MapCommands::sortVehicleList(), "sortVehicleList();"},
        {"updateVehicle", MapCommands::updateVehicle(v),
         "updateVehicle('37.566500', '126.978000', '" + id + "', 'O\\'Brien\\\\Co', '2026-01-31 17:05:09')"},
        {"updateVehicleName uses the device's own name", MapCommands::updateVehicleName(v),
         "updateVehicleName('" + id + "', 'DVR-7')"},
        {"updateUserDefinedInfo", MapCommands::updateUserDefinedInfo(v),
         "updateUserDefinedInfo('" + id + "', 'O\\'Brien\\\\Co', 'first', 'second', 'images\\\\car.png')"},
        {"updateImgPath", MapCommands::updateImgPath(ID, "images/car.png"),
         "updateImgPath('" + id + "', 'images/car.png')"},
        {"updateOptionalInfo", MapCommands::updateOptionalInfo(v),
         "updateOptionalInfo('" + id + "', 'O\\'Brien\\\\Co', 'Acme', 'Maker', 'M1', '12-AB', 'Kim', 'L-1')"},
        {"moveTo", MapCommands::moveTo(-33.8688, 151.2093, 12.5, 7, 5, 9, 271.25, ID),
         "moveTo(-33.868800, 151.209300, 12.500000, 7, 5, 9, 271.250000, '" + id + "');"},
        {"moveTo without course", MapCommands::moveTo(1.0, 2.0, 0.0, 0, 0, 0, -1.0, ID),
         "moveTo(1.000000, 2.000000, 0.000000, 0, 0, 0, -1.000000, '" + id + "');"},
        {"updateEventInfo", MapCommands::updateEventInfo(4, "Bus 12", "2026-01-31 17:05:09", "Front cam", ID),
         "updateEventInfo(4, 'Bus 12', '2026-01-31 17:05:09', 'Front cam', '" + id + "')"},
        {"deleteVehicle", MapCommands::deleteVehicle(ID), "deleteVehicle('" + id + "')"},
        {"enableTooltip", MapCommands::enableTooltip(), "enableTooltip()"},
        {"hideTooltip", MapCommands::hideTooltip(), "hideTooltip()"},
        {"showTrackingMap", MapCommands::showTrackingMap(), "showTrackingMap()"},
        {"insertGpsInfo", MapCommands::insertGpsInfo(10.5, -20.25, -1.0),
         "insertGpsInfo(10.500000, -20.250000, -1.000000);"},
        {"showTrackingLine", MapCommands::showTrackingLine(10.5, -20.25), "showTrackingLine(10.500000, -20.250000);"},
        {"a value that is not finite still makes a valid line", MapCommands::insertGpsInfo(NAN, INFINITY, -INFINITY),
         "insertGpsInfo(NaN, Infinity, -Infinity);"},
    };
    for (const TextRow& row : rows)
        EXPECT_EQ(row.built.toStdString(), row.expected) << row.label;
}

TEST(MapCommandsTest, InsertVehicleWithFlagOneSendsThreeLinesWithForwardSlashes)
{
    MapCommands::Vehicle v = sampleVehicle();
    const std::string id = ID;
    const QStringList lines = MapCommands::insertVehicle(1, v);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].toStdString(),
              "insertVehicle(1, '37.566500', '126.978000', '" + id + "', 'O\\'Brien\\\\Co', '2026-01-31 17:05:09')");
    EXPECT_EQ(lines[1].toStdString(), "insertOptionalInfo(1, '" + id
                                          + "', 'O\\'Brien\\\\Co', 'Acme', 'Maker', 'M1', '12-AB', 'Kim', 'L-1')");
    EXPECT_EQ(lines[2].toStdString(), "insertUserDefinedInfo('" + id + "', 'images/car.png', 'first', 'second')");
    // The record keeps the converted path (in memory).
    EXPECT_EQ(v.imagePath, "images/car.png");

    MapCommands::Vehicle fresh = sampleVehicle();
    const QStringList firstSeen = MapCommands::insertVehicle(0, fresh);
    ASSERT_EQ(firstSeen.size(), 2);
    EXPECT_TRUE(firstSeen[0].startsWith(QStringLiteral("insertVehicle(0, ")));
    EXPECT_TRUE(firstSeen[1].startsWith(QStringLiteral("insertOptionalInfo(0, ")));
    EXPECT_EQ(fresh.imagePath, "images\\car.png");
}

TEST(MapCommandsTest, FromAStoredRecord)
{
    VehicleInfo record{UniqueID(ID)};
    record.setName("DVR-7");
    record.setEditedName("Bus 12");
    record.setLastUpdatedLatitude("1.5");
    record.setLastUpdatedLongitude("2.5");
    record.setLastUpdatedTime("2026-01-31 17:05:09");
    record.setImagePath("images\\car.png");
    const std::string id = ID;
    const QStringList lines = MapCommands::insertVehicle(1, record);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].toStdString(), "insertVehicle(1, '1.5', '2.5', '" + id + "', 'Bus 12', '2026-01-31 17:05:09')");
    EXPECT_EQ(record.getImagePath(), "images/car.png");
    EXPECT_EQ(MapCommands::updateVehicleName(record).toStdString(), "updateVehicleName('" + id + "', 'DVR-7')");
}

TEST(MapCommandsTest, DisplayNameFallsBackToDeviceName)
{
    MapCommands::Vehicle v = sampleVehicle();
    v.editedName.clear();
    EXPECT_TRUE(MapCommands::updateVehicle(v).contains(QStringLiteral("'DVR-7'")));
}

struct EscapeRow {
    const char* input;
    const char* expected;
};

TEST(MapCommandsTest, EscapingCannotBreakTheString)
{
    const EscapeRow rows[] = {
        {"plain Bus 12", "plain Bus 12"},
        {"O'Brien\\Co", "O\\'Brien\\\\Co"},
        {"two\nlines", "two\\u000alines"},
        {"cr\rtab\t", "cr\\u000dtab\\u0009"},
        {"nul\x01" "del\x7f", "nul\\u0001del\\u007f"},
        {"c1\xc2\x85", "c1\\u0085"},
        {"ls\xe2\x80\xa8ps\xe2\x80\xa9", "ls\\u2028ps\\u2029"},
        {"</script><b>", "</script><b>"},
        {"\xed\x95\x9c\xea\xb8\x80", "\xed\x95\x9c\xea\xb8\x80"},
        {"'); evil(); ('", "\\'); evil(); (\\'"},
    };
    for (const EscapeRow& row : rows)
        EXPECT_EQ(MapCommands::escape(std::string_view(row.input)).toStdString(), row.expected) << row.input;
    // A NUL inside the value is kept and written out, not cut at.
    EXPECT_EQ(MapCommands::escape(std::string_view("a\0b", 3)).toStdString(), "a\\u0000b");
}

TEST(MapCommandsTest, ImagePathsAreEscapedToo)
{
    EXPECT_EQ(MapCommands::updateImgPath(ID, "images/Bob's truck.png").toStdString(),
              std::string("updateImgPath('") + ID + "', 'images/Bob\\'s truck.png')");
    MapCommands::Vehicle v = sampleVehicle();
    v.imagePath = "C:\\fleet\\Bob's truck.png";
    EXPECT_EQ(MapCommands::insertVehicle(1, v).at(2).toStdString(),
              std::string("insertUserDefinedInfo('") + ID + "', 'C:/fleet/Bob\\'s truck.png', 'first', 'second')");
}

TEST(MapCommandsTest, LongValuesAreNeverCut)
{
    // Far beyond every fixed line size the commands once had.
    MapCommands::Vehicle v = sampleVehicle();
    v.editedName = std::string(3000, 'n') + "END";
    v.imagePath = std::string(500, 'p') + "\\tail.png";
    v.license = std::string(2000, 'l') + "LAST";
    const QStringList lines = MapCommands::insertVehicle(1, v);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains(QString::fromStdString(v.editedName)));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("LAST')")));
    EXPECT_TRUE(lines[2].contains(QString(500, QLatin1Char('p')) + QStringLiteral("/tail.png")));
}

// C's own "%f" of value in the C locale, whatever the process locale is.
std::string cFormatted(double value)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(c);
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    uselocale(previous);
    return text;
}

TEST(MapCommandsTest, NumbersIgnoreTheProcessLocale)
{
    struct Row {
        double value;
        const char* expected;
    };
    const Row rows[] = {
        {1.5, "1.500000"},
        {-2.25, "-2.250000"},
        {-0.0, "-0.000000"},          // a fix at 0000.0000,S
        {-0.0000001, "-0.000000"},    // rounds to zero, keeps its sign
        {0.0000005, "0.000000"},      // the binary value lies just below the half
        {0.0000015, "0.000002"},
        {37.3874583333, "37.387458"},
        {-121.97236, "-121.972360"},
        {1e21, "1000000000000000000000.000000"},
        {-1e300, nullptr},            // long: compared with C's text only
        {5e-324, "0.000000"},
    };
    // A comma decimal separator would split one argument into two.
    test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    for (const Row& row : rows) {
        SCOPED_TRACE(cFormatted(row.value));
        const std::string written = MapCommands::number(row.value).toStdString();
        EXPECT_EQ(written, cFormatted(row.value));
        if (row.expected != nullptr) {
            EXPECT_EQ(written, row.expected);
        }
    }
    EXPECT_EQ(MapCommands::showTrackingLine(1.5, -2.25).toStdString(), "showTrackingLine(1.500000, -2.250000);");
    const GPSInfo fix("$GPRMC,134530,A,3723.2475,N,12158.3416,W,0.13,309.62,120598,,*10");
    EXPECT_EQ(MapCommands::moveTo(fix, "V").toStdString(),
              "moveTo(37.387458, -121.972360, 0.130000, 13, 45, 30, 309.620000, 'V');");
    const GPSInfo origin("$GPRMC,000000,A,0000.0000,S,00000.0000,W,0.0,,010100");
    EXPECT_EQ(MapCommands::insertGpsInfo(origin).toStdString(), "insertGpsInfo(-0.000000, -0.000000, -1.000000);");
    std::printf("under %s: %s\n", test::GermanLocale::NAME, MapCommands::moveTo(fix, "V").toStdString().c_str());
}

TEST(MapCommandsTest, FromAGpsFix)
{
    struct Row {
        const char* sentence;
        const char* expected;
    };
    const Row rows[] = {
        {"$GPRMC,170509,A,3733.9900,N,12658.6800,E,12.5,271.25,310126,,*00",
         "moveTo(37.566500, 126.978000, 12.500000, 17, 5, 9, 271.250000, 'V');"},
        {"$GPRMC,010203,A,3352.1280,S,15112.5580,W,0.0,,310126,,*00",
         "moveTo(-33.868800, -151.209300, 0.000000, 1, 2, 3, -1.000000, 'V');"},
    };
    for (const Row& row : rows) {
        const GPSInfo fix(row.sentence);
        EXPECT_EQ(MapCommands::moveTo(fix, "V").toStdString(), row.expected) << row.sentence;
    }
    const GPSInfo fix(rows[1].sentence);
    EXPECT_EQ(MapCommands::insertGpsInfo(fix).toStdString(), "insertGpsInfo(-33.868800, -151.209300, -1.000000);");
}

// The history lines carry the replay's speed and time after the three values
// of the plain insertGpsInfo; a time text that is not what the database
// writes is escaped like any other value.
TEST(MapCommandsTest, HistoryLinesCarrySpeedAndTimeInEveryLocale)
{
    test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    const MapCommands::TrackFix fixes[] = {
        {48.137154, 11.576124, 271.25, 12.5, "2026-01-31 17:05:09"},
        {-0.5, -179.999999, -1.0, 0.0, ""},
        {1.0, 2.0, 3.0, 4.0, "it's\\\n<b>"},
        {NAN, 0.0, 0.0, 0.0, "2026-01-31 17:05:10"},
    };
    const TextRow rows[] = {
        {"one point", MapCommands::insertGpsInfo(fixes[0]),
         "insertGpsInfo(48.137154, 11.576124, 271.250000, 12.500000, '2026-01-31 17:05:09');"},
        {"a point without course or time", MapCommands::insertGpsInfo(fixes[1]),
         "insertGpsInfo(-0.500000, -179.999999, -1.000000, 0.000000, '');"},
        {"a hostile time", MapCommands::insertGpsInfo(fixes[2]),
         "insertGpsInfo(1.000000, 2.000000, 3.000000, 4.000000, 'it\\'s\\\\\\u000a<b>');"},
        {"no points", MapCommands::insertGpsTrack(fixes, 0), "insertGpsTrack([]);"},
        {"many points", MapCommands::insertGpsTrack(fixes, 4),
         "insertGpsTrack([48.137154, 11.576124, 271.250000, 12.500000, '2026-01-31 17:05:09', "
         "-0.500000, -179.999999, -1.000000, 0.000000, '', "
         "1.000000, 2.000000, 3.000000, 4.000000, 'it\\'s\\\\\\u000a<b>', "
         "NaN, 0.000000, 0.000000, 0.000000, '2026-01-31 17:05:10']);"},
    };
    for (const TextRow& row : rows)
        EXPECT_EQ(row.built.toStdString(), row.expected) << row.label;
}

} // namespace
} // namespace velmora
