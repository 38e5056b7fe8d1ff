// bench_track: one vehicle with 100,000 stored fixes over 7 days, shown as
// the console shows "7 Days": the fixes read into the container (load_ms),
// turned into history lines, run by the real page (offscreen) until the
// track is drawn and fitted on screen (draw_ms), then replayed at x600
// (replay_fps). Baselines in the same run: the same rows stepped through by
// plain SQLite without copying anything, the same points drawn as one plain
// polyline sent in one line, and the frame rate of an empty animation loop.
//
// usage: bench_track [fixes]   (default 100000)
// Summary: track: fixes=<n> load_ms=<n> draw_ms=<n> replay_fps=<n>
//          sql_baseline_ms=<n> polyline_baseline_ms=<n> frame_baseline_fps=<n>
//          first_draw_ms=<n> first_polyline_ms=<n>
// (medians of three rounds; the first round's draws, on a fresh engine,
// also on their own). VELMORA_BENCH_DETAIL=1 adds each round and the page's
// time per function on standard error.
#include "bench/db/BenchSupport.h"
#include "db/DBManager.h"
#include "db/GPSDataContainer.h"
#include "foundation/UniqueID.h"
#include "foundation/thread/ScopedLock.h"
#include "mapview/BrowserEnvironment.h"
#include "mapview/MapCommands.h"
#include "mapview/PageDocumentView.h"
#include "mapview/TrackHistory.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::bench;

namespace {

constexpr int DAYS = 7;
constexpr int ROUNDS = 3;

// A delivery van's week: on the road from 06:00 to 22:00 each day, a fix
// every few seconds, parked (and silent) overnight. Returns the time of the
// last fix.
std::time_t fill(const std::string& path, const std::string& vehicle, int fixes, std::time_t now)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    createSchema(db);
    execOrDie(db, "BEGIN;");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO gps_data (gps_data, update_time, vehicle_id) VALUES (?, DATETIME(?), ?);", -1,
                       &insert, nullptr);
    const int perDay = (fixes + DAYS - 1) / DAYS;
    const int interval = 16 * 3600 / perDay;
    const std::time_t firstDay = (now / 86400 - DAYS + 1) * 86400;
    double lat = 48.137, lon = 11.575, heading = 0;
    std::time_t t = firstDay;
    for (int i = 0; i < fixes; ++i) {
        const int day = i / perDay, k = i % perDay;
        t = firstDay + day * 86400 + 6 * 3600 + static_cast<std::time_t>(k) * interval;
        heading += 4.0 * std::sin(i / 37.0) + 1.5 * std::sin(i / 5.0);
        const double kmh = 45.0 + 25.0 * std::sin(i / 91.0);
        const double km = kmh * interval / 3600.0;
        // Back towards the depot when too far out: a city's worth of roads.
        if (std::hypot(lat - 48.137, (lon - 11.575) * 0.67) > 0.25)
            heading += 180.0;
        lat += km / 111.0 * std::cos(heading * M_PI / 180.0);
        lon += km / (111.0 * 0.67) * std::sin(heading * M_PI / 180.0);
        tm parts{};
        gmtime_r(&t, &parts);
        char sentence[128], time[32];
        std::snprintf(sentence, sizeof sentence, "$GPRMC,%02d%02d%02d.00,A,%02d%08.5f,N,%03d%08.5f,E,%.1f,%.1f,%02d%02d%02d,,,A",
                      parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(lat), (lat - std::floor(lat)) * 60,
                      static_cast<int>(lon), (lon - std::floor(lon)) * 60, kmh / 1.852,
                      std::fmod(heading + 3600.0, 360.0), parts.tm_mday, parts.tm_mon + 1, parts.tm_year % 100);
        std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &parts);
        sqlite3_bind_text(insert, 1, sentence, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, time, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, vehicle.c_str(), -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    execOrDie(db, "COMMIT;");
    sqlite3_close(db);
    return t;
}

// The same rows as the duration read, stepped through and nothing kept.
double sqlBaseline(const std::string& path, const std::string& vehicle, const std::string& since, long& rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM gps_data WHERE vehicle_id=? AND (update_time >= ?) ;", -1, &select, nullptr);
    sqlite3_bind_text(select, 1, vehicle.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(select, 2, since.c_str(), -1, SQLITE_STATIC);
    rows = 0;
    long bytes = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
        for (int c = 0; c < 4; ++c)
            bytes += sqlite3_column_bytes(select, c);
        ++rows;
    }
    sqlite3_finalize(select);
    const double ms = secondsSince(start) * 1000.0;
    sqlite3_close(db);
    return bytes > 0 ? ms : -1;
}

/// Sends lines, then waits until ready is true and one more frame has been
/// painted; milliseconds.
double timeDrawing(PageDocumentView& page, const QStringList& lines, const QString& ready)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString& line : lines)
        page.execute(line);
    if (!page.waitUntil(ready, 60000, 1))
        return -1;
    page.evaluate(QStringLiteral("window.__painted = false; requestAnimationFrame(function () {"
                                 " requestAnimationFrame(function () { window.__painted = true; }); }); true"));
    if (!page.waitUntil(QStringLiteral("window.__painted"), 60000, 1))
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    count = std::max(count, 1000);
    BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);

    ScratchDir dir;
    const std::string path = dir.file("app.db");
    const UniqueID vehicle;
    const std::string id = vehicle.toText();
    const std::time_t now = std::time(nullptr);
    const std::time_t last = fill(path, id, count, now);
    DBManager::getInstance().open(path.c_str(), 5000);

    PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800));
    if (!page.waitLoaded()) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    page.execute(MapCommands::setPageSize(1280, 800));
    MapCommands::Vehicle v;
    v.id = id;
    v.name = "Van 7";
    v.lastUpdatedTime = TrackHistory::timeText(last);
    v.lastUpdatedLatitude = "48.137000";
    v.lastUpdatedLongitude = "11.575000";
    for (const QString& line : MapCommands::insertVehicle(1, v))
        page.execute(line);
    page.evaluate(QStringLiteral("trackingVehicle = '%1'; true").arg(QString::fromStdString(id)));

    const bool detail = std::getenv("VELMORA_BENCH_DETAIL") != nullptr;
    if (detail) {
        // Where the page's time goes, per function.
        page.evaluate(QStringLiteral(
            "window.__t = {}; ['insertGpsTrack', 'showTrackingMap', 'showTrackingLine', 'timeTrack', 'drawTrack',"
            " 'drawArrows', 'fitHistory', 'showTrackingBar', 'renderReplay'].forEach(function (n) {"
            " var f = window[n]; window[n] = function () { var t0 = performance.now();"
            " var r = f.apply(this, arguments); window.__t[n] = (window.__t[n] || 0) + performance.now() - t0;"
            " return r; }; }); true"));
    }
    // "7 Days": read and draw, three rounds each; the medians count.
    std::vector<double> loads, draws, sqls, polylines, builds, decodes;
    int loaded = 0;
    const QString drawn = QStringLiteral("trackHistory !== null && trackHistory.line !== null && "
                                         "trackHistory.points.length === %1 && "
                                         "map.getBounds().contains(trackHistory.line.getBounds())");
    for (int round = 0; round < ROUNDS; ++round) {
        GPSDataContainer& container = GPSDataContainer::getInstance();
        ScopedLock lock(container.getLock());
        auto start = std::chrono::steady_clock::now();
        loaded = TrackHistory::load(id, 24 * DAYS, now);
        loads.push_back(secondsSince(start) * 1000.0);

        start = std::chrono::steady_clock::now();
        const std::vector<MapCommands::TrackFix> fixes = TrackHistory::fixes(container.getList(), loaded);
        decodes.push_back(secondsSince(start) * 1000.0);
        const QStringList lines = TrackHistory::commands(fixes);
        builds.push_back(secondsSince(start) * 1000.0);
        const double sendMs = timeDrawing(page, lines, drawn.arg(loaded));
        draws.push_back(sendMs < 0 ? -1 : secondsSince(start) * 1000.0);
        if (detail) {
            std::fprintf(stderr, "in the page: %s\n",
                         qPrintable(page.evaluate(QStringLiteral("var s = JSON.stringify(window.__t, function (k, v) {"
                                                                 " return typeof v === 'number' ? Math.round(v) : v; });"
                                                                 " window.__t = {}; s"))
                                        .toString()));
        }

        const std::string since = TrackHistory::timeText(static_cast<int64_t>(now) - 24 * 3600 * DAYS);
        long rows = 0;
        sqls.push_back(sqlBaseline(path, id, since, rows));
        if (rows != loaded) {
            std::fprintf(stderr, "the baseline read %ld rows, the load %d\n", rows, loaded);
            return 1;
        }

        // The same points as one plain polyline in one line.
        std::string plain = "(function () { var p = [";
        plain.reserve(static_cast<size_t>(loaded) * 24);
        char number[64];
        for (const MapCommands::TrackFix& fix : TrackHistory::fixes(container.getList(), loaded)) {
            plain.append(number, static_cast<size_t>(std::snprintf(number, sizeof number, "[%.6f,%.6f],",
                                                                   fix.latitude, fix.longitude)));
        }
        plain += "]; if (window.__plain) map.removeLayer(window.__plain); window.__plain = L.polyline(p, "
                 "{renderer: historyRenderer}).addTo(map); map.fitBounds(window.__plain.getBounds(), "
                 "{animate: false}); })();";
        const QString ready = QStringLiteral("window.__plain !== undefined && window.__plain.getLatLngs().length === "
                                             "%1 && map.getBounds().contains(window.__plain.getBounds())")
                                  .arg(loaded);
        page.execute(QStringLiteral("closeTrackingLine(); if (window.__plain) map.removeLayer(window.__plain);"
                                    " window.__plain = undefined;"));
        polylines.push_back(timeDrawing(page, {QString::fromStdString(plain)}, ready));
        page.execute(QStringLiteral("map.removeLayer(window.__plain); window.__plain = undefined;"));
    }
    // Leave the history on screen for the replay.
    {
        GPSDataContainer& container = GPSDataContainer::getInstance();
        ScopedLock lock(container.getLock());
        timeDrawing(page, TrackHistory::commands(TrackHistory::fixes(container.getList(), loaded)),
                    drawn.arg(loaded));
    }
    if (page.evaluate(QStringLiteral("trackHistory.gaps")).toInt() != DAYS - 1) {
        std::fprintf(stderr, "the nights were not shown as gaps\n");
        return 1;
    }

    // Replay at x600 for three seconds from the first morning.
    page.evaluate(QStringLiteral("setReplaySpeed(600); setReplayPlaying(trackHistory, true); true"));
    PageDocumentView::pump(300);
    const int frames0 = page.evaluate(QStringLiteral("trackHistory.frames")).toInt();
    const int index0 = page.evaluate(QStringLiteral("trackHistory.index")).toInt();
    QElapsedTimer timer;
    timer.start();
    PageDocumentView::pump(3000);
    const int frames1 = page.evaluate(QStringLiteral("trackHistory.frames")).toInt();
    const int index1 = page.evaluate(QStringLiteral("trackHistory.index")).toInt();
    const double replayFps = (frames1 - frames0) / (timer.nsecsElapsed() / 1e9);
    page.evaluate(QStringLiteral("setReplayPlaying(trackHistory, false); true"));
    // x600 for 3 s is 30 minutes of track: every fix of it passed.
    const double trackSeconds = page.evaluate(QStringLiteral("trackHistory.points[%1].t - trackHistory.points[%2].t")
                                                  .arg(index1)
                                                  .arg(index0))
                                    .toDouble();
    if (trackSeconds < 600 * 2.5 || trackSeconds > 600 * 3.8) {
        std::fprintf(stderr, "the replay covered %.0f s of track in 3 s at x600\n", trackSeconds);
        return 1;
    }

    // The engine's own frame rate here: an animation loop that does nothing.
    page.evaluate(QStringLiteral("window.__frames = 0; window.__counting = true; (function tick() {"
                                 " if (!window.__counting) return; window.__frames++; requestAnimationFrame(tick); })();"
                                 " true"));
    PageDocumentView::pump(300);
    const int empty0 = page.evaluate(QStringLiteral("window.__frames")).toInt();
    timer.restart();
    PageDocumentView::pump(3000);
    const int empty1 = page.evaluate(QStringLiteral("window.__frames")).toInt();
    const double frameFps = (empty1 - empty0) / (timer.nsecsElapsed() / 1e9);
    page.evaluate(QStringLiteral("window.__counting = false; true"));

    if (std::getenv("VELMORA_BENCH_DETAIL") != nullptr) {
        for (int r = 0; r < ROUNDS; ++r)
            std::fprintf(stderr, "round %d: load %.0f ms, draw %.0f ms (fixes decoded in %.0f ms, lines made in %.0f ms), "
                         "sql %.0f ms, polyline %.0f ms\n", r, loads[r], draws[r], decodes[r], builds[r], sqls[r],
                         polylines[r]);
    }
    DBManager::getInstance().shutdown();
    // The medians of the rounds; the first draw (a fresh engine, the base
    // map not yet drawn at that zoom) is shown on its own.
    std::printf("track: fixes=%d load_ms=%.0f draw_ms=%.0f replay_fps=%.0f sql_baseline_ms=%.0f "
                "polyline_baseline_ms=%.0f frame_baseline_fps=%.0f first_draw_ms=%.0f first_polyline_ms=%.0f\n",
                loaded, median(loads), median(draws), replayFps, median(sqls), median(polylines), frameFps, draws[0],
                polylines[0]);
    return 0;
}
