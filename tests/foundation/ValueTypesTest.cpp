#include "foundation/AppConstants.h"
#include "foundation/BitMask32.h"
#include "foundation/ByteBuffer.h"
#include "foundation/Date.h"
#include "foundation/DateTime.h"
#include "foundation/FormatableBuffer.h"
#include "foundation/Time.h"
#include "foundation/UniqueID.h"
#include "tests/support/GermanLocale.h"

#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>

using namespace velmora;

namespace {
template <typename T>
std::string text(const T& value)
{
    FormatableBuffer<128> out;
    value.toString(out);
    return out.getText();
}
} // namespace

TEST(DateTest, PacksPrintsAndOrders)
{
    const Date may(2012, 5, 17);
    EXPECT_EQ(may.getValue(), 131859729);
    EXPECT_EQ(text(may), "2012/05/17");
    EXPECT_TRUE(may.lessThan(Date(2012, 12, 1)));
    EXPECT_TRUE(may.lessThanOrEquals(Date(2012, 5, 17)));
    EXPECT_TRUE(Date().greaterThan(Date(9999, 12, 31))); // unset sorts last
    EXPECT_EQ(text(Date()), "65535/255/255");
    // Whatever arrives is stored, unchecked.
    const Date odd(2012, 13, 40);
    EXPECT_EQ(odd.getMonth(), 13);
    EXPECT_EQ(odd.getDay(), 40);
}

TEST(TimeTest, ZoneIsStoredButIgnoredByComparison)
{
    const Time tokyo(10, 0, 0, 9 * 3600);
    const Time utc(10, 0, 0, 0);
    EXPECT_TRUE(tokyo.equals(utc));
    EXPECT_NE(tokyo.getValue(), utc.getValue());

    const Time west(13, 45, 30, -3600);
    EXPECT_EQ(static_cast<uint32_t>(west.getValue()) >> 24, 0xFCu);
    EXPECT_EQ(west.getZoneOffset(), -3600);
    EXPECT_EQ(Time(0, 0, 0, 1000).getZoneOffset(), 900);
    EXPECT_EQ(Time(0, 0, 0, -1000).getZoneOffset(), -900);
    EXPECT_EQ(text(west), "13:45:30");
    EXPECT_EQ(text(Time()), "255:255:255");
    EXPECT_TRUE(Time(9, 59, 59).lessThan(Time(10, 0, 0, -36000)));
}

TEST(DateTimeTest, OrdersByDateThenTime)
{
    const DateTime late(2012, 5, 17, 23, 59, 59);
    const DateTime next(2012, 5, 18, 0, 0, 0);
    EXPECT_TRUE(late.lessThan(next));
    EXPECT_TRUE(next.greaterThan(late));
    EXPECT_TRUE(DateTime(2012, 5, 17, 1, 0, 0).lessThan(late));
    EXPECT_FALSE(late.lessThan(late));
    EXPECT_TRUE(late.greaterThanOrEquals(late));
    EXPECT_EQ(text(DateTime()), "65535/255/255 255:255:255");
    EXPECT_EQ(text(late), "2012/05/17 23:59:59");
}

TEST(DateTimeTest, FormattedGivesDisplayTextOrEmpty)
{
    EXPECT_EQ(DateTime(2012, 5, 17, 13, 45, 30).toDisplayText(), "2012-05-17 13:45:30");
    EXPECT_EQ(DateTime(2012, 5, 17, 13, 45, 30).formatted("%a %d.%m.%Y"), "Thu 17.05.2012");
    EXPECT_EQ(DateTime(2024, 2, 29, 0, 0, 0).formatted("%Y-%m-%d %A"), "2024-02-29 Thursday");
    // Values outside the calendar give a definite empty text.
    const DateTime outside[] = {DateTime(),
                                DateTime(2012, 0, 0, 0, 0, 0),
                                DateTime(2012, 13, 1, 0, 0, 0),
                                DateTime(2023, 2, 29, 0, 0, 0),
                                DateTime(2012, 5, 17, 24, 0, 0),
                                DateTime(2012, 5, 17, 0, 60, 0)};
    for (const DateTime& value : outside)
        EXPECT_EQ(value.formatted("%Y-%m-%d %H:%M:%S"), "") << text(value);
    // Results longer than 63 characters are not produced.
    const std::string longPattern(80, 'x');
    EXPECT_EQ(DateTime(2012, 5, 17, 1, 2, 3).formatted(longPattern.c_str()), "");
}

TEST(DateTimeTest, WeekdayAndDayOfYearMatchTheCalendar)
{
    // Every day from 1899 to 2101 against the C library's own calendar.
    for (int year = 1899; year <= 2101; ++year) {
        for (int yday = 0; yday < 366; ++yday) {
            std::tm day{};
            day.tm_year = year - 1900;
            day.tm_mday = 1 + yday;
            day.tm_hour = 12;
            timegm(&day);
            if (day.tm_year != year - 1900)
                break;
            char expected[32];
            std::strftime(expected, sizeof expected, "%a %j", &day);
            const DateTime value(year, day.tm_mon + 1, day.tm_mday, 0, 0, 0);
            ASSERT_EQ(value.formatted("%a %j"), expected) << year << "-" << yday;
        }
    }
}

TEST(DateTimeTest, SerialisesInBothByteOrders)
{
    const DateTime value(2012, 5, 17, 13, 45, 30, -3600);
    for (ByteOrder order : {ByteOrder::LittleEndian, ByteOrder::BigEndian}) {
        ByteBuffer buffer(order);
        value.serializeAt(buffer, 3);
        ASSERT_EQ(buffer.getBytes().size(), 11u);
        const uint8_t* bytes = buffer.getBytes().data() + 3;
        const uint8_t yearFirst = order == ByteOrder::LittleEndian ? 0xDC : 0x07; // 2012 = 0x07DC
        EXPECT_EQ(bytes[0], yearFirst);
        EXPECT_EQ(bytes[2], 5);
        EXPECT_EQ(bytes[3], 17);
        EXPECT_EQ(bytes[4], 0xFC); // zone -4 quarter hours
        EXPECT_EQ(bytes[5], 13);

        DateTime back;
        back.deserializeAt(buffer, 3);
        EXPECT_EQ(back.getDate().getValue(), value.getDate().getValue());
        EXPECT_EQ(back.getTime().getValue(), value.getTime().getValue());

        ByteBuffer stream(order);
        value.serialize(stream);
        Date(1999, 1, 2).serialize(stream);
        DateTime first;
        Date second;
        first.deserialize(stream);
        second.deserialize(stream);
        EXPECT_TRUE(first.equals(value));
        EXPECT_EQ(text(second), "1999/01/02");
        EXPECT_EQ(first.getTime().getZoneOffset(), -3600);
    }
    ByteBuffer empty;
    Date date;
    EXPECT_THROW(date.deserialize(empty), std::out_of_range);
}

TEST(UniqueIDTest, TextFormAndMemoryLayout)
{
    const UniqueID id("00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_EQ(id.toText(), "00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_EQ(text(id), "00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_EQ(id.getData1(), 0x00112233u);
    EXPECT_EQ(id.getData2(), 0x4455u);
    EXPECT_EQ(id.getData3(), 0x6677u);
    // Data1..3 little-endian in memory, Data4 as written.
    const uint8_t expected[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                  0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(id.getBytes()[i], expected[i]) << i;

    UniqueID parsed;
    EXPECT_TRUE(UniqueID::parse("{00112233-4455-6677-8899-AABBCCDDEEFF}", parsed));
    EXPECT_TRUE(parsed.equals(id));
}

TEST(UniqueIDTest, OrdersByMemoryBytesNotText)
{
    // Text order says a < b; memory order (Data1 little-endian) says b < a.
    const UniqueID a("00000001-0000-0000-0000-000000000000");
    const UniqueID b("00000100-0000-0000-0000-000000000000");
    EXPECT_TRUE(b.lessThan(a));
    EXPECT_TRUE(a.greaterThan(b));
    EXPECT_TRUE(a.notEquals(b));
}

TEST(UniqueIDTest, RejectsMalformedText)
{
    const char* bad[] = {"", "not a guid", "00112233-4455-6677-8899-aabbccddeef",
                         "00112233-4455-6677-8899-aabbccddeeffa", "00112233x4455-6677-8899-aabbccddeeff",
                         "0011223g-4455-6677-8899-aabbccddeeff", "{00112233-4455-6677-8899-aabbccddeeff",
                         "00112233-4455-6677-8899-aabbccddee\xff\xff"};
    const UniqueID original;
    for (const char* text : bad) {
        UniqueID id = original;
        EXPECT_FALSE(UniqueID::parse(text, id)) << text;
        EXPECT_TRUE(id.equals(original)) << text;
    }
    EXPECT_FALSE(UniqueID::parse(nullptr, *const_cast<UniqueID*>(&original)));
    EXPECT_THROW(UniqueID("nope"), std::invalid_argument);
}

TEST(UniqueIDTest, NewIdsDifferAndRoundTripThroughText)
{
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const UniqueID id;
        const std::string text = id.toText();
        EXPECT_TRUE(seen.insert(text).second);
        EXPECT_TRUE(UniqueID(text.c_str()).equals(id));
        EXPECT_EQ(text[14], '4'); // version 4
    }
}

TEST(BitMask32Test, PrintsAllBitsAndComparesUnsigned)
{
    EXPECT_EQ(text(BitMask32(5)), "0b00000000000000000000000000000101");
    EXPECT_EQ(text(BitMask32(0x80000000u)), "0b10000000000000000000000000000000");
    EXPECT_TRUE(BitMask32(0x80000000u).greaterThan(BitMask32(1)));
    EXPECT_TRUE(BitMask32(5).isSet(2));
    EXPECT_FALSE(BitMask32(5).isSet(1));
    EXPECT_FALSE(BitMask32(5).isSet(32));
}

TEST(AppConstantsTest, PatternsAndFallbacks)
{
    AppConstants& constants = AppConstants::getInstance();
    EXPECT_EQ(&constants, &AppConstants::getInstance());
    EXPECT_STREQ(constants.getDateFormat(constants.getDateFormatIndex()), "%Y-%m-%d");
    EXPECT_STREQ(constants.getTimeFormat(constants.getTimeFormatIndex()), "%H:%M:%S");
    EXPECT_STREQ(constants.getDateFormat(8), "%d/%m/%Y");
    EXPECT_STREQ(constants.getDateFormat(9), "%Y-%m-%d");
    EXPECT_STREQ(constants.getTimeFormat(0), "%I:%M:%S %p");
    EXPECT_STREQ(constants.getTimeFormat(-1), "%I:%M:%S %p");
}

TEST(DateTimeTest, FormattedIgnoresTheProcessLocale)
{
    // Stored times and the page's times are compared as texts; the words a
    // pattern may hold must not change with the operator's language either.
    struct Row {
        const char* pattern;
        const char* expected;
    };
    const Row rows[] = {
        {"%Y-%m-%d %H:%M:%S", "2012-05-17 13:45:30"},
        {"%I:%M:%S %p", "01:45:30 PM"},
        {"%a %d %b %Y", "Thu 17 May 2012"},
        {"%A %B", "Thursday May"},
    };
    test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    const DateTime value(2012, 5, 17, 13, 45, 30);
    for (const Row& row : rows)
        EXPECT_EQ(value.formatted(row.pattern), row.expected) << row.pattern;
    EXPECT_EQ(value.toDisplayText(), "2012-05-17 13:45:30");
    char text[DateTime::FORMATTED_SIZE];
    EXPECT_EQ(value.formatted("%p %b", text, sizeof text), 6u);
    EXPECT_STREQ(text, "PM May");
}
