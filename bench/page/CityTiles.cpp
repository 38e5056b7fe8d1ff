#include "bench/page/CityTiles.h"

#include "tests/support/MBTilesMaker.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora {

CityTiles::CityTiles(int count)
    : tiles(std::max(16, count)), side(static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles))))) {
    const auto [cx, cy] = test::tileOf(LAT, LNG, ZOOM);
    x0 = cx - side / 2;
    y0 = cy - side / 2;
    path = QDir(dir.path()).filePath(QStringLiteral("city.mbtiles")).toStdString();
}

QString CityTiles::open() {
    test::MBTilesContent content;
    content.minZoom = 8;
    content.maxZoom = ZOOM;
    const double n = std::ldexp(1.0, ZOOM);
    auto lngOf = [n](int x) { return x / n * 360.0 - 180.0; };
    auto latOf = [n](int y) { return std::atan(std::sinh(M_PI * (1 - 2.0 * y / n))) * 180.0 / M_PI; };
    content.west = lngOf(x0) + 1e-9;
    content.east = lngOf(x0 + side) - 1e-9;
    content.north = latOf(y0) - 1e-9;
    content.south = latOf(y0 + side) + 1e-9;
    content.metadata = {{"name", "Lyon test tiles"},
                        {"format", "png"},
                        {"minzoom", "8"},
                        {"maxzoom", "12"},
                        {"bounds", QStringLiteral("%1,%2,%3,%4")
                                       .arg(content.west, 0, 'f', 6)
                                       .arg(content.south, 0, 'f', 6)
                                       .arg(content.east, 0, 'f', 6)
                                       .arg(content.north, 0, 'f', 6)
                                       .toStdString()},
                        {"attribution", "Tiles drawn by the bench"}};
    const int written = test::makeMBTiles(path, content);
    std::fprintf(stderr, "city tiles: %d written, block %d x %d at zoom %d\n", written, side, side, ZOOM);
    return source.open(QString::fromStdString(path));
}

double CityTiles::loadRate(PageDocumentView& page, int part, int parts) const {
    const int first = tiles * part / parts;
    const int count = tiles * (part + 1) / parts - first;
    // Views of VIEW_TILES tiles, one after the other, each asked for in one
    // turn of the page through the map's own TileBatcher.
    page.evaluate(QStringLiteral(
                      "window.__tiles = { done: %8, failed: 0, next: %8, total: %8 + %1,"
                      " start: performance.now(), end: 0 };"
                      "(function () { var b = window.__tiles, batcher = new TileBatcher('%7');"
                      " function finished(failed) { if (failed) b.failed++;"
                      "  if (++b.done === b.total) b.end = performance.now(); else if (b.done === b.next) view(); }"
                      " function view() { for (var k = 0; k < %6 && b.next < b.total; k++) { var i = b.next++;"
                      "  var img = new Image();"
                      "  img.onload = function () { finished(false); }; img.onerror = function () { finished(true); };"
                      "  batcher.ask(%2, %3 + i % %5, %4 + Math.floor(i / %5) % %5, img,"
                      "   function () { finished(true); }); } }"
                      " view(); })(); true")
                      .arg(count)
                      .arg(ZOOM)
                      .arg(x0)
                      .arg(y0)
                      .arg(side)
                      .arg(VIEW_TILES)
                      .arg(MBTilesSource::batchAddress())
                      .arg(first));
    if (!page.waitUntil(QStringLiteral("window.__tiles.done === window.__tiles.total"), 120000)) {
        std::fprintf(stderr, "city tiles: the page did not load every tile\n");
        return 0;
    }
    const int failed = page.evaluate(QStringLiteral("window.__tiles.failed")).toInt();
    if (failed != 0) {
        std::fprintf(stderr, "city tiles: %d tiles failed\n", failed);
        return 0;
    }
    const double ms = page.evaluate(QStringLiteral("window.__tiles.end - window.__tiles.start")).toDouble();
    return count * 1000.0 / std::max(ms, 0.001);
}

} // namespace velmora
