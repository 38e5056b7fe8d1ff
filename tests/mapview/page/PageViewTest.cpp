// The map's view (the first view of a start, the kept view, the lowest
// zoom, "Show on map"), the event list's place and the water, on the real
// page.
#include "tests/mapview/page/PageFixture.h"

#include <QRectF>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {
namespace {

struct Position {
    const char* lat;
    const char* lng;
};

class PageViewTest : public PageTest {
protected:
    /// The page box of the first element matching selector; empty when none
    /// is shown.
    QRectF boxOf(const QString& selector) {
        const QJsonObject box = QJsonDocument::fromJson(
                                    evalText("(function () { var e = document.querySelector(" + quoted(selector) +
                                             "); if (!e || e.offsetParent === null) return '{}';"
                                             " var r = e.getBoundingClientRect(); return JSON.stringify("
                                             "{x: r.left, y: r.top, w: r.width, h: r.height}); })()")
                                        .toUtf8())
                                    .object();
        return QRectF(box.value("x").toDouble(), box.value("y").toDouble(), box.value("w").toDouble(),
                      box.value("h").toDouble());
    }

    /// The map's controls: zoom buttons, "Fit fleet", scale and attribution.
    std::vector<std::pair<QString, QRectF>> controls() {
        std::vector<std::pair<QString, QRectF>> all;
        for (const char* name : {".leaflet-control-zoom", ".FitFleet", ".leaflet-control-scale",
                                 ".leaflet-control-attribution"}) {
            all.push_back({name, boxOf(name)});
        }
        return all;
    }

    /// Where the vehicle's position is on the map's container.
    QPointF containerPoint(const std::string& id) {
        const QJsonArray p =
            QJsonDocument::fromJson(json("(function (v) { var p = map.latLngToContainerPoint(v.latlng);"
                                         " return [p.x, p.y]; })(findVehicle(" +
                                         quoted(QString::fromStdString(id)) + "))")
                                        .toUtf8())
                .array();
        return QPointF(p.at(0).toDouble(), p.at(1).toDouble());
    }

    std::vector<std::string> viewReports() {
        m_page->evaluate("true");
        PageDocumentView::pump(50);
        std::vector<std::string> views;
        for (const auto& c : m_listener.calls) {
            if (c.first == "onMapViewChanged") {
                views.push_back(c.second);
            }
        }
        return views;
    }

    int zoom() { return eval("map.getZoom()").toInt(); }
};

TEST_F(PageViewTest, FirstViewShowsEveryVehicleWithAPosition) {
    send(MapCommands::setPageSize(1280, 800));
    struct Row {
        const char* name;
        std::vector<Position> vehicles; // "" = no position yet
        bool world;                     // the whole world, nothing to fit
        int zoom;                       // when it is known beforehand, else 0
    };
    const Row rows[] = {
        {"no vehicle", {}, true, 0},
        {"no vehicle with a position", {{"", ""}}, true, 0},
        {"one vehicle", {{"47.3769", "8.5417"}}, false, 16},
        {"one with a position, one without", {{"", ""}, {"-33.8688", "151.2093"}}, false, 16},
        {"a city's fleet",
         {{"47.3769", "8.5417"}, {"47.4100", "8.5000"}, {"47.3400", "8.6000"}, {"47.3600", "8.4800"}},
         false,
         0},
        {"a continent's fleet", {{"38.7223", "-9.1393"}, {"60.1699", "24.9384"}, {"37.9838", "23.7275"}}, false, 0},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        eval("for (var id in iconIndex) deleteVehicle(id); true");
        std::vector<std::string> ids;
        for (const Position& p : row.vehicles) {
            ids.push_back(idOf(++n));
            insert(1, ids.back(), "Vehicle " + std::to_string(n), p.lat, p.lng);
        }
        send(MapCommands::fitFleet());
        if (row.world) {
            EXPECT_EQ(zoom(), eval("map.getMinZoom()").toInt());
            EXPECT_EQ(eval("mapView.follow"), QVariant(true));
            continue;
        }
        if (row.zoom) {
            EXPECT_EQ(zoom(), row.zoom);
        }
        const QSize size(eval("map.getSize().x").toInt(), eval("map.getSize().y").toInt());
        // Every vehicle with a position is in view, and one zoom closer
        // (about the same centre) at least one would not be.
        bool oneOutsideCloser = false;
        for (size_t i = 0; i < ids.size(); ++i) {
            if (std::string(row.vehicles[i].lat).empty()) {
                continue;
            }
            const QPointF p = containerPoint(ids[i]);
            EXPECT_TRUE(QRectF(0, 0, size.width(), size.height()).contains(p)) << ids[i];
            const QPointF closer = QPointF(size.width() / 2.0, size.height() / 2.0) +
                                   2 * (p - QPointF(size.width() / 2.0, size.height() / 2.0));
            oneOutsideCloser =
                oneOutsideCloser || !QRectF(0, 0, size.width(), size.height()).contains(closer);
        }
        if (zoom() < 16) {
            EXPECT_TRUE(oneOutsideCloser) << "the fleet could be shown closer than zoom " << zoom();
        }
        EXPECT_EQ(eval("mapView.follow"), QVariant(false));
    }
}

TEST_F(PageViewTest, AnEmptyFleetIsFollowedUntilTheOperatorMovesTheMap) {
    send(MapCommands::setPageSize(1280, 800));
    send(MapCommands::fitFleet());
    const int world = zoom();
    insert(0, idOf(1), "Van 1", "47.3769", "8.5417");
    insert(0, idOf(2), "Van 2", "47.4000", "8.6000");
    ASSERT_TRUE(waitUntil("mapView.fitTimer === null && map.getZoom() > " + QString::number(world)));
    EXPECT_TRUE(eval("map.getBounds().contains([47.3769, 8.5417]) && map.getBounds().contains([47.4, 8.6])")
                    .toBool());
    // A vehicle known before without a position gets its first fix.
    insert(1, idOf(3), "Van 3", "", "");
    send(MapCommands::moveTo(47.2000, 8.9000, 10, 17, 5, 9, 90, idOf(3)));
    ASSERT_TRUE(waitUntil("mapView.fitTimer === null && map.getBounds().contains([47.2, 8.9])"));
    // The alarm queue opens beside the map: the fleet is fitted again.
    send(MapCommands::setPageSize(520, 620));
    ASSERT_TRUE(waitUntil("map.getSize().x === 320"));
    PageDocumentView::pump(400);
    ASSERT_TRUE(waitUntil("mapView.fitTimer === null"));
    for (int id : {1, 2, 3}) {
        const QPointF p = containerPoint(idOf(id));
        EXPECT_TRUE(QRectF(0, 0, 320, 593).contains(p)) << id << " at " << p.x() << "," << p.y();
    }
    // The fitted view goes to the console; the empty world did not.
    ASSERT_TRUE(waitUntil("mapView.reportTimer === null"));
    const std::vector<std::string> reports = viewReports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), evalText("viewText().join(' ')").toStdString());
    for (const std::string& report : reports) {
        EXPECT_GT(std::stoi(report.substr(report.rfind(' ') + 1)), world) << report;
    }
    // The operator's own click on the map ends the following.
    ASSERT_TRUE(click("#map .leaflet-control-scale"));
    const QString view = json("[map.getCenter(), map.getZoom()]");
    insert(0, idOf(4), "Van 4", "35.6762", "139.6503");
    PageDocumentView::pump(600);
    EXPECT_EQ(json("[map.getCenter(), map.getZoom()]"), view);
}

TEST_F(PageViewTest, KeptViewIsShownAndOnlyTheOperatorsChangesAreReported) {
    send(MapCommands::setPageSize(1280, 800));
    insert(1, idOf(1), "Bus", "47.3769", "8.5417");
    send(MapCommands::setMapView(MapView{46.2044, 6.1432, 11}));
    EXPECT_EQ(json("[map.getCenter().lat.toFixed(4), map.getCenter().lng.toFixed(4), map.getZoom()]"),
              R"(["46.2044","6.1432",11])");
    // A view the map cannot show changes nothing.
    send("setMapView('x', 6, 11);");
    send("setMapView(46, 6, 'far');");
    EXPECT_EQ(zoom(), 11);
    PageDocumentView::pump(1300);
    EXPECT_TRUE(viewReports().empty()) << "the kept view went back to the console";
    // One click on the zoom button: one report, a second after the map
    // settled.
    ASSERT_TRUE(click(".leaflet-control-zoom-in"));
    ASSERT_TRUE(waitForCall({"onMapViewChanged", "46.204400 6.143200 12"}));
    PageDocumentView::pump(1300);
    EXPECT_EQ(viewReports(), std::vector<std::string>{"46.204400 6.143200 12"});
    // "Fit fleet" on the map: the fleet (one vehicle) at street level.
    ASSERT_TRUE(click(".FitFleetButton"));
    EXPECT_EQ(zoom(), 16);
    EXPECT_TRUE(eval("map.getCenter().distanceTo([47.3769, 8.5417]) < 1").toBool());
}

TEST_F(PageViewTest, LowestZoomFillsTheMapHeight) {
    struct Row {
        int width, height; // the page; the map is 27 px lower
        int minZoom;       // the world, 256 px at zoom 0, at least as tall as the map
    };
    const Row rows[] = {
        {1920, 1080, 3}, {1024, 620, 2}, {1280, 539, 1}, {1280, 540, 2}, {1280, 800, 2}, {900, 283, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QString("%1x%2").arg(row.width).arg(row.height).toStdString());
        send(MapCommands::setPageSize(row.width, row.height));
        ASSERT_EQ(eval("map.getMinZoom()").toInt(), row.minZoom);
        // Pushed as far south as it goes at the lowest zoom: no band below
        // the world, and none above it.
        eval(QString("map.setView([-84, 30], %1, {animate: false}); true").arg(row.minZoom));
        PageDocumentView::pump(50);
        EXPECT_EQ(zoom(), row.minZoom);
        const double world = 256.0 * std::pow(2.0, row.minZoom);
        EXPECT_LE(eval("map.getPixelBounds().max.y").toDouble(), world + 0.5);
        EXPECT_GE(eval("map.getPixelBounds().min.y").toDouble(), -0.5);
        EXPECT_EQ(eval("document.querySelector('.leaflet-control-zoom-out').classList.contains('leaflet-disabled')"),
                  QVariant(true));
        EXPECT_EQ(eval("map.zoomOut(1, {animate: false}); map.getZoom()").toInt(), row.minZoom);
        eval(QString("map.setZoom(%1, {animate: false}); true").arg(row.minZoom + 1));
        EXPECT_EQ(eval("document.querySelector('.leaflet-control-zoom-out').classList.contains('leaflet-disabled')"),
                  QVariant(false));
    }
}

TEST_F(PageViewTest, ShowOnMapGoesToStreetLevelAndOpensThePopup) {
    send(MapCommands::setPageSize(1280, 800));
    insert(1, idOf(1), "Tow 15", "47.3769", "8.5417");
    insert(1, idOf(2), "Bus 09", "47.4000", "8.6000");
    struct Row {
        int fromZoom;
        int toZoom;
    };
    const Row rows[] = {{3, 16}, {12, 16}, {16, 16}, {18, 18}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fromZoom);
        eval(QString("contextMenu.Hide(); map.setView([40, 0], %1, {animate: false}); true").arg(row.fromZoom));
        send(MapCommands::showAlarmVehicle(idOf(1)));
        EXPECT_EQ(zoom(), row.toZoom);
        EXPECT_TRUE(eval("map.getCenter().distanceTo([47.3769, 8.5417]) < 1").toBool());
        EXPECT_EQ(eval("contextMenu.isVisible()"), QVariant(true));
        EXPECT_EQ(evalText("contextMenu.vehicleID()").toStdString(), idOf(1));
        EXPECT_EQ(evalText("contextMenu.vehicleName()"), "Tow 15");
        EXPECT_EQ(evalText("global.currentVehicle").toStdString(), idOf(1));
        // The popup leaves the vehicle itself in sight.
        EXPECT_FALSE(boxOf("#ContextMenu").intersects(boxOf(icon(idOf(1)))));
    }
    // A double click in the list does the same for its vehicle: a real
    // click selects it, then the second click's dblclick (which the
    // offscreen engine does not make from test input) goes to the entry.
    eval("contextMenu.Hide(); map.setView([40, 0], 5, {animate: false}); true");
    ASSERT_TRUE(click(entry(idOf(2))));
    eval("listBox.item(" + quoted(QString::fromStdString(idOf(2))) +
         ").querySelector('.Name').dispatchEvent(new MouseEvent('dblclick', {bubbles: true, button: 0, detail: 2}));"
         " true");
    ASSERT_TRUE(waitUntil("contextMenu.isVisible()"));
    EXPECT_EQ(zoom(), 16);
    EXPECT_TRUE(eval("map.getCenter().distanceTo([47.4, 8.6]) < 1").toBool());
    EXPECT_EQ(evalText("contextMenu.vehicleID()").toStdString(), idOf(2));
    EXPECT_EQ(evalText("global.currentVehicle").toStdString(), idOf(2));
}

TEST_F(PageViewTest, EventListLeavesTheControlsAndTheSelectedVehicleFree) {
    struct Row {
        const char* name;
        int width, height;
        double vehicleX, vehicleY; // where the selected vehicle is, from the map's top right corner
        bool open;                 // the list itself shows (else its counter)
    };
    const Row rows[] = {
        {"wide map, vehicle far from the corner", 1280, 800, 700, 500, true},
        {"wide map, vehicle in the corner", 1280, 800, 150, 80, true},
        {"small window, vehicle in the corner", 1024, 620, 160, 120, true},
        {"narrow map, vehicle in the corner", 560, 620, 120, 60, true},
        {"narrow map, vehicle in the middle", 560, 620, 180, 300, true},
        {"map too narrow for the list", 380, 620, 90, 300, false},
    };
    insert(1, idOf(1), "Truck 07", "47.3769", "8.5417");
    eval("listBox.setCurrentVehicle(null, listBox.item(" + quoted(QString::fromStdString(idOf(1))) + ")); true");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        send(MapCommands::setPageSize(row.width, row.height));
        // The vehicle where the row wants it.
        eval(QString("(function () { var p = map.latLngToContainerPoint([47.3769, 8.5417]);"
                     " map.panBy([p.x - (map.getSize().x - %1), p.y - %2], {animate: false}); })(); true")
                 .arg(row.vehicleX)
                 .arg(row.vehicleY));
        for (int i = 0; i < 12; ++i) {
            send(MapCommands::updateEventInfo(i % 14, "Truck 07", "2026-01-31 17:05:09", "cam", idOf(1)));
        }
        ASSERT_TRUE(waitUntil("(function (e) { return !!e && e.width > 0; })(document.querySelector(" +
                              quoted(icon(idOf(1))) + "))"));
        eval("eventPopup.place(); true");
        const QRectF list = boxOf("#EventPopup");
        const QRectF counter = boxOf("#EventCounter");
        ASSERT_EQ(!list.isEmpty(), row.open);
        ASSERT_EQ(counter.isEmpty(), row.open) << "the list or its counter, never both";
        const QRectF shown = row.open ? list : counter;
        const QRectF mapBox = boxOf("#map");
        EXPECT_TRUE(mapBox.contains(shown)) << "inside the map";
        for (const auto& [name, box] : controls()) {
            EXPECT_FALSE(shown.intersects(box)) << "covers " << name.toStdString();
        }
        if (row.open) {
            EXPECT_FALSE(shown.intersects(boxOf(icon(idOf(1))))) << "covers the selected vehicle";
        }
        eval("eventPopup.Hide(); eventPopup.DeleteItem(); true");
    }
}

TEST_F(PageViewTest, EventListFoldsToItsCounterAndOpensAgain) {
    send(MapCommands::setPageSize(1280, 800));
    insert(1, idOf(1), "Bus", "47.3769", "8.5417");
    auto event = [this](int kind) {
        send(MapCommands::updateEventInfo(kind, "Bus", "2026-01-31 17:05:09", "cam", idOf(1)));
    };
    for (int kind : {0, 1, 2}) {
        event(kind);
    }
    ASSERT_TRUE(click("#EventPopup .FoldButton"));
    EXPECT_TRUE(boxOf("#EventPopup").isEmpty());
    EXPECT_EQ(evalText("document.getElementById('EventCounter').textContent"), "3 events");
    // New events count on; the list stays folded.
    event(3);
    event(13);
    EXPECT_TRUE(boxOf("#EventPopup").isEmpty());
    EXPECT_EQ(evalText("document.getElementById('EventCounter').textContent"), "5 events");
    ASSERT_TRUE(click("#EventCounter"));
    EXPECT_FALSE(boxOf("#EventPopup").isEmpty());
    EXPECT_TRUE(boxOf("#EventCounter").isEmpty());
    EXPECT_EQ(eval("eventPopup.lineCount()").toInt(), 5);
    EXPECT_EQ(evalText("document.querySelector('#EventPopup .EventLine').textContent"), "Bus Emergency (cam)");
    // Closed, it starts counting again at the next event.
    ASSERT_TRUE(click("#EventPopup .FoldButton"));
    eval("eventPopup.Hide(); eventPopup.DeleteItem(); true");
    EXPECT_TRUE(boxOf("#EventCounter").isEmpty());
    eval("eventPopup.setCollapsed(true); true");
    event(4);
    EXPECT_EQ(evalText("document.getElementById('EventCounter').textContent"), "1 event");
}

TEST_F(PageViewTest, LakesAreDrawnWhereTheyMatter) {
    send(MapCommands::setPageSize(1280, 800));
    const QString water = "169,204,227"; // the "Map" style's water
    const QString land = "246,243,236";
    struct Row {
        const char* name;
        double lat, lng;
        int zoom;
        QString colour;
    };
    const Row rows[] = {
        {"Lake Zurich at the 3 km scale", 47.2700, 8.6000, 12, water},
        {"the Uetliberg beside it", 47.3494, 8.4916, 12, land},
        {"Lake Constance, regional", 47.6200, 9.3800, 9, water},
        {"Lake Vaenern, country-wide", 58.9000, 13.3000, 6, water},
        {"Lake Vaenern from a continent away", 58.9000, 13.3000, 3, land},
        {"Lake Victoria, country-wide", -1.0, 33.0, 5, water},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        eval(QString("map.setView([%1, %2], %3, {animate: false}); true").arg(row.lat).arg(row.lng).arg(row.zoom));
        ASSERT_TRUE(waitUntil("waterSettled() && fineMap.state !== 'loading'", 20000));
        const QString pixel = QString("(function () { var r = baseMap.renderer;"
                                      " var p = map.latLngToLayerPoint([%1, %2]).subtract(r._bounds.min);"
                                      " var s = L.Browser.retina ? 2 : 1;"
                                      " var d = r._ctx.getImageData(Math.round(p.x * s), Math.round(p.y * s), 1, 1).data;"
                                      " return d[0] + ',' + d[1] + ',' + d[2]; })()")
                                  .arg(row.lat)
                                  .arg(row.lng);
        // The canvas is drawn at the next frame.
        waitUntil(pixel + " === " + quoted(row.colour), 3000);
        EXPECT_EQ(evalText(pixel), row.colour);
    }
    // Water lies under the vehicles and the place labels: their panes are
    // above the canvas's.
    EXPECT_EQ(eval("(function (z) { return z('overlayPane') < z('labelPane') && z('labelPane') < z('vehiclePane'); })"
                   "(function (name) { return +getComputedStyle(map.getPane(name)).zIndex; }) && "
                   "baseMap.renderer._container.parentNode === map.getPane('overlayPane')"),
              QVariant(true));
}

// Where the page opens before the console has sent anything: at the view
// kept from the last run, else fitted to the stored fleet's bounds, else the
// world; a kept view or bounds the map cannot show count as none.
TEST(PageStartViewTest, ThePageOpensAtTheKeptViewOrTheFleetBeforeAnyCommand) {
    struct Row {
        const char* name;
        std::vector<double> view;   // latitude, longitude, zoom; empty: none
        std::vector<double> bounds; // south, west, north, east; empty: none
        const char* expected;       // "world", "view" or "bounds"
    };
    const std::vector<double> ZURICH = {47.34, 8.48, 47.41, 8.60};
    const Row rows[] = {
        {"nothing kept, no fleet", {}, {}, "world"},
        {"a kept view", {47.3769, 8.5417, 12}, ZURICH, "view"},
        {"the fleet's bounds", {}, ZURICH, "bounds"},
        {"one vehicle: street level", {}, {-33.8688, 151.2093, -33.8688, 151.2093}, "bounds"},
        {"a kept view off the earth", {95, 8.5, 12}, ZURICH, "bounds"},
        {"bounds off the earth", {}, {47.3, 8.5, 47.4, 200}, "world"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PageDocument::Config config;
        if (!row.view.empty()) {
            config.hasStartView = true;
            config.startLatitude = row.view[0];
            config.startLongitude = row.view[1];
            config.startZoom = static_cast<int>(row.view[2]);
        }
        if (!row.bounds.empty()) {
            config.hasStartBounds = true;
            config.startSouth = row.bounds[0];
            config.startWest = row.bounds[1];
            config.startNorth = row.bounds[2];
            config.startEast = row.bounds[3];
        }
        PageDocumentView page(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800), nullptr, config);
        ASSERT_TRUE(page.waitLoaded()) << "the page did not load";
        const QJsonArray at = QJsonDocument::fromJson(
                                  page.evaluate("(function () { var c = map.getCenter(), b = map.getBounds();"
                                                " return JSON.stringify([c.lat, c.lng, map.getZoom(), b.getSouth(),"
                                                " b.getWest(), b.getNorth(), b.getEast()]); })()")
                                      .toString()
                                      .toUtf8())
                                  .array();
        ASSERT_EQ(at.size(), 7);
        const double lat = at[0].toDouble(), lng = at[1].toDouble();
        const int zoom = at[2].toInt();
        const std::string expected = row.expected;
        if (expected == "world") {
            EXPECT_LE(zoom, 3) << "a whole-world zoom";
            EXPECT_NEAR(lng, 0, 1);
        } else if (expected == "view") {
            EXPECT_NEAR(lat, row.view[0], 1e-3);
            EXPECT_NEAR(lng, row.view[1], 1e-3);
            EXPECT_EQ(zoom, 12);
        } else {
            // The fleet is in view and not lost in it: a city's fleet is
            // seen at city zoom, a single vehicle at street level.
            EXPECT_LE(at[3].toDouble(), row.bounds[0]);
            EXPECT_LE(at[4].toDouble(), row.bounds[1]);
            EXPECT_GE(at[5].toDouble(), row.bounds[2]);
            EXPECT_GE(at[6].toDouble(), row.bounds[3]);
            if (row.bounds[0] == row.bounds[2]) {
                EXPECT_EQ(zoom, 16);
            } else {
                EXPECT_GE(zoom, 11);
            }
        }
    }
}

} // namespace
} // namespace velmora::test
