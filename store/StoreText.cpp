#include "store/StoreText.h"

#include "foundation/AppConstants.h"
#include "foundation/DateTime.h"

#include <chrono>
#include <cstdio>

namespace velmora {

namespace {

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

/// Length of the well-formed sequence at p (1 to 4), or 0 when ill-formed;
/// skip is the length of its maximal subpart then.
size_t sequenceAt(const unsigned char* p, const unsigned char* end, size_t& skip)
{
    const unsigned char lead = *p;
    skip = 1;
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (p + i >= end) {
            return 0;
        }
        const unsigned char c = p[i];
        const bool fits = i == 1 ? (c >= low && c <= high) : isContinuation(c);
        if (!fits) {
            return 0;
        }
        skip = i + 1;
    }
    return length;
}

bool readDigits(std::string_view text, size_t at, size_t count, int& value)
{
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

std::string StoreText::cut(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    size_t length = maxBytes;
    // Step back to the lead byte of a character the cut would split; at
    // most three steps, as no UTF-8 character is longer than four bytes.
    size_t start = length;
    while (start > 0 && length - start < 3 && isContinuation(static_cast<unsigned char>(text[start]))) {
        --start;
    }
    if (start < length && !isContinuation(static_cast<unsigned char>(text[start]))) {
        length = start;
    }
    return std::string(text.substr(0, length));
}

bool StoreText::isClean(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        size_t skip = 0;
        const size_t length = sequenceAt(p, end, skip);
        if (length == 0) {
            return false;
        }
        p += length;
    }
    return true;
}

std::string StoreText::clean(std::string_view text)
{
    if (isClean(text)) {
        return std::string(text);
    }
    static const char REPLACEMENT[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size() + 8);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        size_t skip = 0;
        const size_t length = sequenceAt(p, end, skip);
        if (length == 0) {
            out.append(REPLACEMENT, 3);
            p += skip;
        } else {
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
        }
    }
    return out;
}

std::string StoreText::deviceTimeText(const DateTime& time)
{
    const AppConstants& constants = AppConstants::getInstance();
    std::string pattern = constants.getDateFormat(constants.getDateFormatIndex());
    pattern += ' ';
    pattern += constants.getTimeFormat(constants.getTimeFormatIndex());
    return time.formatted(pattern.c_str());
}

int64_t StoreText::parseTime(std::string_view text)
{
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':') {
        return NO_TIME;
    }
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) || !readDigits(text, 17, 2, second)) {
        return NO_TIME;
    }
    // DATETIME() gives NULL for a leap second or a field out of range.
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return NO_TIME;
    }
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string StoreText::formatTime(int64_t seconds)
{
    if (seconds == NO_TIME) {
        return std::string();
    }
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int year = 0;
    int month = 0;
    int day = 0;
    civilFromDays(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

int64_t StoreText::daysFromCivil(int year, int month, int day)
{
    // Howard Hinnant's days_from_civil.
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void StoreText::civilFromDays(int64_t days, int& year, int& month, int& day)
{
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t StoreText::dayOfMicros(int64_t micros)
{
    constexpr int64_t DAY = 86400LL * 1000000LL;
    return micros >= 0 ? micros / DAY : -((-micros + DAY - 1) / DAY);
}

int64_t StoreText::nowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace velmora
