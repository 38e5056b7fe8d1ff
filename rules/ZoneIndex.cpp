#include "rules/ZoneIndex.h"

#include "rules/Zone.h"

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/box.hpp>
#include <boost/geometry/geometries/point.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <boost/iterator/function_output_iterator.hpp>

#include <algorithm>
#include <utility>

namespace velmora {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

namespace {

// Longitude as x, latitude as y, in plain degrees: the boxes are only a
// sieve, so a flat plane is all they need.
using Point = bg::model::point<double, 2, bg::cs::cartesian>;
using Box = bg::model::box<Point>;
using Value = std::pair<Box, uint32_t>;

Box box(double west, double south, double east, double north) { return Box(Point(west, south), Point(east, north)); }

/// The zone's box as one or two boxes within -180..180.
size_t boxesOf(const Zone& zone, Box (&out)[2]) {
    const double south = zone.getSouth();
    const double north = zone.getNorth();
    const double west = zone.getWest();
    const double east = zone.getEast();
    if (east - west >= 360.0) {
        out[0] = box(-180.0, south, 180.0, north);
        return 1;
    }
    // Places are looked up with longitudes in -180..180 (180 itself read as
    // -180), so a box touching either end gets its piece on the other side.
    if (west <= -180.0) {
        out[0] = box(west + 360.0, south, 180.0, north);
        out[1] = box(-180.0, south, east, north);
        return 2;
    }
    if (east >= 180.0) {
        out[0] = box(west, south, 180.0, north);
        out[1] = box(-180.0, south, east - 360.0, north);
        return 2;
    }
    out[0] = box(west, south, east, north);
    return 1;
}

} // namespace

struct ZoneIndex::Tree {
    bgi::rtree<Value, bgi::rstar<16>> tree;
};

ZoneIndex::ZoneIndex() : m_tree(std::make_unique<Tree>()) {}

ZoneIndex::~ZoneIndex() = default;

void ZoneIndex::insert(uint32_t slot, const Zone& zone) {
    if (!zone.isValid()) {
        return;
    }
    Box boxes[2];
    const size_t count = boxesOf(zone, boxes);
    for (size_t i = 0; i < count; ++i) {
        m_tree->tree.insert(Value(boxes[i], slot));
    }
}

void ZoneIndex::remove(uint32_t slot, const Zone& zone) {
    if (!zone.isValid()) {
        return;
    }
    Box boxes[2];
    const size_t count = boxesOf(zone, boxes);
    for (size_t i = 0; i < count; ++i) {
        m_tree->tree.remove(Value(boxes[i], slot));
    }
}

void ZoneIndex::candidates(GeoPoint point, std::vector<uint32_t>& out) const {
    if (!point.isValid()) {
        return;
    }
    const size_t first = out.size();
    const Point place(GeoPoint::normalLongitude(point.longitude), point.latitude);
    m_tree->tree.query(bgi::intersects(place),
                       boost::make_function_output_iterator([&out](const Value& value) { out.push_back(value.second); }));
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
    out.erase(std::unique(out.begin() + static_cast<std::ptrdiff_t>(first), out.end()), out.end());
}

size_t ZoneIndex::boxCount() const { return m_tree->tree.size(); }

} // namespace velmora
