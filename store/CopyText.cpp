#include "store/CopyText.h"

#include "foundation/UniqueID.h"
#include "store/StoreText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace velmora {

void CopyText::separate()
{
    if (m_inRow) {
        m_data.push_back('\t');
    }
    m_inRow = true;
}

void CopyText::text(std::string_view value)
{
    separate();
    for (const char c : value) {
        switch (c) {
        case '\\':
            m_data += "\\\\";
            break;
        case '\t':
            m_data += "\\t";
            break;
        case '\n':
            m_data += "\\n";
            break;
        case '\r':
            m_data += "\\r";
            break;
        default:
            m_data.push_back(c);
        }
    }
}

void CopyText::null()
{
    separate();
    m_data += "\\N";
}

void CopyText::integer(int64_t value)
{
    separate();
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    m_data.append(digits, written.ptr);
}

void CopyText::fixed6(double value)
{
    if (!std::isfinite(value)) {
        null();
        return;
    }
    separate();
    char digits[400];
    const auto written = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
    m_data.append(digits, written.ptr);
}

void CopyText::uuid(const UniqueID& id)
{
    separate();
    char text[UniqueID::TEXT_LENGTH + 1];
    id.toText(text);
    m_data.append(text, UniqueID::TEXT_LENGTH);
}

void CopyText::timeMicros(int64_t micros)
{
    constexpr int64_t MILLION = 1000000;
    int64_t seconds = micros / MILLION;
    int64_t fraction = micros % MILLION;
    if (fraction < 0) {
        fraction += MILLION;
        --seconds;
    }
    separate();
    char text[24];
    std::snprintf(text, sizeof text, ".%06lld+00", static_cast<long long>(fraction));
    m_data += StoreText::formatTime(seconds);
    m_data += text;
}

void CopyText::timeSeconds(int64_t seconds)
{
    if (seconds == StoreText::NO_TIME) {
        null();
        return;
    }
    separate();
    m_data += StoreText::formatTime(seconds);
    m_data += "+00";
}

void CopyText::boolean(bool value)
{
    separate();
    m_data.push_back(value ? 't' : 'f');
}

void CopyText::endRow()
{
    m_data.push_back('\n');
    m_inRow = false;
    ++m_rows;
}

void CopyText::clear()
{
    m_data.clear();
    m_rows = 0;
    m_inRow = false;
}

} // namespace velmora
