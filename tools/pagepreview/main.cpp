// velmora-pagepreview: the real map page with a fake fleet, as a PNG.
//
// usage: velmora-pagepreview [--size 1280x800] [--out page.png] [--appdir DIR]
//                            [--satellite] [--expanded] [--no-list] [--window]
//                            [--view LAT,LNG,ZOOM] [--replay]
// --replay opens the stored afternoon of the Lyon truck and shows its replay
// under way.
// --appdir is the folder holding images/ (default: the nearest one above the
// program). Runs offscreen unless --window is given.
#include "mapview/PageDocumentView.h"
#include "mapview/BrowserEnvironment.h"
#include "tools/pagepreview/FakeFleet.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <string>

using namespace velmora;

namespace {

QString findApplicationDirectory(const char* argv0) {
    QDir dir = QFileInfo(QString::fromLocal8Bit(argv0)).absoluteDir();
    for (int up = 0; up < 6; ++up) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("images/point_normal.png")))) {
            return dir.absolutePath();
        }
        if (!dir.cdUp()) {
            break;
        }
    }
    return QDir::currentPath();
}

} // namespace

int main(int argc, char** argv) {
    int width = 1280, height = 800;
    QString out = QStringLiteral("page.png");
    QString appDir;
    bool satellite = false, expanded = false, noList = false, window = false, replay = false;
    double viewLat = 47.6, viewLng = 6.2;
    int viewZoom = 6;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 200 || height < 150) {
                std::fprintf(stderr, "bad --size %s\n", argv[i]);
                return 2;
            }
        } else if (arg == "--out" && i + 1 < argc) {
            out = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--appdir" && i + 1 < argc) {
            appDir = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--view" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%lf,%lf,%d", &viewLat, &viewLng, &viewZoom) != 3) {
                std::fprintf(stderr, "bad --view %s\n", argv[i]);
                return 2;
            }
        } else if (arg == "--satellite") {
            satellite = true;
        } else if (arg == "--expanded") {
            expanded = true;
        } else if (arg == "--no-list") {
            noList = true;
        } else if (arg == "--window") {
            window = true;
        } else if (arg == "--replay") {
            replay = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--size WxH] [--out file.png] [--appdir DIR] [--satellite] [--expanded] "
                         "[--no-list] [--window] [--view LAT,LNG,ZOOM] [--replay]\n",
                         argv[0]);
            return 2;
        }
    }
    if (appDir.isEmpty()) {
        appDir = findApplicationDirectory(argv[0]);
    }
    BrowserEnvironment::prepare(!window);
    QApplication app(argc, argv);

    PageDocumentView page(appDir, QSize(width, height));
    if (!page.waitLoaded()) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    FakeFleet fleet;
    page.execute(QStringLiteral("setPageSize(%1, %2);").arg(width).arg(height - 0));
    for (const QString& line : fleet.fleetCommands()) {
        page.execute(line);
    }
    for (const QString& line : fleet.trackCommands(0, 80)) {
        page.execute(line);
    }
    for (const QString& line : fleet.eventCommands()) {
        page.execute(line);
    }
    const auto& lyon = fleet.getMembers()[0];
    // What an operator does: one vehicle silent, the Lyon truck clicked.
    page.evaluate(QStringLiteral("listBox.setTimedOut('%1'); true").arg(fleet.getMembers()[6].id));
    if (satellite) {
        page.evaluate(QStringLiteral("setMapType('satellite'); true"));
    }
    page.evaluate(QStringLiteral("onVehicleIconClick('%1', {button: 0, clientX: 0, clientY: 0}); true").arg(lyon.id));
    page.evaluate(QStringLiteral("map.setView([%1, %2], %3, {animate: false}); true")
                      .arg(viewLat)
                      .arg(viewLng)
                      .arg(viewZoom));
    if (expanded) {
        page.evaluate(QStringLiteral("contextMenu.toggleExpanded(null); true"));
    }
    if (noList) {
        page.evaluate(QStringLiteral("setListVisible(false); true"));
    }
    if (replay) {
        // As the operator gets there: the menu line, then the console's lines.
        page.evaluate(QStringLiteral("contextMenu.Hide(); trackingVehicle = '%1'; true").arg(lyon.id));
        for (const QString& line : fleet.historyCommands(0)) {
            page.execute(line);
        }
        page.evaluate(QStringLiteral("seekReplay(3600 * 2.3); setReplaySpeed(60); "
                                     "setReplayPlaying(trackHistory, true); true"));
        PageDocumentView::pump(1200);
    }
    // The place labels, from zoom 6 the finer base map and from zoom 4 the
    // water arrive on their own.
    for (int i = 0; i < 300; ++i) {
        if (page.evaluate(QStringLiteral("(placeLabels.ready || placeLabels.failed) && fineMap.state !== 'loading'"
                                         " && waterSettled()"))
                .toBool()) {
            break;
        }
        PageDocumentView::pump(50);
    }
    PageDocumentView::pump(1500);
    QImage image = page.grab();
    if (image.isNull() || !image.save(out)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(out), image.width(), image.height());
    if (window) {
        return app.exec();
    }
    return 0;
}
