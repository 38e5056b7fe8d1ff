// The zones in the real page: drawn by the operator with the mouse (the
// page reports the outline the rules read), sent by the console and drawn
// the short way round the globe, hidden with the layer's switch, names
// shown as text, corners moved with the mouse.
#include "tests/mapview/page/PageFixture.h"

#include "mapview/WatchCommands.h"
#include "rules/Zone.h"

#include <QApplication>
#include <QJsonArray>
#include <QMouseEvent>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <string>
#include <vector>

namespace {

using velmora::GeoPoint;
using velmora::PageDocumentView;
using velmora::WatchCommands;
using velmora::Zone;
using velmora::test::PageTest;

class PageZonesTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        eval("map.setView([47.37, 8.54], 14, {animate: false}); true");
    }

    /// The page point of a point in the map's container.
    QPoint onMap(int x, int y) {
        const QJsonObject box = QJsonDocument::fromJson(
                                    evalText("JSON.stringify(map.getContainer().getBoundingClientRect())").toUtf8())
                                    .object();
        return QPoint(static_cast<int>(box.value("left").toDouble()) + x, static_cast<int>(box.value("top").toDouble()) + y);
    }

    /// The place under a point of the map's container, as the map reads it.
    GeoPoint placeAt(int x, int y) {
        const QJsonObject ll =
            QJsonDocument::fromJson(
                evalText(QStringLiteral("JSON.stringify(map.containerPointToLatLng([%1, %2]))").arg(x).arg(y)).toUtf8())
                .object();
        return GeoPoint{ll.value("lat").toDouble(), ll.value("lng").toDouble()};
    }

    /// Presses and releases the left button at a page point, once the page
    /// has seen the release.
    void clickAt(QPoint at, bool twice = false) {
        const int released = eval("window.__ups === undefined ? (window.__ups = 0,"
                                  " document.addEventListener('mouseup', function () { ++window.__ups; }, true), 0)"
                                  " : window.__ups")
                                 .toInt();
        QWidget* target = renderWidget();
        QTest::mouseMove(target, at);
        if (!twice) {
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, at);
        } else {
            // The engine counts clicks by the events' times, which QTest
            // spaces apart on purpose: two clicks 20 ms apart, sent here.
            static ulong clock = 0x40000000;
            const QPointF local(at);
            const QPointF global(target->mapToGlobal(at));
            const QEvent::Type steps[] = {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                          QEvent::MouseButtonPress, QEvent::MouseButtonRelease};
            for (const QEvent::Type type : steps) {
                const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
                QMouseEvent event(type, local, local, global, Qt::LeftButton, held, Qt::NoModifier);
                event.setTimestamp(clock += 10);
                QApplication::sendEvent(target, &event);
            }
        }
        ASSERT_TRUE(waitUntil("window.__ups >= " + QString::number(released + (twice ? 2 : 1))));
    }

    static Zone zoneOf(const std::string& call) {
        const size_t bar = call.find('|');
        Zone zone;
        if (bar == std::string::npos || !Zone::parse(1, "drawn", call.substr(0, bar), call.substr(bar + 1), zone)) {
            ADD_FAILURE() << "no zone in " << call;
        }
        return zone;
    }

    /// The drawn shapes of zone id: their west and east bounds, in degrees.
    QJsonArray shapeBounds(int id) {
        return QJsonDocument::fromJson(
                   evalText(QStringLiteral("JSON.stringify(zoneIndex['%1'].layers.map(function (l) {"
                                           " var b = l.getBounds(); return [b.getWest(), b.getEast()]; }))")
                                .arg(id))
                       .toUtf8())
            .array();
    }
};

TEST_F(PageZonesTest, APolygonDrawnWithTheMouseIsReportedCornerByCorner) {
    ASSERT_TRUE(click("#ZoneDrawPolygon"));
    const std::vector<QPoint> corners = {{300, 200}, {500, 220}, {520, 420}, {320, 400}};
    for (size_t i = 0; i + 1 < corners.size(); ++i) {
        clickAt(onMap(corners[i].x(), corners[i].y()));
    }
    // A second click on the last corner adds none: only a double click ends.
    clickAt(onMap(corners[2].x() + 2, corners[2].y() + 1));
    EXPECT_EQ(evalText("String(zoneDrawing.corners.length)"), "3");
    clickAt(onMap(corners[3].x(), corners[3].y()), true);
    const std::string call = lastCall("onZoneDrawn");
    ASSERT_FALSE(call.empty());
    const Zone zone = zoneOf(call);
    ASSERT_TRUE(zone.isValid());
    ASSERT_EQ(zone.getVertices().size(), corners.size());
    for (size_t i = 0; i < corners.size(); ++i) {
        const GeoPoint at = placeAt(corners[i].x(), corners[i].y());
        EXPECT_NEAR(zone.getVertices()[i].latitude, at.latitude, 1e-5) << i;
        EXPECT_NEAR(zone.getVertices()[i].longitude, at.longitude, 1e-5) << i;
    }
    // The place in the middle of the four is inside, one beyond them not.
    EXPECT_TRUE(zone.contains(placeAt(410, 310)));
    EXPECT_FALSE(zone.contains(placeAt(600, 310)));
    // Drawing has ended: the next click draws nothing.
    EXPECT_EQ(eval("zoneDrawing === null"), QVariant(true));
}

TEST_F(PageZonesTest, ACircleIsItsCentreAndAPointOnItsRim) {
    ASSERT_TRUE(click("#ZoneDrawCircle"));
    clickAt(onMap(400, 300));
    clickAt(onMap(400 + 150, 300));
    const Zone zone = zoneOf(lastCall("onZoneDrawn"));
    ASSERT_TRUE(zone.isValid());
    ASSERT_EQ(zone.getShape(), Zone::CIRCLE);
    const GeoPoint centre = placeAt(400, 300);
    EXPECT_NEAR(zone.getCentre().latitude, centre.latitude, 1e-5);
    EXPECT_NEAR(zone.getCentre().longitude, centre.longitude, 1e-5);
    // Metres on the ground: the distance to the rim the operator clicked.
    EXPECT_NEAR(zone.getRadius(), centre.distanceTo(placeAt(550, 300)), 1.0);
    EXPECT_TRUE(zone.contains(placeAt(400 + 140, 300)));
    EXPECT_FALSE(zone.contains(placeAt(400 + 160, 300)));
}

TEST_F(PageZonesTest, EscapeStopsADrawingAndNothingIsReported) {
    send(WatchCommands::startZoneDrawing(false));
    clickAt(onMap(300, 200));
    clickAt(onMap(400, 200));
    QTest::keyClick(renderWidget(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil("zoneDrawing === null"));
    clickAt(onMap(400, 300), true);
    PageDocumentView::pump(100);
    EXPECT_EQ(lastCall("onZoneDrawn", 300), "");
}

// Zones the console sends are drawn the way the rules read them: a polygon
// over the antimeridian as the narrow strip it is (on both sides of the
// line), a polygon elsewhere once.
TEST_F(PageZonesTest, ZonesAreDrawnTheShortWayRound) {
    struct Row {
        const char* label;
        Zone zone;
        double widest; // degrees of longitude any shape may span
        int shapes;
    };
    const Row rows[] = {
        {"across the antimeridian",
         Zone::polygon(11, "Date line", {{10, 179.5}, {10, -179.5}, {11, -179.5}, {11, 179.5}}), 1.01, 2},
        {"an ordinary square", Zone::polygon(12, "Square", {{47, 8}, {47, 9}, {48, 9}, {48, 8}}), 1.01, 1},
        {"a circle on the line", Zone::circle(13, "Round", {0, 180}, 50000), 1.0, 2},
        {"a circle inland", Zone::circle(14, "Pond", {47.37, 8.54}, 500), 0.02, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_TRUE(row.zone.isValid());
        send(WatchCommands::putZone(row.zone));
        const QJsonArray shapes = shapeBounds(row.zone.getId());
        ASSERT_EQ(shapes.size(), row.shapes);
        for (const QJsonValue& shape : shapes) {
            const double west = shape.toArray().at(0).toDouble();
            const double east = shape.toArray().at(1).toDouble();
            EXPECT_LE(east - west, row.widest) << west << " .. " << east;
        }
    }
    // A zone sent again replaces its shapes; a removed one goes.
    send(WatchCommands::putZone(Zone::polygon(12, "Square", {{47, 8}, {47, 8.5}, {48, 8.5}})));
    EXPECT_EQ(shapeBounds(12).size(), 1);
    send(WatchCommands::removeZone(12));
    EXPECT_EQ(eval("zoneIndex['12'] === undefined && zoneLayer.getLayers().every(function (l) {"
                   " return l.zoneID !== '12'; })"),
              QVariant(true));
}

TEST_F(PageZonesTest, NamesAreTextAndTheLayerCanBeHidden) {
    Zone zone = Zone::circle(3, "<img src=x onerror=\"window.__owned=1\">'); x('", {47.37, 8.54}, 300);
    send(WatchCommands::putZone(zone));
    EXPECT_EQ(evalText("zoneIndex['3'].name"), QString::fromStdString(zone.getName()));
    // The tooltip holds the name as text: no element made of it.
    eval("zoneIndex['3'].layers[0].openTooltip([47.37, 8.54]); true");
    EXPECT_EQ(eval("document.querySelector('.ZoneTooltip img') === null && window.__owned === undefined"),
              QVariant(true));
    EXPECT_TRUE(evalText("document.querySelector('.ZoneTooltip').textContent").startsWith("<img src=x"));
    // The switch hides the layer and shows it again.
    ASSERT_TRUE(click("#ZoneLayerToggle"));
    EXPECT_TRUE(waitUntil("!map.hasLayer(zoneLayer)"));
    ASSERT_TRUE(click("#ZoneLayerToggle"));
    EXPECT_TRUE(waitUntil("map.hasLayer(zoneLayer)"));
    send(WatchCommands::setZonesVisible(false));
    EXPECT_EQ(eval("!map.hasLayer(zoneLayer) && !document.getElementById('ZoneLayerToggle').checked"), QVariant(true));
    // The list button asks the console for its window.
    m_listener.calls.clear();
    ASSERT_TRUE(click("#ZoneList"));
    EXPECT_TRUE(waitForCall({"onClickZones", ""}));
}

// "Edit on map": the corners are dragged with the mouse, Done reports the
// new outline; Cancel reports nothing.
TEST_F(PageZonesTest, CornersMovedWithTheMouseAreReportedOnDone) {
    const Zone square = Zone::polygon(5, "Yard", {{47.36, 8.53}, {47.36, 8.55}, {47.38, 8.55}, {47.38, 8.53}});
    send(WatchCommands::putZone(square));
    send(WatchCommands::editZone(5));
    ASSERT_EQ(evalText("String(zoneEditing.handles.length)"), "4");
    // The first corner's handle, dragged 60 px to the left.
    const QJsonObject from = QJsonDocument::fromJson(
                                 evalText("JSON.stringify(map.latLngToContainerPoint(zoneEditing.handles[0].getLatLng()))")
                                     .toUtf8())
                                 .object();
    const int x = static_cast<int>(std::lround(from.value("x").toDouble()));
    const int y = static_cast<int>(std::lround(from.value("y").toDouble()));
    QWidget* target = renderWidget();
    QTest::mouseMove(target, onMap(x, y));
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, onMap(x, y));
    // The drag starts on the first move past the click tolerance and the
    // handle follows from there on, so the first step is small and seen by
    // the page before the rest (a busy page merges moves it has not taken).
    eval("window.__dragging = false; zoneEditing.handles[0].once('dragstart',"
         " function () { window.__dragging = true; }); true");
    QTest::mouseMove(target, onMap(x - 5, y));
    ASSERT_TRUE(waitUntil("window.__dragging"));
    for (int step = 1; step <= 6; ++step) {
        QTest::mouseMove(target, onMap(x - 5 - 10 * step, y));
        PageDocumentView::pump(20);
    }
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, onMap(x - 65, y));
    // Where the handle was left: some way to the left, on the same line.
    ASSERT_TRUE(waitUntil(QStringLiteral("map.latLngToContainerPoint(zoneEditing.handles[0].getLatLng()).x < %1")
                              .arg(x - 40)));
    const QJsonObject left =
        QJsonDocument::fromJson(evalText("JSON.stringify(zoneEditing.handles[0].getLatLng())").toUtf8()).object();
    const GeoPoint dropped{left.value("lat").toDouble(), left.value("lng").toDouble()};
    EXPECT_NEAR(dropped.latitude, placeAt(x, y).latitude, 1e-4);
    ASSERT_TRUE(click("#ZoneEditDone"));
    const std::string call = lastCall("onZoneEdited");
    ASSERT_EQ(call.substr(0, 10), "5|polygon|");
    Zone moved;
    ASSERT_TRUE(Zone::parse(5, "Yard", "polygon", call.substr(10), moved));
    ASSERT_EQ(moved.getVertices().size(), 4u);
    EXPECT_NEAR(moved.getVertices()[0].latitude, dropped.latitude, 1e-6);
    EXPECT_NEAR(moved.getVertices()[0].longitude, dropped.longitude, 1e-6);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(moved.getVertices()[i].latitude, square.getVertices()[i].latitude) << i;
        EXPECT_DOUBLE_EQ(moved.getVertices()[i].longitude, square.getVertices()[i].longitude) << i;
    }
    EXPECT_EQ(eval("zoneEditing === null"), QVariant(true));

    m_listener.calls.clear();
    send(WatchCommands::editZone(5));
    ASSERT_TRUE(click("#ZoneDrawCancel"));
    EXPECT_EQ(eval("zoneEditing === null"), QVariant(true));
    EXPECT_EQ(lastCall("onZoneEdited", 300), "");
}

} // namespace
