// The map's zoom-dependent parts in the real engine: place labels ranked by
// population and kept apart from each other, the vehicle icons and the
// widgets; the 1:10m geometry fetched through the asset scheme only from
// zoom 6; the scale bar.
#include "tests/mapview/page/PageFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineF>
#include <QRectF>
#include <QVariant>
#include <cmath>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using velmora::MapCommands;
using velmora::PageDocumentView;

namespace {

using velmora::test::idOf;
using velmora::test::PageTest;

std::string text(const QString& s) { return s.toStdString(); }

struct Label {
    QString name;
    QRectF box;
    QPointF dot;
};

class PageLabelTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(waitUntil("placeLabels.ready", 20000)) << "the place labels did not load";
    }

    /// Moves the map and waits until the labels have been placed for the
    /// new view.
    void view(double lat, double lng, int zoom) {
        eval(QString("placeLabels.done = placeLabels.times.length; map.setView([%1, %2], %3, {animate: false}); true")
                 .arg(MapCommands::number(lat), MapCommands::number(lng))
                 .arg(zoom));
        ASSERT_TRUE(waitUntil("placeLabels.times.length > placeLabels.done", 10000));
    }

    /// The labels on screen, with the boxes the engine laid out.
    std::vector<Label> labels() {
        std::vector<Label> out;
        const QJsonArray all = QJsonDocument::fromJson(json("placedLabels()").toUtf8()).array();
        for (const auto& value : all) {
            const QJsonObject o = value.toObject();
            out.push_back({o.value("name").toString(),
                           QRectF(o.value("x").toDouble(), o.value("y").toDouble(), o.value("w").toDouble(),
                                  o.value("h").toDouble()),
                           QPointF(o.value("dotX").toDouble(), o.value("dotY").toDouble())});
        }
        return out;
    }

    /// An element's box in map container pixels (empty when not shown).
    QRectF boxOf(const QString& selector) {
        const QJsonObject o = QJsonDocument::fromJson(
                                  evalText("(function () { var e = document.querySelector(" + quoted(selector) +
                                           "); var m = map.getContainer().getBoundingClientRect();"
                                           " if (!e || e.offsetParent === null) return '{}';"
                                           " var r = e.getBoundingClientRect(); return JSON.stringify("
                                           "{x: r.left - m.left, y: r.top - m.top, w: r.width, h: r.height}); })()")
                                      .toUtf8())
                                  .object();
        return QRectF(o.value("x").toDouble(), o.value("y").toDouble(), o.value("w").toDouble(),
                      o.value("h").toDouble());
    }

    static bool has(const std::vector<Label>& all, const QString& name) {
        for (const Label& l : all) {
            if (l.name == name) {
                return true;
            }
        }
        return false;
    }

    /// Every pair of labels apart, every label on the map and clear of the
    /// given obstacles.
    void expectApart(const std::vector<Label>& all, const std::vector<std::pair<QString, QRectF>>& obstacles,
                     const QString& where) {
        const QRectF mapBox = boxOf("#map");
        for (size_t i = 0; i < all.size(); ++i) {
            EXPECT_GT(all[i].box.width(), 0) << text(where) << ": " << text(all[i].name);
            EXPECT_TRUE(mapBox.contains(all[i].box)) << text(where) << ": " << text(all[i].name) << " leaves the map";
            // A name stays beside its dot, at most past an icon on it.
            const QRectF near = all[i].box.adjusted(-30, -30, 30, 30);
            EXPECT_TRUE(near.contains(all[i].dot)) << text(where) << ": " << text(all[i].name) << " far from its dot";
            for (size_t k = i + 1; k < all.size(); ++k) {
                EXPECT_FALSE(all[i].box.intersects(all[k].box))
                    << text(where) << ": " << text(all[i].name) << " overlaps " << text(all[k].name);
            }
            for (const auto& obstacle : obstacles) {
                if (!obstacle.second.isEmpty()) {
                    EXPECT_FALSE(all[i].box.intersects(obstacle.second))
                        << text(where) << ": " << text(all[i].name) << " overlaps " << text(obstacle.first);
                }
            }
        }
    }

    std::vector<std::pair<QString, QRectF>> controls() {
        return {{"zoom buttons", boxOf(".leaflet-control-zoom")},
                {"scale bar", boxOf(".leaflet-control-scale")},
                {"attribution", boxOf(".leaflet-control-attribution")}};
    }
};

TEST_F(PageLabelTest, EachZoomShowsItsLargestPlacesWithNoTwoLabelsOverlapping) {
    send(MapCommands::setPageSize(1280, 800));
    struct Case {
        double lat, lng;
        int zoom;
        std::vector<QString> shown;
        std::vector<QString> hidden; // too small for this zoom
    };
    const Case cases[] = {
        {50.0, 8.0, 4, {"Paris", "London", "Berlin", "Madrid", "Rome"}, {"Lyon", "Villeurbanne", "Bergamo"}},
        {45.75, 4.85, 6, {"Lyon", "Marseille", "Turin", "Genève"}, {"Villeurbanne", "Vienne"}},
        {45.6, 4.8, 9, {"Lyon", "Saint-Étienne", "Vienne"}, {}},
    };
    for (const Case& c : cases) {
        const QString where = QString("zoom %1 at %2, %3").arg(c.zoom).arg(c.lat).arg(c.lng);
        view(c.lat, c.lng, c.zoom);
        const std::vector<Label> all = labels();
        EXPECT_GE(all.size(), 8u) << text(where);
        for (const QString& name : c.shown) {
            EXPECT_TRUE(has(all, name)) << text(where) << ": no " << text(name);
        }
        for (const QString& name : c.hidden) {
            EXPECT_FALSE(has(all, name)) << text(where) << ": " << text(name) << " shown";
        }
        expectApart(all, controls(), where);
    }
    // Lyon's dot is on Lyon.
    const QPointF lyon(eval("map.latLngToContainerPoint([45.75, 4.85]).x").toDouble(),
                       eval("map.latLngToContainerPoint([45.75, 4.85]).y").toDouble());
    bool found = false;
    for (const Label& l : labels()) {
        if (l.name == "Lyon") {
            found = true;
            EXPECT_LT(QLineF(l.dot, lyon).length(), 3.0);
        }
    }
    EXPECT_TRUE(found);
    // The "Satellite" style turns the names light on the dark map.
    const QString dark = "getComputedStyle(document.querySelector('.PlaceLabel')).color";
    const QString light = evalText(dark);
    eval("setMapType('satellite'); true");
    EXPECT_NE(evalText(dark), light);
    EXPECT_EQ(evalText(dark), "rgb(228, 236, 245)");
}

TEST_F(PageLabelTest, LabelsGiveWayToVehicleIconsAndOpenWidgets) {
    send(MapCommands::setPageSize(1280, 800));
    view(48.8566, 2.3522, 6);
    ASSERT_TRUE(has(labels(), "Paris"));
    // A vehicle right on Paris, another on Lyon; the event that comes with it
    // opens the event list in the map's top right corner.
    insert(0, idOf(1), "Truck 1", "48.8566", "2.3522");
    insert(0, idOf(2), "Truck 2", "45.7485", "4.8467");
    ASSERT_TRUE(waitUntil("document.querySelector('#EventPopup').offsetParent !== null"));
    for (int id : {1, 2}) {
        // The icon takes its size once its image has loaded.
        ASSERT_TRUE(waitUntil("(function (e) { return !!e && e.width > 0; })(document.querySelector(" +
                              quoted(icon(idOf(id))) + "))"));
    }
    // Placed again within the refresh period, without a move of the map.
    ASSERT_TRUE(waitUntil("placeLabels.moved === false && placeLabels.widgets === widgetSignature()", 20000));
    PageDocumentView::pump(1200);
    // Boxes as they are now: the map moves between the checks.
    auto obstacles = [this] {
        std::vector<std::pair<QString, QRectF>> all = controls();
        all.push_back({"truck 1", boxOf(icon(idOf(1)))});
        all.push_back({"truck 2", boxOf(icon(idOf(2)))});
        all.push_back({"event list", boxOf("#EventPopup")});
        return all;
    };
    ASSERT_FALSE(boxOf("#EventPopup").isEmpty());
    expectApart(labels(), obstacles(), "with vehicles");
    // A city keeps its name beside a vehicle that stands on it, whichever
    // way the vehicle is turned and a few pixels off the city's dot (a
    // turned icon takes a wider box): no suburb takes its place.
    for (int course : {45, 135, 225, 315}) {
        const double r = course * M_PI / 180;
        eval("placeLabels.done = placeLabels.times.length; true");
        send(MapCommands::moveTo(48.8566 + 0.05 * std::cos(r), 2.3522 + 0.07 * std::sin(r), 10, 17, 5, 9, course,
                                 idOf(1)));
        ASSERT_TRUE(waitUntil("placeLabels.times.length > placeLabels.done", 10000));
        const std::vector<Label> now = labels();
        EXPECT_TRUE(has(now, "Paris")) << "truck 1 on Paris at course " << course;
        expectApart(now, obstacles(), "truck 1 turned on Paris");
    }
    // Panning the event list's corner over Berlin: Berlin's label stays out
    // of it (it is placed elsewhere or dropped), and so does every other one.
    const QRectF list = boxOf("#EventPopup");
    view(52.52, 13.405, 6);
    eval(QString("placeLabels.done = placeLabels.times.length;"
                 " var p = map.latLngToContainerPoint([52.52, 13.405]);"
                 " map.panBy([p.x - %1, p.y - %2], {animate: false}); true")
             .arg(list.center().x())
             .arg(list.center().y()));
    ASSERT_TRUE(waitUntil("placeLabels.times.length > placeLabels.done", 10000));
    expectApart(labels(), obstacles(), "event list over Berlin");
    // Moving a vehicle onto a label makes it give way at the next refresh.
    view(45.75, 4.85, 6);
    const QString marseille = "placedLabels().filter(function (l) { return l.name === 'Marseille'; })[0]";
    ASSERT_EQ(eval("!!" + marseille), QVariant(true));
    eval("placeLabels.done = placeLabels.times.length; true");
    send(MapCommands::moveTo(43.2965, 5.3698, 10, 17, 5, 9, 90, idOf(2)));
    ASSERT_TRUE(waitUntil("placeLabels.times.length > placeLabels.done", 10000));
    expectApart(labels(), obstacles(), "truck 2 on Marseille");

    // The group icons of a large fleet are kept clear of as well: sixty
    // vans round Lyon and Marseille make two groups at zoom 5.
    for (int i = 10; i < 70; ++i) {
        const bool lyon = i % 2 == 0;
        insert(1, idOf(i), "Van " + std::to_string(i),
               MapCommands::number((lyon ? 45.75 : 43.30) + (i % 7) * 0.01).toLatin1().constData(),
               MapCommands::number((lyon ? 4.85 : 5.37) + (i % 5) * 0.01).toLatin1().constData());
    }
    view(45.0, 5.0, 5);
    const QJsonArray groups = QJsonDocument::fromJson(
                                  json("Array.prototype.map.call(document.querySelectorAll('.VehicleGroup'),"
                                       " function (e) { var r = e.getBoundingClientRect(),"
                                       " m = map.getContainer().getBoundingClientRect();"
                                       " return [r.left - m.left, r.top - m.top, r.width, r.height]; })")
                                      .toUtf8())
                                  .array();
    ASSERT_GE(groups.size(), 2);
    std::vector<std::pair<QString, QRectF>> groupBoxes;
    for (const auto& g : groups) {
        const QJsonArray r = g.toArray();
        groupBoxes.push_back({"a vehicle group", QRectF(r[0].toDouble(), r[1].toDouble(), r[2].toDouble(),
                                                        r[3].toDouble())});
    }
    expectApart(labels(), groupBoxes, "vehicle groups on Lyon and Marseille");
}

TEST_F(PageLabelTest, FineGeometryIsFetchedOnlyFromZoomSixAndTheScaleBarFollowsTheZoom) {
    send(MapCommands::setPageSize(1280, 800));
    const QString scale = "Array.prototype.map.call(document.querySelectorAll('.leaflet-control-scale-line'),"
                          " function (e) { return e.textContent; }).join('|')";
    view(48.0, 5.0, 3);
    view(48.0, 5.0, 5);
    const QString world = evalText(scale);
    EXPECT_EQ(evalText("fineMap.state"), "none");
    EXPECT_EQ(eval("document.getElementById('FineMapScript') === null"), QVariant(true));
    EXPECT_EQ(eval("map.hasLayer(baseMap.land) && map.hasLayer(baseMap.borders)"), QVariant(true));

    view(45.75, 4.85, 6);
    ASSERT_TRUE(waitUntil("fineMap.state === 'ready'", 30000)) << text(evalText("fineMap.state"));
    EXPECT_EQ(eval("map.hasLayer(fineMap.land) && map.hasLayer(fineMap.borders)"
                   " && !map.hasLayer(baseMap.land) && !map.hasLayer(baseMap.borders)"),
              QVariant(true));
    // The finer geometry holds many more points near Lyon than the 1:50m one.
    const QString pointsNear =
        "(function (layer) { var n = 0, b = L.latLngBounds([44, 2], [48, 8]);"
        " (function walk(a) { if (a instanceof L.LatLng) { if (b.contains(a)) n++; } else a.forEach(walk); })"
        "(layer.getLatLngs()); return n; })";
    EXPECT_GT(eval(pointsNear + "(fineMap.borders)").toInt(), 3 * eval(pointsNear + "(baseMap.borders)").toInt());
    // Style changes reach the finer geometry too.
    eval("setMapType('satellite'); true");
    EXPECT_EQ(evalText("fineMap.land.options.fillColor"), "#25384C");

    // Back out: the 1:50m geometry again.
    view(48.0, 5.0, 4);
    EXPECT_EQ(eval("map.hasLayer(baseMap.land) && !map.hasLayer(fineMap.land)"), QVariant(true));

    // The scale bar: metric and imperial, bottom left, clear of the zoom
    // buttons, and shorter distances when zoomed in.
    const QStringList lines = world.split('|');
    ASSERT_EQ(lines.size(), 2) << text(world);
    EXPECT_TRUE(lines[0].endsWith(" km") || lines[0].endsWith(" m")) << text(world);
    EXPECT_TRUE(lines[1].endsWith(" mi") || lines[1].endsWith(" ft")) << text(world);
    const QRectF bar = boxOf(".leaflet-control-scale");
    const QRectF mapBox = boxOf("#map");
    EXPECT_LT(bar.left(), 20);
    EXPECT_GT(bar.bottom(), mapBox.bottom() - 40);
    EXPECT_FALSE(bar.intersects(boxOf(".leaflet-control-zoom")));
    const QString metres = "(function () { var t = document.querySelector('.leaflet-control-scale-line').textContent;"
                           " return parseFloat(t) * (/ km$/.test(t) ? 1000 : 1); })()";
    const double far = eval(metres).toDouble();
    view(45.75, 4.85, 12);
    EXPECT_GT(far, 50 * eval(metres).toDouble()) << text(world) << " / " << text(evalText(scale));
}

// The offline base map is drawn right wherever the map is moved: land
// where there is land and sea where there is sea, with the 1:50m and the
// 1:10m geometry, after a zoom and after a pan to land that was out of view,
// and past the 180th meridian.
TEST_F(PageLabelTest, LandAndSeaAreDrawnWhereverTheMapGoes) {
    struct Row {
        const char* where;
        double fromLat, fromLng;
        int zoom;
        double toLat, toLng; // panned to at the same zoom
        double landLat, landLng, seaLat, seaLng;
    };
    const Row rows[] = {
        {"Corsica, 1:50m", 42.0, 9.0, 5, 42.0, 9.0, 42.15, 9.10, 43.3, 8.5},
        {"Corsica from Lyon, 1:10m", 45.76, 4.84, 7, 42.15, 9.10, 42.15, 9.10, 42.0, 8.0},
        {"Sardinia from Lyon, 1:10m", 45.76, 4.84, 9, 40.0, 9.0, 40.0, 9.0, 40.0, 8.0},
        {"Chukotka across the 180th meridian", 60.0, 170.0, 6, 65.0, 179.0, 67.0, 182.0, 62.0, 182.0},
    };
    // What the base map's canvas holds at a place: "sea" where it is
    // clear (the sea is the map's background), else its colour.
    const QString at = "(function (lat, lng) { var r = baseMap.renderer, c = r._container;"
                       " var ratio = window.devicePixelRatio || 1;"
                       " var p = map.latLngToLayerPoint([lat, lng]).subtract(r._bounds.min);"
                       " var d = c.getContext('2d').getImageData(Math.round(p.x * ratio), Math.round(p.y * ratio),"
                       " 1, 1).data; return d[3] === 0 ? 'sea' : 'rgb(' + d[0] + ',' + d[1] + ',' + d[2] + ')'; })";
    eval("setPlaceLabelsEnabled(false); true");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.where);
        view(row.fromLat, row.fromLng, row.zoom);
        if (row.zoom >= 6) {
            ASSERT_TRUE(waitUntil("fineMap.state === 'ready' && map.hasLayer(fineMap.land)", 30000));
        }
        eval(QString("placeLabels.done = placeLabels.times.length; map.panTo([%1, %2], {animate: false}); true")
                 .arg(MapCommands::number(row.toLat), MapCommands::number(row.toLng)));
        ASSERT_TRUE(waitUntil("placeLabels.times.length > placeLabels.done", 10000));
        EXPECT_EQ(eval("map.getZoom()").toInt(), row.zoom);
        EXPECT_EQ(evalText(at + QString("(%1, %2)").arg(MapCommands::number(row.landLat), MapCommands::number(row.landLng))),
                  "rgb(246,243,236)");
        EXPECT_EQ(evalText(at + QString("(%1, %2)").arg(MapCommands::number(row.seaLat), MapCommands::number(row.seaLng))),
                  "sea");
    }
}

} // namespace
