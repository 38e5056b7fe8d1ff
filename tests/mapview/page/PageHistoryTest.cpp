// The history view in the real engine: a stored track sent as the console
// sends it (TrackHistory's lines), drawn over the live map while live
// commands keep coming, replayed and dragged through with the mouse.
#include "tests/mapview/page/PageFixture.h"

#include "mapview/Geocoder.h"
#include "mapview/PageResources.h"
#include "mapview/TrackHistory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>
#include <string>
#include <vector>

namespace {

using velmora::MapCommands;
using velmora::PageDocumentView;
using velmora::TrackHistory;
using velmora::test::idOf;
using velmora::test::PageTest;

using Fixes = std::vector<MapCommands::TrackFix>;

// count fixes every interval seconds from 08:00, heading north-east from
// (lat, lng); after fix gapAfter (when >= 0) the recorder was off for gap
// seconds.
Fixes makeTrack(int count, int interval, double lat = 48.10, double lng = 11.50, int gapAfter = -1, int gap = 0) {
    Fixes fixes;
    int64_t t = TrackHistory::parseTimeText("2026-01-31 08:00:00").value_or(0);
    for (int i = 0; i < count; ++i) {
        MapCommands::TrackFix fix;
        fix.latitude = lat + i * 0.0004;
        fix.longitude = lng + i * 0.0006;
        fix.course = 45.0;
        fix.speed = 10.0 + i % 7;
        fix.time = TrackHistory::timeText(t);
        fixes.push_back(fix);
        t += interval;
        if (i == gapAfter) {
            t += gap;
        }
    }
    return fixes;
}

class PageHistoryTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        send(MapCommands::resetTimeout(10));
        insert(1, idOf(1), "<b>Bold</b> & 'Co'");
        insert(1, idOf(2), "Live two", "48.20", "11.60");
        insert(1, idOf(3), "Live three", "48.30", "11.70");
    }

    /// The operator's way in: the vehicle's menu line, then what the console
    /// answers.
    void askForTrack(const std::string& id) {
        ASSERT_TRUE(click(entry(id), Qt::RightButton));
        ASSERT_TRUE(click("#VehicleContextMenu [data-item=tracking]"));
        ASSERT_TRUE(waitForCall({"onClickTrackingLine", id}));
    }

    /// Points the history line holds: solid runs, and the dashed gap pieces.
    QString drawn() {
        return json("[trackHistory.points.length, trackHistory.line.getLatLngs().reduce(function (n, run) {"
                    " return n + run.length; }, 0), trackHistory.line.getLatLngs().length,"
                    " trackHistory.gapLine ? trackHistory.gapLine.getLatLngs().length : 0]");
    }

    QString markerAt() { return json("[trackHistory.marker.getLatLng().lat, trackHistory.marker.getLatLng().lng]"); }
    /// The value as the page has it: sent with six decimals.
    static double sent(double value) { return MapCommands::number(value).toDouble(); }
    static QString jsonOf(const QJsonArray& values) {
        return QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact));
    }
    static QString at(const MapCommands::TrackFix& fix) {
        return jsonOf(QJsonArray{sent(fix.latitude), sent(fix.longitude)});
    }

    QJsonObject rect(const QString& selector) {
        return QJsonDocument::fromJson(evalText("JSON.stringify(document.querySelector(" + quoted(selector) +
                                                ").getBoundingClientRect())")
                                           .toUtf8())
            .object();
    }
};

// The history is drawn point for point however it was sent, while moveTo
// keeps moving the other vehicles; the map stays shown and stays on the
// history even when the history's own vehicle moves off screen.
TEST_F(PageHistoryTest, HistoryIsDrawnWhileLiveVehiclesKeepMoving) {
    auto plainLines = [](const Fixes& fixes) {
        QStringList lines;
        lines << MapCommands::showTrackingMap();
        for (const auto& fix : fixes) {
            lines << MapCommands::insertGpsInfo(fix.latitude, fix.longitude, fix.course);
        }
        lines << MapCommands::showTrackingLine(fixes.back().latitude, fixes.back().longitude);
        return lines;
    };
    struct Row {
        const char* sent;
        Fixes fixes;
        std::function<QStringList(const Fixes&)> lines;
        const char* drawn; // points, points on solid runs, runs, gap pieces
        const char* firstTime;
    };
    const Row rows[] = {
        {"a line per fix", makeTrack(40, 10), TrackHistory::commands, "[40,40,1,0]", "2026-01-31 08:00:00"},
        {"a line per fix, one gap", makeTrack(60, 10, 48.1, 11.5, 29, 900), TrackHistory::commands, "[60,60,2,1]",
         "2026-01-31 08:00:00"},
        {"in batches", makeTrack(1200, 5), TrackHistory::commands, "[1200,1200,1,0]", "2026-01-31 08:00:00"},
        {"positions only", makeTrack(25, 10), plainLines, "[25,25,1,0]", "#1 / 25"},
    };
    const QString two = QString::fromStdString(idOf(2));
    askForTrack(idOf(1));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sent);
        const int movesBefore = eval("findVehicle('" + two + "').track.length").toInt();
        const QStringList lines = row.lines(row.fixes);
        int moves = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            send(lines[i]);
            if (i % 7 == 3) {
                send(MapCommands::moveTo(48.2 + ++moves * 0.001, 11.6, 20, 8, 0, 0, 90, idOf(2)));
                send(MapCommands::moveTo(48.3, 11.7 + moves * 0.001, 20, 8, 0, 0, 180, idOf(3)));
            }
        }
        EXPECT_EQ(drawn(), row.drawn);
        EXPECT_EQ(eval("map.getBounds().contains(trackHistory.line.getBounds())"), QVariant(true));
        const QString center = json("map.getCenter()");
        // The history's vehicle itself reports from far away: the map stays.
        send(MapCommands::moveTo(-33.9, 18.4, 5, 8, 0, 0, 10, idOf(1)));
        send(MapCommands::moveTo(48.2 + ++moves * 0.001, 11.6, 20, 8, 0, 0, 90, idOf(2)));
        EXPECT_EQ(json("map.getCenter()"), center);
        EXPECT_EQ(json("[iconIndex['" + two + "'].getLatLng().lat, findVehicle('" + two + "').track.length]"),
                  jsonOf(QJsonArray{sent(48.2 + moves * 0.001), movesBefore + moves}));
        EXPECT_EQ(json("[getComputedStyle(document.getElementById('map')).display,"
                       " document.getElementById('map').offsetWidth > 0,"
                       " document.getElementById('TrackingBar').style.display,"
                       " map.hasLayer(trackHistory.marker)]"),
                  R"(["block",true,"block",true])");
        EXPECT_EQ(evalText("document.getElementById('TrackTime').textContent"), row.firstTime);
        EXPECT_EQ(markerAt(), at(row.fixes.front()));
        // Names and times are shown as text.
        EXPECT_EQ(evalText("document.getElementById('TrackTitle').textContent"),
                  QString("<b>Bold</b> & 'Co' - %1 positions").arg(row.fixes.size()));
        EXPECT_EQ(eval("document.querySelectorAll('#TrackingBar b').length").toInt(), 0);
    }
}

// The close button takes the history away and puts the map back where the
// operator had it, with the live track still drawn.
TEST_F(PageHistoryTest, ClosingTheHistoryRestoresTheLiveView) {
    send(MapCommands::moveTo(37.4429, -122.143, 5, 8, 0, 0, 0, idOf(1)));
    send(MapCommands::moveTo(37.4439, -122.143, 5, 8, 0, 10, 0, idOf(1)));
    askForTrack(idOf(1));
    send(MapCommands::enableTooltip());
    // Where the operator looks when the history comes.
    eval("map.setView([37.45, -122.15], 11, {animate: false}); true");
    const QString view = json("[map.getCenter(), map.getZoom()]");
    send(TrackHistory::commands(makeTrack(50, 10, 40.40, -3.70)));
    ASSERT_NE(json("[map.getCenter(), map.getZoom()]"), view);
    eval("window.__history = trackHistory; true");

    const QPoint close = centreOf("#TrackClose");
    ASSERT_GE(close.x(), 0);
    QTest::mouseMove(renderWidget(), close);
    EXPECT_TRUE(waitUntil("document.getElementById('Tooltip').textContent === 'Close Tracking Line'"));
    ASSERT_TRUE(click("#TrackClose", Qt::RightButton));
    EXPECT_EQ(eval("trackHistory === window.__history"), QVariant(true)) << "only the left button closes";
    ASSERT_TRUE(click("#TrackClose"));
    EXPECT_EQ(json("[trackHistory, document.getElementById('TrackingBar').style.display,"
                   " map.hasLayer(window.__history.line), map.hasLayer(window.__history.marker),"
                   " document.querySelectorAll('.TrackStart, .TrackEnd, .TrackArrow, .ReplayMarker').length]"),
              R"([null,"none",false,false,0])");
    EXPECT_EQ(json("[map.getCenter(), map.getZoom()]"), view);
    EXPECT_EQ(json("[global.currentVehicle, map.hasLayer(trackLine), trackLine.getLatLngs().length,"
                   " document.querySelectorAll('img.VehicleIcon').length]"),
              QString("[\"%1\",true,3,3]").arg(QString::fromStdString(idOf(1))));
    // Live updates go on as before, and pan again.
    send(MapCommands::moveTo(-33.9, 18.4, 5, 8, 0, 0, 10, idOf(1)));
    EXPECT_EQ(eval("map.getBounds().contains([-33.9, 18.4])"), QVariant(true));
}

// At x600 ten minutes of track take one second of frames, every fix is
// passed in order, and a silence of an hour is jumped over, not waited
// through (it would take six more seconds). The page's frames are driven
// by the test at 64 a second, so the counts hold however busy the machine.
TEST_F(PageHistoryTest, ReplayAtX600PassesEveryFixInRealTimeOver600) {
    struct Row {
        const char* track;
        Fixes fixes;
        int frames; // the first frame starts the clock; then 64 per 10 minutes
    };
    const Row rows[] = {
        {"ten minutes, a fix every 10 s", makeTrack(61, 10), 1 + 64},
        {"ten minutes, an hour off, ten minutes", makeTrack(122, 10, 48.1, 11.5, 60, 3600), 1 + 64 + 1 + 64},
    };
    askForTrack(idOf(1));
    eval("window.__clock = { now: 1000, queue: [] };"
         "window.requestAnimationFrame = function (f) { __clock.queue.push(f); return __clock.queue.length; };"
         "window.__frame = function (ms) { var q = __clock.queue; __clock.queue = []; __clock.now += ms;"
         " q.forEach(function (f) { f(__clock.now); }); return q.length; }; true");
    // Runs frames of ms until the replay stops; how many it took, or -1.
    auto playOut = [this](double ms) {
        for (int frames = 1; frames <= 2000; ++frames) {
            eval(QString("__frame(%1)").arg(ms));
            if (eval("trackHistory.playing") != QVariant(true)) {
                return frames;
            }
        }
        return -1;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.track);
        send(TrackHistory::commands(row.fixes));
        ASSERT_TRUE(click(".TrackSpeed[data-speed='600']"));
        EXPECT_EQ(evalText("document.querySelector('.TrackSpeed.selected').textContent"), "x600");
        ASSERT_TRUE(click("#TrackPlay"));
        EXPECT_EQ(evalText("document.getElementById('TrackPlay').className"), "playing");
        EXPECT_EQ(playOut(1000.0 / 64), row.frames);
        QJsonArray every;
        for (int i = 0; i < static_cast<int>(row.fixes.size()); ++i) {
            every.append(i);
        }
        EXPECT_EQ(json("trackHistory.visits"), jsonOf(every));
        EXPECT_EQ(markerAt(), at(row.fixes.back()));
        EXPECT_EQ(evalText("document.getElementById('TrackTime').textContent"),
                  QString::fromStdString(row.fixes.back().time));
        EXPECT_EQ(evalText("document.getElementById('TrackPlay').className"), "paused");
    }
    // Play again from the end starts over; between two fixes the marker
    // stands on the line between them, as far along as the time.
    ASSERT_TRUE(click("#TrackPlay"));
    eval("__frame(1000 / 64)");
    eval("__frame(1000 / 128)"); // 4.6875 s of 10
    const auto& fixes = rows[1].fixes;
    const double f = 4.6875 / 10;
    EXPECT_NEAR(eval("trackHistory.marker.getLatLng().lat").toDouble(),
                sent(fixes[0].latitude) + (sent(fixes[1].latitude) - sent(fixes[0].latitude)) * f, 1e-9);
    EXPECT_NEAR(eval("trackHistory.marker.getLatLng().lng").toDouble(),
                sent(fixes[0].longitude) + (sent(fixes[1].longitude) - sent(fixes[0].longitude)) * f, 1e-9);
    EXPECT_EQ(evalText("document.getElementById('TrackTime').textContent"), QString::fromStdString(fixes[0].time));
    // Paused, the marker stays and the replay asks for no more frames.
    ASSERT_TRUE(click("#TrackPlay"));
    EXPECT_EQ(evalText("document.getElementById('TrackPlay').className"), "paused");
    eval("__frame(1000 / 64); __frame(1000 / 64); true");
    EXPECT_EQ(eval("__clock.queue.length").toInt(), 0);
    EXPECT_NEAR(eval("trackHistory.marker.getLatLng().lat").toDouble(),
                sent(fixes[0].latitude) + (sent(fixes[1].latitude) - sent(fixes[0].latitude)) * f, 1e-9);
}

// Dragging the slider's knob with the mouse puts the marker on the fix of
// the moment the knob stops at, with that fix's time, speed and address.
TEST_F(PageHistoryTest, DraggingTheSliderPlacesTheMarkerAtThatFix) {
    const Fixes fixes = makeTrack(61, 10, 37.40, -122.10);
    askForTrack(idOf(1));
    send(TrackHistory::commands(fixes));
    const QJsonObject slider = rect("#TrackSlider");
    const int y = static_cast<int>(slider.value("top").toDouble() + slider.value("height").toDouble() / 2);
    const double left = slider.value("left").toDouble(), width = slider.value("width").toDouble();
    QWidget* target = renderWidget();
    QPoint knob(static_cast<int>(left + 8), y);
    for (const double fraction : {0.37, 0.8, 0.1, 1.0}) {
        SCOPED_TRACE(fraction);
        const QPoint to(static_cast<int>(left + fraction * width), y);
        QTest::mouseMove(target, knob);
        QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, knob);
        for (int step = 1; step <= 8; ++step) {
            QTest::mouseMove(target, knob + (to - knob) * step / 8);
            PageDocumentView::pump(10);
        }
        QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, to);
        knob = to;
        eval("true");
        PageDocumentView::pump(50);
        const int value = evalText("document.getElementById('TrackSlider').value").toInt();
        EXPECT_NEAR(value, fraction * 600, 60) << "the knob did not follow the mouse";
        const size_t k = static_cast<size_t>(value / 10);
        ASSERT_LT(k, fixes.size());
        EXPECT_EQ(markerAt(), at(fixes[k]));
        EXPECT_EQ(evalText("document.getElementById('TrackTime').textContent"), QString::fromStdString(fixes[k].time));
        EXPECT_EQ(evalText("document.getElementById('TrackSpeedText').textContent"),
                  QString::number(fixes[k].speed * 1.852, 'f', 1) + " km/h");
        // The address line of that point, as the geocoder names it.
        const std::vector<std::string> names =
            velmora::PageResources::getGeocoder().lookup(sent(fixes[k].latitude), sent(fixes[k].longitude));
        ASSERT_GT(names.size(), 1u);
        EXPECT_TRUE(waitUntil("document.getElementById('TrackAddress').textContent === " +
                              quoted(QString::fromStdString(names[1]))))
            << evalText("document.getElementById('TrackAddress').textContent").toStdString();
    }
}

} // namespace
