#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;

namespace {

const char* const GUID_TEXT = "00112233-4455-6677-8899-aabbccddeeff";

CallbackInfo parsed(std::string text)
{
    CallbackInfo info("10.0.0.7", 4321);
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    EXPECT_TRUE(CallbackMessageParser().parse(info, buffer.data()));
    return info;
}

/// Pairs of keys key0 .. key<count-1>, each with the value "v".
std::string otherPairs(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += ",key" + std::to_string(i) + ",v";
    }
    return text;
}

std::string repeat(const std::string& piece, size_t times)
{
    std::string text;
    for (size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

} // namespace

TEST(CallbackMessageParser, EventMessageFillsEveryHeadField)
{
    CallbackInfo info = parsed(std::string("Truck 7,1,0, ,Front Door,5,131859729,863518, ,3, ,") + GUID_TEXT);
    EXPECT_EQ(info.getVehicleName(), "Truck 7");
    EXPECT_EQ(info.getEventType(), 1);
    EXPECT_EQ(info.getOrdinal(), 1);
    EXPECT_EQ(info.getDeviceTitle(), "Front Door");
    EXPECT_EQ(info.getFlags().getValue(), 5u);
    EXPECT_EQ(info.getTime().toDisplayText(), "2012-05-17 13:45:30");
    EXPECT_EQ(info.getAuxText1(), " ");
    EXPECT_EQ(info.getAuxNumber(), 3);
    EXPECT_EQ(info.getAuxText2(), " ");
    EXPECT_EQ(info.getVehicleID().toText(), GUID_TEXT);
    EXPECT_EQ(info.getAddress(), "10.0.0.7");
    EXPECT_EQ(info.getPort(), 4321);
    EXPECT_TRUE(info.getGpsData().empty());
    EXPECT_TRUE(info.getOptionalInfo().empty());
}

struct HeadRow {
    const char* text;
    const char* name;
    int eventType;
    int ordinal;
    const char* title;
    int32_t timeValue;
};

TEST(CallbackMessageParser, HeadFieldRules)
{
    const HeadRow rows[] = {
        // A name of one space is the default; the kind follows.
        {" ,0", "Vehicle", 0, 0, "", 0},
        // Adjacent commas collapse, so 'x' is the ordinal (atoi 0, plus 1) and 'T' the ignored field.
        {"A,,2,x,T", "A", 2, 1, "", 0},
        {",,,,", "Vehicle", 0, 0, "", 0},
        {"", "Vehicle", 0, 0, "", 0},
        // Separators before the first field are skipped.
        {",,Bus,3", "Bus", 3, 0, "", 0},
        // The unit separator stands for a comma in name and title.
        {"Smith\x1F John,1,0, ,Door\x1F left", "Smith, John", 1, 1, "Door, left", 0},
        // A title of one space stays as it is.
        {"A,1,0, , ", "A", 1, 1, " ", 0},
        // Only a field of exactly one blank is empty: longer ones are kept as sent.
        {" Bus 7,1,0, , Door", " Bus 7", 1, 1, " Door", 0},
        {"  ,1,0, ,  ", "  ", 1, 1, "  ", 0},
        {"Bus 7 ,1", "Bus 7 ", 1, 0, "", 0},
        // The atoi rule: blanks, sign, trailing garbage, nothing numeric.
        {"A, 12abc,-3", "A", 12, -2, "", 0},
        {"A,+7, ", "A", 7, 1, "", 0},
        // Out of range numbers saturate instead of overflowing.
        {"A,99999999999,2147483647", "A", 2147483647, static_cast<int>(0x80000000u), "", 0},
        // The zone byte of the time field is dropped.
        {"A,1,0, ,T,0,131859729,269298974", "A", 1, 1, "T", 863518},
        {"A,1,0, ,T,0,131859729,-1", "A", 1, 1, "T", 0xFFFFFF},
    };
    for (const HeadRow& row : rows) {
        SCOPED_TRACE(row.text);
        CallbackInfo info = parsed(row.text);
        EXPECT_EQ(info.getVehicleName(), row.name);
        EXPECT_EQ(info.getEventType(), row.eventType);
        EXPECT_EQ(info.getOrdinal(), row.ordinal);
        EXPECT_EQ(info.getDeviceTitle(), row.title);
        EXPECT_EQ(info.getTime().getTime().getValue(), row.timeValue);
    }
}

struct IdRow {
    const char* text;
    const char* id; ///< nullptr: the message names no vehicle
};

// Only a GUID names a vehicle: anything else gives the nil id and no name,
// never an id made up for the message (each would be a new vehicle).
TEST(CallbackMessageParser, VehicleIdIsParsedOrNamesNoVehicle)
{
    const IdRow rows[] = {
        {"A,1", nullptr},                                                   // ends after field 2
        {"A,100,0, ,T,0,0,0, ,0, ,NOT-A-GUID,$GPRMC,1", nullptr},           // field 12 is not a GUID
        {"A,1,0, ,T,0,0,0, ,0, ,00112233-4455-6677-8899-aabbccddeefg", nullptr},
        {"A,1,0, ,T,0,0,0, ,0, ,00112233-4455-6677-8899-aabbccddeef", nullptr},
        {"A,1,0, ,T,0,0,0, ,0, ,00112233-4455-6677-8899-aabbccddeeff0", nullptr},
        {"A,1,0, ,T,0,0,0, ,0, ,00112233-4455-6677-8899-AABBCCDDEEFF", GUID_TEXT},
        {"A,1,0, ,T,0,0,0, ,0, ,{00112233-4455-6677-8899-aabbccddeeff}", GUID_TEXT},
    };
    for (const IdRow& row : rows) {
        SCOPED_TRACE(row.text);
        // A reused message that named a vehicle before names none now.
        CallbackInfo info("1.2.3.4", 1);
        info.setVehicleID(UniqueID());
        std::string copy = row.text;
        EXPECT_TRUE(CallbackMessageParser().parse(info, copy.data()));
        EXPECT_EQ(info.hasVehicleID(), row.id != nullptr);
        EXPECT_EQ(info.getVehicleID().toText(), row.id != nullptr ? row.id : "00000000-0000-0000-0000-000000000000");
    }
}

struct TextRow {
    const char* label;
    std::string field;
    std::string expected;
};

TEST(CallbackMessageParser, NameAndTitleAreCutAt255UnitsAndCleaned)
{
    const std::string e9 = "\xC3\xA9";          // é, 2 bytes, 1 unit
    const std::string emoji = "\xF0\x9F\x9A\x9A"; // U+1F69A, 4 bytes, 2 units
    const std::string fffd = "\xEF\xBF\xBD";
    const TextRow rows[] = {
        {"ascii 300", std::string(300, 'a'), std::string(255, 'a')},
        {"ascii 255", std::string(255, 'b'), std::string(255, 'b')},
        {"2-byte chars", repeat(e9, 300), repeat(e9, 255)},
        {"4-byte at the cut", std::string(254, 'a') + emoji, std::string(254, 'a')},
        {"4-byte fits", std::string(253, 'a') + emoji, std::string(253, 'a') + emoji},
        {"3-byte", repeat("\xE2\x82\xAC", 256), repeat("\xE2\x82\xAC", 255)},
        {"invalid lead", "a\xFF" "b", "a" + fffd + "b"},
        {"lone continuation", "\x80x", fffd + "x"},
        {"truncated sequence", "\xE2\x82", fffd},
        {"overlong", "\xC0\xAF", fffd + fffd},
        {"surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
        {"above U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"invalid counts one unit", std::string(254, 'a') + "\xFF\xFF", std::string(254, 'a') + fffd},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.label);
        CallbackInfo info = parsed(row.field + ",1,0, ," + row.field);
        EXPECT_EQ(info.getVehicleName(), row.expected);
        EXPECT_EQ(info.getDeviceTitle(), row.expected);
    }
}

TEST(CallbackMessageParser, AuxTextsAreStoredAsReceived)
{
    CallbackInfo info = parsed("A,1,0, ,T,0,0,0,\xFF\x1F,9,x\x1Fy");
    EXPECT_EQ(info.getAuxText1(), "\xFF\x1F");
    EXPECT_EQ(info.getAuxNumber(), 9);
    EXPECT_EQ(info.getAuxText2(), "x\x1Fy");
}

struct GpsRow {
    const char* label;
    std::string tail;
    std::string expected;
};

TEST(CallbackMessageParser, GpsTailRunsToTheFirstStar)
{
    const std::string head = std::string("Truck 7,100,0, ,GPS,0,131859729,863518, ,0, ,") + GUID_TEXT;
    const std::string sentence = "$GPRMC,134530.000,A,3723.2475,N,12158.3416,W,0.13,309.62,170512,,";
    const GpsRow rows[] = {
        {"with checksum", "," + sentence + "*10", sentence},
        {"without star keeps line end", "," + sentence + "\r\n", sentence + "\r\n"},
        {"leading stars skipped", ",**" + sentence + "*10", sentence},
        {"missing", "", ""},
        {"only a separator", ",", ""},
        {"repeated separator kept", ",," + sentence, "," + sentence},
    };
    for (const GpsRow& row : rows) {
        SCOPED_TRACE(row.label);
        CallbackInfo info = parsed(head + row.tail);
        EXPECT_EQ(info.getEventType(), 100);
        EXPECT_EQ(info.getGpsData(), row.expected);
        EXPECT_EQ(info.getVehicleID().toText(), GUID_TEXT);
    }
    // Another kind never reads a tail.
    EXPECT_TRUE(parsed("A,1,0, ,T,0,0,0, ,0, ," + std::string(GUID_TEXT) + "," + sentence).getGpsData().empty());
}

struct InfoRow {
    const char* label;
    std::string tail;
    CallbackInfo::OptionalInfo expected;
};

TEST(CallbackMessageParser, OptionalInformationPairs)
{
    const std::string head = std::string("Truck 7,101,0, , ,0,131859729,863518, ,0, ,") + GUID_TEXT;
    const InfoRow rows[] = {
        {"worked example", ",x,2,Driver,Night shift,Company,North Depot",
         {{"Company", "North Depot"}, {"Driver", "Night shift"}}},
        {"repeated key keeps the last", ",x,2,Driver,A,Driver,B", {{"Driver", "B"}}},
        {"value of one space is empty, unit separator in value", ",x,2,Maker,\x1F,Model, ",
         {{"Maker", ","}, {"Model", ""}}},
        {"a longer value that begins with a blank is kept", ",x,3,Driver, Ann,Company,  ,Model, \x1F",
         {{"Company", "  "}, {"Driver", " Ann"}, {"Model", " ,"}}},
        {"short count stores what came, missing value empty", ",x,5,Maker,Volvo,Model", {{"Maker", "Volvo"}, {"Model", ""}}},
        {"huge count ends with the text", ",x,2147483647,License,1", {{"License", "1"}}},
        {"values are cleaned and cut like names",
         ",x,2,Driver," + repeat("v", 300) + ",License,\xF0\x9F\x9A\x9A" + repeat("w", 300),
         {{"Driver", repeat("v", 255)}, {"License", "\xF0\x9F\x9A\x9A" + repeat("w", 253)}}},
        // Only the keys the console shows are kept, exactly as it names them.
        {"other keys are dropped", ",x,5,Color,red,driver,Ann,Driver\x1F,Bob,Dri\xFFver,Eve,Registration,ZH 1",
         {{"Registration", "ZH 1"}}},
        {"800 other keys cost nothing", ",x,801" + otherPairs(800) + ",Company,Acme", {}},
        {"kept keys among the first 64 pairs", ",x,65" + otherPairs(62) + ",Company,Acme,Maker,MAN,Model,TGX",
         {{"Company", "Acme"}, {"Maker", "MAN"}}},
        {"count zero", ",x,0,Driver,1", {}},
        {"negative count", ",x,-2,Driver,1", {}},
        {"missing count", ",x", {}},
        {"nothing after the id", "", {}},
    };
    for (const InfoRow& row : rows) {
        SCOPED_TRACE(row.label);
        CallbackInfo info = parsed(head + row.tail);
        EXPECT_EQ(info.getEventType(), 101);
        EXPECT_EQ(info.getOptionalInfo(), row.expected);
    }
}

TEST(CallbackMessageParser, ReusedInfoIsOverwrittenCompletely)
{
    CallbackInfo info;
    std::string first = std::string("A,101,5, ,T,7,1,2,a,3,b,") + GUID_TEXT + ",x,1,K,V";
    CallbackMessageParser parser;
    parser.parse(info, first.data());
    std::string second = "B";
    parser.parse(info, second.data());
    EXPECT_EQ(info.getVehicleName(), "B");
    EXPECT_FALSE(info.hasVehicleID());
    EXPECT_EQ(info.getEventType(), 0);
    EXPECT_EQ(info.getOrdinal(), 0);
    EXPECT_EQ(info.getDeviceTitle(), "");
    EXPECT_EQ(info.getFlags().getValue(), 0u);
    EXPECT_EQ(info.getAuxText1(), "");
    EXPECT_TRUE(info.getOptionalInfo().empty());
}

TEST(CallbackInfo, CopyToCopiesEveryField)
{
    CallbackInfo source = parsed(std::string("Truck 7,101,4, ,Door,5,131859729,863518,a,3,b,") + GUID_TEXT +
                                 ",x,1,Driver,Ann");
    source.setGpsData("$GPRMC,1");
    CallbackInfo target;
    source.copyTo(target);
    EXPECT_EQ(target.getVehicleName(), "Truck 7");
    EXPECT_EQ(target.getAuxText1(), "a");
    EXPECT_EQ(target.getAuxText2(), "b");
    EXPECT_EQ(target.getAddress(), "10.0.0.7");
    EXPECT_EQ(target.getDeviceTitle(), "Door");
    EXPECT_EQ(target.getAuxNumber(), 3);
    EXPECT_EQ(target.getPort(), 4321);
    EXPECT_EQ(target.getEventType(), 101);
    EXPECT_EQ(target.getOrdinal(), 5);
    EXPECT_EQ(target.getFlags().getValue(), 5u);
    EXPECT_TRUE(target.getTime().equals(source.getTime()));
    EXPECT_EQ(target.getVehicleID(), source.getVehicleID());
    EXPECT_TRUE(target.hasVehicleID());
    EXPECT_EQ(target.getGpsData(), "$GPRMC,1");
    EXPECT_EQ(target.getOptionalInfo(), source.getOptionalInfo());
    // The copy is independent of the source.
    target.optionalInfo()["Driver"] = "Bob";
    EXPECT_EQ(source.getOptionalInfo().at("Driver"), "Ann");
}

TEST(EventTypeName, NamesTheFourteenKindsAndNothingElse)
{
    EXPECT_EQ(std::u16string(eventTypeName(0)), u"Sensor");
    EXPECT_EQ(std::u16string(eventTypeName(4)), u"S.M.A.R.T. Bad");
    EXPECT_EQ(std::u16string(eventTypeName(10)), u"Archive Storage Full");
    EXPECT_EQ(std::u16string(eventTypeName(13)), u"Panic");
    EXPECT_EQ(std::string(eventTypeNameUtf8(13)), "Panic");
    for (int code : {-1, 14, 100, 101, -2147483647 - 1}) {
        EXPECT_EQ(std::u16string(eventTypeName(code)), u"") << code;
        EXPECT_EQ(std::string(eventTypeNameUtf8(code)), "") << code;
    }
}
