#include "app/shell/WindowGeometry.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

#include <charconv>
#include <cstdlib>

namespace velmora {

namespace {

constexpr int FIELDS = 7;

} // namespace

std::string WindowGeometry::toText() const {
    const int values[FIELDS] = {normal.x(),         normal.y(),
                                normal.width(),     normal.height(),
                                maximised ? 1 : 0,  alarmWidth,
                                alarmsFolded ? 1 : 0};
    std::string text;
    for (int value : values) {
        if (!text.empty()) {
            text += ' ';
        }
        // to_chars never follows the locale.
        char digits[16];
        const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
        text.append(digits, written.ptr);
    }
    return text;
}

std::optional<WindowGeometry> WindowGeometry::fromText(std::string_view text) {
    int values[FIELDS];
    size_t position = 0;
    for (int& value : values) {
        while (position < text.size() && text[position] == ' ') {
            ++position;
        }
        const char* begin = text.data() + position;
        const std::from_chars_result read = std::from_chars(begin, text.data() + text.size(), value);
        if (read.ec != std::errc() || read.ptr == begin || std::abs(static_cast<long long>(value)) > MAX_EXTENT) {
            return std::nullopt;
        }
        position = static_cast<size_t>(read.ptr - text.data());
    }
    while (position < text.size() && text[position] == ' ') {
        ++position;
    }
    const auto isFlag = [](int value) { return value == 0 || value == 1; };
    if (position != text.size() || values[2] <= 0 || values[3] <= 0 || !isFlag(values[4]) || values[5] < 0 ||
        !isFlag(values[6])) {
        return std::nullopt;
    }
    WindowGeometry geometry;
    geometry.normal = QRect(values[0], values[1], values[2], values[3]);
    geometry.maximised = values[4] == 1;
    geometry.alarmWidth = values[5];
    geometry.alarmsFolded = values[6] == 1;
    return geometry;
}

std::optional<WindowGeometry> WindowGeometry::load(AbstractSetup& setup) {
    try {
        return fromText(setup.getString(KEY, ""));
    } catch (const DatabaseException& e) {
        // No readable settings: as on a first start.
        traceException(e);
        return std::nullopt;
    }
}

void WindowGeometry::store(AbstractSetup& setup) const {
    ScopedLock lock(setup.getLock());
    setup.getDatabase().setString(KEY, toText().c_str());
}

} // namespace velmora
