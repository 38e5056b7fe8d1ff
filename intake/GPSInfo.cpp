#include "intake/GPSInfo.h"

#include "foundation/ClassicLocale.h"

#include <cmath>
#include <cstdlib>
#include <stdlib.h>

namespace velmora {

namespace {

/// Index of each used field in a $GPRMC sentence.
constexpr size_t FIELD_TIME = 1;
constexpr size_t FIELD_LATITUDE = 3;
constexpr size_t FIELD_NORTH_SOUTH = 4;
constexpr size_t FIELD_LONGITUDE = 5;
constexpr size_t FIELD_EAST_WEST = 6;
constexpr size_t FIELD_SPEED = 7;
constexpr size_t FIELD_COURSE = 8;
constexpr size_t FIELDS_EXPECTED = 14;

/// atoi of the characters text[at], text[at + 1] that exist. A negative
/// pair ("-5") would spill into the neighbouring bytes of the packed Time, so
/// it reads 0.
int pairValue(const std::string& text, size_t at)
{
    if (at >= text.size()) {
        return 0;
    }
    char pair[3] = {text[at], at + 1 < text.size() ? text[at + 1] : '\0', '\0'};
    int value = std::atoi(pair);
    return value < 0 ? 0 : value;
}

/// The atof rule (leading blanks, longest decimal prefix, 0.0 without
/// digits), except that hexadecimal, infinite and NaN forms read 0.0: a
/// device text must never put a non-finite position on the map. Read in the
/// C locale: devices write a dot whatever the console's locale is.
double decimalValue(const char* text)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    if (*p == '+' || *p == '-') {
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        return 0.0;
    }
    double value = strtod_l(text, nullptr, ClassicLocale::handle());
    return std::isfinite(value) ? value : 0.0;
}

} // namespace

GPSInfo::GPSInfo(const std::string& sentence)
{
    // The first of "$GPRMC" marks where the sentence starts; for a proper
    // sentence this skips exactly the "$".
    size_t start = sentence.find_first_of("$GPRMC");
    start = start == std::string::npos ? 0 : start + 1;
    // A $GPRMC sentence has 12 or 13 fields: one allocation, not five.
    m_fields.reserve(FIELDS_EXPECTED);
    for (;;) {
        size_t separator = sentence.find(',', start);
        if (separator == std::string::npos) {
            separator = sentence.find('*', start);
        }
        if (separator == std::string::npos) {
            break;
        }
        m_fields.emplace_back(sentence, start, separator - start);
        start = separator + 1;
    }
    m_fields.emplace_back(start <= sentence.size() ? sentence.substr(start) : std::string());
}

GPSInfo::~GPSInfo() = default;

const std::string* GPSInfo::field(size_t index) const
{
    return index < m_fields.size() ? &m_fields[index] : nullptr;
}

double GPSInfo::number(size_t index) const
{
    const std::string* text = field(index);
    // A zero byte inside the field ends the number, as in the device's own text.
    return text ? decimalValue(text->c_str()) : 0.0;
}

double GPSInfo::degrees(size_t valueIndex, size_t hemisphereIndex, const char* negative) const
{
    double x = number(valueIndex);
    double d = std::floor(x / 100.0);
    double value = d + (x - d * 100.0) / 60.0;
    const std::string* hemisphere = field(hemisphereIndex);
    if (hemisphere && *hemisphere == negative) {
        value = -value;
    }
    return value;
}

double GPSInfo::getLatitude() const { return degrees(FIELD_LATITUDE, FIELD_NORTH_SOUTH, "S"); }

double GPSInfo::getLongitude() const { return degrees(FIELD_LONGITUDE, FIELD_EAST_WEST, "W"); }

double GPSInfo::getSpeed() const { return number(FIELD_SPEED); }

double GPSInfo::getBearing() const
{
    const std::string* course = field(FIELD_COURSE);
    if (!course || course->empty()) {
        return -1.0;
    }
    return decimalValue(course->c_str());
}

Time GPSInfo::getUtcTime() const
{
    const std::string* text = field(FIELD_TIME);
    if (!text) {
        return Time(0, 0, 0);
    }
    return Time(pairValue(*text, 0), pairValue(*text, 2), pairValue(*text, 4));
}

bool GPSInfo::hasPosition() const { return m_fields.size() > FIELD_COURSE; }

} // namespace velmora
