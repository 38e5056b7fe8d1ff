#include "rules/Alarm.h"

#include <cstdio>

namespace velmora {

std::string Alarm::timeText(std::time_t utc) {
    if (utc == 0) {
        return {};
    }
    std::tm parts{};
    if (gmtime_r(&utc, &parts) == nullptr) {
        return {};
    }
    // Digits only: the text is the same in every locale.
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::time_t Alarm::parseTime(const std::string& text) {
    std::tm parts{};
    char rest = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &rest) != 6) {
        return 0;
    }
    if (parts.tm_mon < 1 || parts.tm_mon > 12 || parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_hour > 23 ||
        parts.tm_min > 59 || parts.tm_sec > 60) {
        return 0;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return timegm(&parts);
}

} // namespace velmora
