#include "mapview/MapView.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace velmora {

namespace {

// The latitude where the map's Web Mercator world ends.
constexpr double WORLD_LATITUDE = 85.0511;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The next number of text from position, skipping blanks; from_chars reads
// the C locale only.
template <typename T>
bool readNumber(std::string_view text, size_t& position, T& value) {
    while (position < text.size() && isBlank(text[position])) {
        ++position;
    }
    const char* begin = text.data() + position;
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(begin, end, value);
    if (read.ec != std::errc() || read.ptr == begin) {
        return false;
    }
    position = static_cast<size_t>(read.ptr - text.data());
    return true;
}

} // namespace

bool MapView::isValid() const {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= WORLD_LATITUDE &&
           std::fabs(longitude) <= 180 && zoom >= MIN_ZOOM && zoom <= MAX_ZOOM;
}

std::string MapView::toText() const {
    char text[96];
    char lat[40];
    char lng[40];
    const std::to_chars_result a = std::to_chars(lat, lat + sizeof lat - 1, latitude, std::chars_format::fixed, 6);
    const std::to_chars_result b = std::to_chars(lng, lng + sizeof lng - 1, longitude, std::chars_format::fixed, 6);
    *a.ptr = '\0';
    *b.ptr = '\0';
    std::snprintf(text, sizeof text, "%s %s %d", lat, lng, zoom);
    return text;
}

std::optional<MapView> MapView::fromText(std::string_view text) {
    MapView view;
    size_t position = 0;
    if (!readNumber(text, position, view.latitude) || !readNumber(text, position, view.longitude) ||
        !readNumber(text, position, view.zoom)) {
        return std::nullopt;
    }
    while (position < text.size() && isBlank(text[position])) {
        ++position;
    }
    if (position != text.size() || !view.isValid()) {
        return std::nullopt;
    }
    return view;
}

std::optional<MapView> MapView::load(AbstractSetup& setup) {
    try {
        return fromText(setup.getString(KEY, ""));
    } catch (const DatabaseException& e) {
        // No readable settings: as on a first start.
        traceException(e);
        return std::nullopt;
    }
}

void MapView::store(AbstractSetup& setup) const {
    ScopedLock lock(setup.getLock());
    setup.getDatabase().setString(KEY, toText().c_str());
}

} // namespace velmora
