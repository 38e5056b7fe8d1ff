// Command lines per second through the host into the test page: moveTo and
// updateVehicle for 100 vehicles, built and executed as the main window
// would, against the same number of trivial runJavaScript calls. Both are
// timed until the page has run the last line (a final evaluation, which the
// engine answers after everything sent before it).

#include "mapview/CefClientHandler.h"
#include "mapview/MapCommands.h"
#include "mapview/BrowserEnvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using velmora::CefClientHandler;
using velmora::MapCommands;

constexpr int VEHICLES = 100;
constexpr int ROUNDS = 25; // 25 x 100 x 2 = 5000 lines per pass
constexpr int PASSES = 4;

QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::MainWorld, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    while (!done)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return result;
}

// Lines per second for one pass of send(), timed to the page's last line.
double measure(QWebEnginePage* page, int lines, const std::function<void()>& send)
{
    evaluate(page, QStringLiteral("received = []; 0"));
    QElapsedTimer timer;
    timer.start();
    send();
    evaluate(page, QStringLiteral("received.length"));
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    return lines / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    velmora::BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);

    QFile file(QStringLiteral(":/testpage/testpage.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "test page missing\n");
        return 1;
    }
    QWidget window;
    CefClientHandler host;
    host.setPageDocument(QString::fromUtf8(file.readAll()));
    host.createBrowser(&window);
    while (!host.isPageLoaded())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QWebEnginePage* page = host.getPage();
    evaluate(page, QStringLiteral("renderTexts = false; 0"));

    std::vector<MapCommands::Vehicle> fleet(VEHICLES);
    for (int i = 0; i < VEHICLES; ++i) {
        MapCommands::Vehicle& v = fleet[i];
        char id[40];
        std::snprintf(id, sizeof id, "0b1e4c0e-9a43-4a8e-9d6b-%012d", i);
        v.id = id;
        v.name = "Vehicle " + std::to_string(i);
        v.editedName = i % 3 == 0 ? "O'Brien\\Co " + std::to_string(i) : std::string();
        v.lastUpdatedTime = "2026-01-31 17:05:09";
        v.lastUpdatedLatitude = "37.566500";
        v.lastUpdatedLongitude = "126.978000";
    }
    const int lines = ROUNDS * VEHICLES * 2;

    auto ours = [&] {
        for (int r = 0; r < ROUNDS; ++r) {
            for (int i = 0; i < VEHICLES; ++i) {
                const MapCommands::Vehicle& v = fleet[i];
                host.execute(MapCommands::moveTo(37.5 + i * 0.001, 127.0 + r * 0.001, 12.5, 17, 5, r % 60,
                                                 (r * 10) % 360, v.id));
                host.execute(MapCommands::updateVehicle(v));
            }
        }
    };
    auto baseline = [&] {
        for (int n = 0; n < lines; ++n)
            page->runJavaScript(QStringLiteral("0;"), QWebEngineScript::MainWorld);
    };

    double best = 0, bestBaseline = 0;
    for (int pass = 0; pass < PASSES; ++pass) {
        // Alternate which goes first, so warm-up favours neither.
        if (pass % 2 == 0)
            bestBaseline = std::max(bestBaseline, measure(page, lines, baseline));
        best = std::max(best, measure(page, lines, ours));
        const int seen = evaluate(page, QStringLiteral("received.length")).toInt();
        if (seen != lines) {
            std::fprintf(stderr, "the page ran %d of %d lines\n", seen, lines);
            return 1;
        }
        if (pass % 2 == 1)
            bestBaseline = std::max(bestBaseline, measure(page, lines, baseline));
    }
    std::printf("commands: cps=%.0f baseline_cps=%.0f ratio=%.2f\n", best, bestBaseline, best / bestBaseline);
    return 0;
}
