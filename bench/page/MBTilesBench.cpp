// bench_mbtiles: tiles of an MBTiles file served to the real page by the
// velmora scheme, as the map asks for them: the page (offscreen) loads each
// tile as an image, a view of 24 at a time asked for in one batch from
// velmora://mbtiles/batch/z (the page's TileBatcher), through the
// engine, the scheme handler and MBTilesSource (tiles_per_s). Same run,
// same tiles: the scheme handler's resolve() called directly with the same
// batches, without the engine (resolve_tiles_per_s), and the blobs read
// straight from SQLite with one prepared statement (baseline_tiles_per_s).
// Medians of three rounds; the page loads each tile once (a third of them
// per round), as it keeps the pictures it has seen.
//
// usage: bench_mbtiles [tiles]   (default 4096, a 64 x 64 block at zoom 12)
// Summary: mbtiles: tiles=<n> tiles_per_s=<n> resolve_tiles_per_s=<n> baseline_tiles_per_s=<n>
//
// VELMORA_SHOTS=<dir> also saves two pictures of the page: <dir>/i14-zoom12.png
// (the file's tiles over a city at zoom 12, with vehicles) and
// <dir>/i14-clusters.png (500 grouped vehicles at zoom 5).
#include "bench/page/CityTiles.h"

#include "mapview/BrowserEnvironment.h"
#include "mapview/MBTilesSource.h"
#include "mapview/MapCommands.h"
#include "mapview/PageDocumentView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace velmora;

namespace {

constexpr int ROUNDS = 3;
constexpr int ZOOM = CityTiles::ZOOM;
constexpr double CITY_LAT = CityTiles::LAT;
constexpr double CITY_LNG = CityTiles::LNG;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Block {
    int x0, y0, side;
};

// The same batches of CityTiles::VIEW_TILES tiles the page asks for.
double resolveRate(const VelmoraSchemeHandler& handler, const Block& block, int tiles) {
    QElapsedTimer timer;
    timer.start();
    long long bytes = 0;
    for (int first = 0; first < tiles; first += CityTiles::VIEW_TILES) {
        QStringList xy;
        for (int i = first; i < std::min(tiles, first + CityTiles::VIEW_TILES); ++i) {
            xy << QString::number(block.x0 + i % block.side)
               << QString::number(block.y0 + (i / block.side) % block.side);
        }
        const auto reply =
            handler.resolve(QUrl(QStringLiteral("velmora://mbtiles/batch/%1?xy=%2").arg(ZOOM).arg(xy.join(','))));
        bytes += reply.body.size();
    }
    const double seconds = std::max(timer.nsecsElapsed() / 1e9, 1e-9);
    return bytes > 0 ? tiles / seconds : 0;
}

double sqliteRate(const std::string& path, const Block& block, int tiles) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT tile_data FROM tiles WHERE zoom_level=?1 AND tile_column=?2 AND tile_row=?3;", -1,
                       &select, nullptr);
    QElapsedTimer timer;
    timer.start();
    long long bytes = 0;
    const int last = (1 << ZOOM) - 1;
    for (int i = 0; i < tiles; ++i) {
        sqlite3_bind_int(select, 1, ZOOM);
        sqlite3_bind_int(select, 2, block.x0 + i % block.side);
        sqlite3_bind_int(select, 3, last - (block.y0 + (i / block.side) % block.side));
        if (sqlite3_step(select) == SQLITE_ROW) {
            bytes += sqlite3_column_bytes(select, 0);
        }
        sqlite3_reset(select);
    }
    const double seconds = std::max(timer.nsecsElapsed() / 1e9, 1e-9);
    sqlite3_finalize(select);
    sqlite3_close(db);
    return bytes > 0 ? tiles / seconds : 0;
}

void shoot(const QString& dir, const MBTilesSource& source) {
    const MBTilesSource::Metadata& m = source.getMetadata();
    PageDocument::Config config;
    config.localTiles = MBTilesSource::tileAddress();
    config.localTilesBatch = MBTilesSource::batchAddress();
    config.localAttribution = m.attribution;
    config.localWest = m.west;
    config.localSouth = m.south;
    config.localEast = m.east;
    config.localNorth = m.north;
    config.localMinZoom = m.minZoom;
    config.localMaxZoom = m.maxZoom;
    {
        PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800), nullptr, config);
        source.install(*page.getHost().getSchemeHandler());
        page.getWindow().show();
        if (!page.waitLoaded()) {
            return;
        }
        for (int i = 0; i < 12; ++i) {
            MapCommands::Vehicle v;
            v.id = "{00000000-0000-4000-8000-00000000000" + std::string(1, static_cast<char>('a' + i)) + "}";
            v.name = "Van " + std::to_string(i + 1);
            v.lastUpdatedTime = "2026-12-08 06:30:00";
            v.lastUpdatedLatitude = QString::number(CITY_LAT + 0.02 * std::sin(i), 'f', 6).toStdString();
            v.lastUpdatedLongitude = QString::number(CITY_LNG + 0.03 * std::cos(i * 1.7), 'f', 6).toStdString();
            for (const QString& line : MapCommands::insertVehicle(1, v)) {
                page.execute(line);
            }
        }
        page.evaluate(QStringLiteral("map.setView([%1, %2], %3, {animate: false}); true")
                          .arg(CITY_LAT, 0, 'f', 4)
                          .arg(CITY_LNG, 0, 'f', 4)
                          .arg(ZOOM));
        page.waitUntil(QStringLiteral("document.querySelectorAll('.leaflet-tile-loaded').length > 8"), 20000);
        PageDocumentView::pump(1500);
        page.grab().save(dir + QStringLiteral("/i14-zoom12.png"));
    }
    {
        PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800));
        page.getWindow().show();
        if (!page.waitLoaded()) {
            return;
        }
        QString script = QStringLiteral("(function () { for (var i = 1; i <= 500; ++i) {"
                                        " var c = i <= 300 ? [48.8566, 2.3522] : i <= 420 ? [45.764, 4.8357] : [43.2965, 5.3698];"
                                        " var a = i * 2.39996, r = 0.4 * Math.sqrt((i % 120) / 120);"
                                        " insertVehicle(1, String(c[0] + r * Math.sin(a)), String(c[1] + r * Math.cos(a)),"
                                        " 'v' + i, 'Van ' + i, ''); }"
                                        " updateEventInfo(13, 'Van 350', '', ' ', 'v350');"
                                        " listBox.setCurrentVehicle(null, listBox.item('v7'));"
                                        " map.setView([46.3, 3.8], 5, {animate: false}); return true; })()");
        page.evaluate(script, 60000);
        PageDocumentView::pump(2500);
        page.grab().save(dir + QStringLiteral("/i14-clusters.png"));
    }
}

} // namespace

int main(int argc, char** argv) {
    const int tiles = argc > 1 ? std::max(16, std::atoi(argv[1])) : 4096;
    BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);

    CityTiles city(tiles);
    const QString problem = city.open();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "bench_mbtiles: %s\n", qPrintable(problem));
        return 1;
    }
    const Block block{city.getX0(), city.getY0(), city.getSide()};
    PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800));
    city.getSource().install(*page.getHost().getSchemeHandler());
    if (!page.waitLoaded()) {
        std::fprintf(stderr, "bench_mbtiles: the page did not load\n");
        return 1;
    }
    std::vector<double> engine, resolved, baseline;
    for (int round = 0; round < ROUNDS; ++round) {
        engine.push_back(city.loadRate(page, round, ROUNDS));
        resolved.push_back(resolveRate(*page.getHost().getSchemeHandler(), block, tiles));
        baseline.push_back(sqliteRate(city.getPath(), block, tiles));
        if (std::getenv("VELMORA_BENCH_DETAIL") != nullptr) {
            std::fprintf(stderr, "round %d: engine %.0f resolve %.0f sqlite %.0f tiles/s\n", round, engine.back(),
                         resolved.back(), baseline.back());
        }
    }
    if (const char* shots = std::getenv("VELMORA_SHOTS")) {
        shoot(QString::fromLocal8Bit(shots), city.getSource());
    }
    std::printf("mbtiles: tiles=%d tiles_per_s=%.0f resolve_tiles_per_s=%.0f baseline_tiles_per_s=%.0f\n", tiles,
                median(engine), median(resolved), median(baseline));
    return std::find(engine.begin(), engine.end(), 0.0) == engine.end() ? 0 : 1;
}
