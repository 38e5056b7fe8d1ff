// bench_map: 2,000 vehicles moving on the real page (offscreen) while the
// map pans and zooms through levels 3 to 12, with the place labels and the
// grouping of nearby vehicles on; the baseline is the same workload in the
// same run with the labels off.
//
// Measured per run: frames_per_s (requestAnimationFrame callbacks over the
// run), gps_updates_per_s (updateVehicle + moveTo pairs the page absorbed per
// second, as bench_page counts them) and labels_ms (the time the page took to
// place its labels after each zoom: the 95th percentile, and the maximum on
// its own line). Then mbtiles_tiles_per_s: the same page, its 2,000 vehicles
// still on it, loads the tiles of an MBTiles file through the velmora scheme
// (the median of three rounds, each over its own third of 4,096 tiles;
// bench_mbtiles has the baselines for that figure). First of all,
// load_ms: the median time from a fresh page view to its loaded page (seven
// loads after one to warm the engine up), geodata and all.
//
// usage: bench_map [pairs per view]   (default 250)
// Summary: map: frames_per_s=<n> gps_updates_per_s=<n> labels_ms=<p95>
//          mbtiles_tiles_per_s=<n> load_ms=<median> baseline_frames_per_s=<n>
//          baseline_gps_updates_per_s=<n>
#include "bench/page/CityTiles.h"

#include "mapview/BrowserEnvironment.h"
#include "mapview/MapCommands.h"
#include "mapview/PageDocumentView.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace velmora;

namespace {

const int VEHICLES = 2000;

std::string idOf(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "{00000000-0000-4000-8000-%012d}", n);
    return text;
}

/// Vehicle v's home: spread over western and central Europe, denser round
/// a few cities so the close zooms have vehicles in view.
void home(int v, double& lat, double& lng) {
    static const double centres[][2] = {{45.76, 4.84}, {48.86, 2.35}, {50.85, 4.35}, {52.52, 13.40}, {45.46, 9.19}};
    const double a = std::fmod(v * 0.618034, 1.0), b = std::fmod(v * 0.754878, 1.0);
    if (v % 2 == 0) {
        lat = 38 + 20 * a;
        lng = -8 + 30 * b;
    } else {
        const double* c = centres[(v / 2) % 5];
        lat = c[0] + (a - 0.5) * 0.6;
        lng = c[1] + (b - 0.5) * 0.8;
    }
}

struct View {
    double lat, lng;
    int zoom;
};

/// Zoom 3 to 12 round Lyon and back out, with a pan at every level.
std::vector<View> path() {
    std::vector<View> views;
    for (int z = 3; z <= 12; ++z) {
        views.push_back({45.76, 4.84, z});
    }
    for (int z = 11; z >= 3; --z) {
        views.push_back({48.86 - (z % 3) * 0.5, 2.35 + (z % 2) * 0.7, z});
    }
    return views;
}

struct Result {
    double framesPerSecond = 0;
    double updatesPerSecond = 0;
    std::vector<double> labelTimes;
};

Result run(PageDocumentView& page, int pairsPerView, int round) {
    Result result;
    const std::vector<View> views = path();
    page.evaluate(QStringLiteral("window.__frames = 0; window.__counting = true; (function tick() {"
                                 " if (!window.__counting) return; window.__frames++; requestAnimationFrame(tick); })();"
                                 " true"));
    QElapsedTimer total;
    total.start();
    qint64 updateNs = 0;
    int pairs = 0;
    for (size_t i = 0; i < views.size(); ++i) {
        const View& view = views[i];
        const int placed = page.evaluate(QStringLiteral("placeLabels.times.length")).toInt();
        page.evaluate(QStringLiteral("map.setView([%1, %2], %3, {animate: false}); true")
                          .arg(MapCommands::number(view.lat), MapCommands::number(view.lng))
                          .arg(view.zoom));
        // The labels are placed once the move has ended (a timer of 0).
        QElapsedTimer wait;
        wait.start();
        while (page.evaluate(QStringLiteral("placeLabels.times.length")).toInt() <= placed && wait.elapsed() < 2000) {
            PageDocumentView::pump(1);
        }
        const double ms = page.evaluate(QStringLiteral("placeLabels.lastMs")).toDouble();
        if (page.evaluate(QStringLiteral("placeLabels.enabled")).toBool()) {
            result.labelTimes.push_back(ms);
        }
        // GPS while the operator pans across the view.
        QElapsedTimer timer;
        timer.start();
        for (int k = 0; k < pairsPerView; ++k) {
            const int v = (pairs + k) % VEHICLES;
            double lat, lng;
            home(v, lat, lng);
            const double t = (round * 1000 + pairs + k) / double(VEHICLES);
            lat += 0.02 * std::sin(t);
            lng += 0.02 * std::cos(t);
            const std::string latText = MapCommands::number(lat).toStdString();
            const std::string lngText = MapCommands::number(lng).toStdString();
            page.execute(MapCommands::updateVehicle(latText, lngText, idOf(v), "Vehicle " + std::to_string(v),
                                                    "2026-01-31 17:05:09"));
            page.execute(MapCommands::moveTo(lat, lng, 30.5, 17, 5, 9, std::fmod(k * 7.0, 360.0), idOf(v)));
            if (k == pairsPerView / 2) {
                page.execute(QStringLiteral("map.panBy([120, -60], {animate: false});"));
            }
        }
        page.evaluate(QStringLiteral("true"), 120000);
        updateNs += timer.nsecsElapsed();
        pairs += pairsPerView;
        PageDocumentView::pump(30); // let frames be drawn between views
    }
    const double seconds = total.nsecsElapsed() / 1e9;
    const int frames = page.evaluate(QStringLiteral("window.__counting = false; window.__frames")).toInt();
    result.framesPerSecond = frames / seconds;
    result.updatesPerSecond = pairs / (updateNs / 1e9);
    return result;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(std::ceil(p * values.size())) - 1);
    return values[index];
}

/// Milliseconds from a new page view to its loaded page, for loads fresh
/// views (after one not counted); empty when a page did not load.
std::vector<double> loadTimes(int loads) {
    std::vector<double> times;
    for (int i = 0; i <= loads; ++i) {
        QElapsedTimer timer;
        timer.start();
        PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800));
        if (!page.waitLoaded()) {
            return {};
        }
        if (i > 0) {
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    return times;
}

} // namespace

int main(int argc, char** argv) {
    int pairsPerView = argc > 1 ? std::atoi(argv[1]) : 250;
    if (pairsPerView < 10) {
        pairsPerView = 10;
    }
    BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);
    CityTiles city(4096);
    const QString problem = city.open();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "bench_map: %s\n", qPrintable(problem));
        return 1;
    }
    const std::vector<double> loads = loadTimes(7);
    if (loads.empty()) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800));
    city.getSource().install(*page.getHost().getSchemeHandler());
    if (!page.waitLoaded()) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    page.execute(MapCommands::setPageSize(1280, 800));
    page.execute(MapCommands::resetTimeout(10));
    for (int v = 0; v < VEHICLES; ++v) {
        MapCommands::Vehicle vehicle;
        vehicle.id = idOf(v);
        vehicle.name = "Vehicle " + std::to_string(v);
        vehicle.lastUpdatedTime = "2026-01-31 17:05:09";
        double lat, lng;
        home(v, lat, lng);
        vehicle.lastUpdatedLatitude = MapCommands::number(lat).toStdString();
        vehicle.lastUpdatedLongitude = MapCommands::number(lng).toStdString();
        for (const QString& line : MapCommands::insertVehicle(1, vehicle)) {
            page.execute(line);
        }
    }
    QElapsedTimer ready;
    ready.start();
    while (page.evaluate(QStringLiteral("placeLabels.ready")).toBool() == false && ready.elapsed() < 30000) {
        PageDocumentView::pump(20);
    }
    if (page.evaluate(QStringLiteral("placeLabels.ready && vehicleContainer.length === %1").arg(VEHICLES)).toBool() ==
        false) {
        std::fprintf(stderr, "the page is not ready: labels or vehicles missing\n");
        return 1;
    }
    // Warm-up: the 1:10m geometry is fetched on the first zoom to 6.
    run(page, 20, 0);
    while (page.evaluate(QStringLiteral("fineMap.state === 'loading'")).toBool() && ready.elapsed() < 60000) {
        PageDocumentView::pump(20);
    }

    // Two rounds of both workloads. Each run moves the vehicles to positions
    // of its own (a run repeating the previous one's would move nothing),
    // and the workloads take turns going first.
    Result labels, baseline;
    for (int round = 1; round <= 2; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool withLabels = (turn == 0) == (round == 1);
            page.evaluate(QStringLiteral("setPlaceLabelsEnabled(%1); true").arg(withLabels ? "true" : "false"));
            const Result r = run(page, pairsPerView, round * 2 + turn);
            Result& into = withLabels ? labels : baseline;
            into.framesPerSecond = std::max(into.framesPerSecond, r.framesPerSecond);
            into.updatesPerSecond = std::max(into.updatesPerSecond, r.updatesPerSecond);
            if (withLabels) {
                into.labelTimes.insert(into.labelTimes.end(), r.labelTimes.begin(), r.labelTimes.end());
            }
        }
    }
    const int shown = page.evaluate(QStringLiteral("setPlaceLabelsEnabled(true); placeLabels.shown")).toInt();
    bool consistent = page.evaluate(QStringLiteral("vehicleContainer.length === %1 && fineMap.state === 'ready'"
                                                   " && vehicleGroup.on")
                                        .arg(VEHICLES))
                          .toBool();
    if (!consistent || shown <= 0 || labels.labelTimes.empty()) {
        std::fprintf(stderr, "the page lost vehicles, its finer map, its labels or its vehicle groups\n");
        return 1;
    }
    std::vector<double> tileRates;
    for (int round = 0; round < 3; ++round) {
        tileRates.push_back(city.loadRate(page, round, 3));
    }
    if (std::find(tileRates.begin(), tileRates.end(), 0.0) != tileRates.end()) {
        return 1;
    }
    std::fprintf(stderr, "labels placed after %zu zooms: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                 labels.labelTimes.size(), percentile(labels.labelTimes, 0.5), percentile(labels.labelTimes, 0.95),
                 percentile(labels.labelTimes, 1.0));
    std::fprintf(stderr, "page loads: median %.0f ms, max %.0f ms\n", percentile(loads, 0.5), percentile(loads, 1.0));
    std::printf("map: frames_per_s=%.0f gps_updates_per_s=%.0f labels_ms=%.1f mbtiles_tiles_per_s=%.0f load_ms=%.0f "
                "baseline_frames_per_s=%.0f baseline_gps_updates_per_s=%.0f\n",
                labels.framesPerSecond, labels.updatesPerSecond, percentile(labels.labelTimes, 0.95),
                percentile(tileRates, 0.5), percentile(loads, 0.5), baseline.framesPerSecond,
                baseline.updatesPerSecond);
    return 0;
}
