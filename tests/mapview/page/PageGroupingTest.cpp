// Large fleets: overlapping vehicle icons are grouped, with the right
// counts, marks for time-outs and events, a click that zooms in, and the
// selected vehicle and the popup's vehicle always on their own.
#include "tests/mapview/page/PageFixture.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace velmora::test {
namespace {

class PageGroupingTest : public PageTest {
protected:
    /// The counts of the group icons on screen, ascending.
    std::vector<int> groupCounts() {
        const QStringList texts =
            eval("Array.prototype.map.call(document.querySelectorAll('.VehicleGroup .VehicleGroupCount'),"
                 " function (e) { return e.textContent; })")
                .toStringList();
        std::vector<int> counts;
        for (const QString& text : texts) {
            counts.push_back(text.toInt());
        }
        std::sort(counts.begin(), counts.end());
        return counts;
    }
    /// Waits until the group icons on screen hold counts; false on time-out.
    bool waitForGroups(const std::vector<int>& counts) {
        QElapsedTimer timer;
        timer.start();
        while (groupCounts() != counts) {
            if (timer.elapsed() > 5000) {
                return false;
            }
            PageDocumentView::pump(20);
        }
        return true;
    }
    /// The group counts that something else on the page covers: the
    /// element drawn at the middle of the count is not the count.
    std::vector<int> coveredCounts() {
        const QStringList texts =
            eval("Array.prototype.filter.call(document.querySelectorAll('.VehicleGroup .VehicleGroupCount'),"
                 " function (e) { var r = e.getBoundingClientRect();"
                 " var top = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);"
                 " return !top || !e.contains(top); }).map(function (e) { return e.textContent; })")
                .toStringList();
        std::vector<int> counts;
        for (const QString& text : texts) {
            counts.push_back(text.toInt());
        }
        return counts;
    }
    int iconsOnScreen() { return eval("document.querySelectorAll('img.VehicleIcon').length").toInt(); }
    void view(double lat, double lng, int zoom) {
        eval(QStringLiteral("map.setView([%1, %2], %3, {animate: false}); true")
                 .arg(lat, 0, 'f', 6)
                 .arg(lng, 0, 'f', 6)
                 .arg(zoom));
        PageDocumentView::pump(100);
    }
};

// 300 vehicles around Paris and 200 around Lyon, sent as the console sends
// them.
TEST_F(PageGroupingTest, FiveHundredVehiclesFormGroupsThatFallApartWhenZoomedIn) {
    for (int i = 1; i <= 500; ++i) {
        const bool paris = i <= 300;
        // A spiral inside 0.08 degrees of the centre.
        const double angle = i * 2.39996, radius = 0.08 * std::sqrt((i % 300) / 300.0);
        const double lat = (paris ? 48.8566 : 45.7640) + radius * std::sin(angle);
        const double lng = (paris ? 2.3522 : 4.8357) + radius * std::cos(angle);
        insert(1, idOf(i), "V" + std::to_string(i), QString::number(lat, 'f', 6).toLatin1().constData(),
               QString::number(lng, 'f', 6).toLatin1().constData());
    }
    ASSERT_EQ(eval("listBox.order().length").toInt(), 500);
    EXPECT_EQ(eval("vehicleGroup.on").toBool(), true) << "automatic grouping is on above 50 vehicles";

    view(47.3, 3.6, 5);
    EXPECT_EQ(groupCounts(), (std::vector<int>{200, 300}));
    EXPECT_EQ(iconsOnScreen(), 0);
    // A click on a group zooms in on it.
    ASSERT_TRUE(click(".VehicleGroup"));
    EXPECT_TRUE(waitUntil("map.getZoom() > 5"));

    // The selected vehicle leaves its group and stays on screen.
    const std::string chosen = idOf(7);
    ASSERT_TRUE(click(entry(chosen)));
    view(47.3, 3.6, 5);
    EXPECT_EQ(groupCounts(), (std::vector<int>{200, 299}));
    EXPECT_EQ(iconsOnScreen(), 1);
    EXPECT_NE(centreOf(icon(chosen)).x(), -1);
    // It stands amid the others; the count of their group still shows.
    EXPECT_EQ(coveredCounts(), std::vector<int>{});
    // Its popup follows the selection to another vehicle: it goes back to
    // its group (it stayed out, on its own, until the next change).
    ASSERT_TRUE(click(icon(chosen)));
    ASSERT_TRUE(eval("contextMenu.isVisible()").toBool());
    eval("document.querySelector(" + quoted(entry(idOf(400))) + ").scrollIntoView(); true");
    ASSERT_TRUE(click(entry(idOf(400))));
    ASSERT_EQ(eval("global.currentVehicle").toString().toStdString(), idOf(400));
    ASSERT_EQ(eval("contextMenu.isVisible() && popupShows('" + QString::fromStdString(idOf(400)) + "')").toBool(), true);
    view(47.3, 3.6, 5);
    EXPECT_EQ(groupCounts(), (std::vector<int>{199, 300}));
    EXPECT_EQ(iconsOnScreen(), 1);

    // Vehicles in alarm leave their group too, and stay out when they move
    // (the group once took a moved one back while it was also on the map).
    // Their markers and their entries in sight blink.
    std::vector<std::string> alarmed;
    for (int i = 301; i <= 320; ++i) {
        alarmed.push_back(idOf(i));
    }
    send(MapCommands::setAlarms(alarmed, {}));
    EXPECT_TRUE(waitForGroups({179, 300}));
    for (int i = 301; i <= 320; ++i) {
        send(MapCommands::moveTo(45.7640 + 0.002 * (i - 300), 4.8357, 10, 17, 5, 9, 90, idOf(i)));
    }
    PageDocumentView::pump(600);
    EXPECT_EQ(groupCounts(), (std::vector<int>{179, 300}));
    EXPECT_EQ(iconsOnScreen(), 21);
    eval("document.querySelector(" + quoted(entry(idOf(310))) + ").scrollIntoView(); true");
    const QString looks = "getComputedStyle(document.querySelector(" + quoted(entry(idOf(310))) +
                          ")).backgroundColor + '|' + getComputedStyle(document.querySelector(" +
                          quoted(icon(idOf(310))) + ").parentNode).opacity";
    EXPECT_TRUE(waitUntil(looks + " === 'rgb(255, 205, 210)|0.35'")) << evalText(looks).toStdString();
    EXPECT_TRUE(waitUntil(looks + " === 'rgb(229, 57, 53)|1'")) << evalText(looks).toStdString();
    send(MapCommands::setAlarms({}, alarmed));
    EXPECT_TRUE(waitForGroups({199, 300}));
    EXPECT_EQ(iconsOnScreen(), 1);

    // A mass alarm (250 of Paris's 300, more than have icons of their own):
    // those that overlap form a red alarm group that blinks in the alarms'
    // pane. Their moves reach it, and one alarm ending as another begins,
    // without a vehicle counted twice or lost.
    alarmed.clear();
    for (int i = 1; i <= 250; ++i) {
        alarmed.push_back(idOf(i));
    }
    send(MapCommands::setAlarms(alarmed, {}));
    EXPECT_TRUE(waitForGroups({50, 199, 250}));
    const QString alarmGroup = "document.querySelector('.AlarmGroup')";
    EXPECT_EQ(evalText(alarmGroup + ".textContent + '|' + (" + alarmGroup + ".parentNode === map.getPane('alarmPane'))"),
              QStringLiteral("250|true"));
    EXPECT_EQ(iconsOnScreen(), 1);
    for (int i = 1; i <= 250; i += 10) {
        send(MapCommands::moveTo(48.8566 + 0.001 * i, 2.3522, 10, 17, 5, 9, 90, idOf(i)));
    }
    send(MapCommands::setAlarms({idOf(251)}, {idOf(250)}));
    PageDocumentView::pump(600);
    view(48.8566, 2.3522, 6);
    view(47.3, 3.6, 5);
    EXPECT_EQ(groupCounts(), (std::vector<int>{50, 199, 250}));
    // Down to 50 in alarm: each has an icon of its own again.
    send(MapCommands::setAlarms({}, std::vector<std::string>(alarmed.begin(), alarmed.begin() + 200)));
    EXPECT_TRUE(waitForGroups({199, 250}));
    EXPECT_EQ(iconsOnScreen(), 51);
    alarmed.push_back(idOf(251));
    send(MapCommands::setAlarms({}, alarmed));
    EXPECT_TRUE(waitForGroups({199, 300}));
    EXPECT_EQ(iconsOnScreen(), 1);

    // An event inside a group marks it.
    send(MapCommands::updateEventInfo(13, "V450", "2026-01-31 17:05:09", " ", idOf(450)));
    EXPECT_TRUE(waitUntil("document.querySelectorAll('.VehicleGroup.event img.VehicleGroupEvent').length === 1"));
    EXPECT_EQ(eval("document.querySelector('.VehicleGroup.event img').getAttribute('src')").toString(),
              QStringLiteral("images/icon_emergency.png"));

    // From zoom 15 on every vehicle in view has its own icon.
    view(48.8566, 2.3522, 15);
    EXPECT_TRUE(groupCounts().empty());
    const int inView = eval("vehicleContainer.filter(function (v) { return map.getBounds().contains(v.latlng); })"
                            ".length")
                           .toInt();
    EXPECT_GT(inView, 5);
    EXPECT_EQ(eval("vehicleContainer.filter(function (v) { return map.getBounds().contains(v.latlng) &&"
                   " document.querySelector('img.VehicleIcon[data-vehicle=\"' + v.vehicleID + '\"]') !== null; })"
                   ".length")
                  .toInt(),
              inView);

    // Time-outs mark the groups they fall in (a period of 0.12 s).
    view(47.3, 3.6, 5);
    send(QStringLiteral("resetTimeout(10);"));
    send(QStringLiteral("resetTimeout(0.002);"));
    EXPECT_TRUE(waitUntil("document.querySelectorAll('.VehicleGroup.timedout img.VehicleGroupTimeout').length === 2"));
}

// Fixes reach the groups: ten vehicles driven from Paris to Lyon change
// both groups' counts. A vehicle deleted in the same burst as its move
// leaves nothing behind in the group: a vehicle later placed where it was
// is counted once.
TEST_F(PageGroupingTest, MovesReachTheGroupsAndADeletedVehicleLeavesNothingBehind) {
    auto paris = [](int i) {
        const double angle = i * 2.39996, radius = 0.08 * std::sqrt(i / 60.0);
        return std::make_pair(48.8566 + radius * std::sin(angle), 2.3522 + radius * std::cos(angle));
    };
    auto lyon = [](int i) { return std::make_pair(45.7640 + 0.001 * (i % 9), 4.8357 + 0.001 * (i / 9)); };
    auto text = [](double value) { return QString::number(value, 'f', 6).toStdString(); };
    eval("window.__errors = []; window.addEventListener('error', function (e) {"
         " window.__errors.push(String(e.message)); }); true");
    for (int i = 1; i <= 120; ++i) {
        const auto at = i <= 60 ? paris(i) : lyon(i);
        insert(1, idOf(i), "V" + std::to_string(i), text(at.first).c_str(), text(at.second).c_str());
    }
    view(47.3, 3.6, 5);
    ASSERT_EQ(groupCounts(), (std::vector<int>{60, 60}));

    // A fix a second for five seconds, as the console sends them.
    for (int step = 1; step <= 5; ++step) {
        QStringList burst;
        for (int i = 1; i <= 10; ++i) {
            const auto from = paris(i), to = lyon(i);
            const double f = step / 5.0;
            burst << MapCommands::moveTo(from.first + (to.first - from.first) * f,
                                         from.second + (to.second - from.second) * f, 40, 8, 0, step, 150, idOf(i));
        }
        eval(burst.join(";\n") + ";\ntrue");
        PageDocumentView::pump(50);
    }
    EXPECT_TRUE(waitForGroups({50, 70})) << ::testing::PrintToString(groupCounts());
    // The icon of a vehicle inside a group is where its last fix is.
    EXPECT_EQ(evalText(QString("iconIndex['%1'].getShownLatLng().lat.toFixed(4)").arg(QString::fromStdString(idOf(3)))),
              QString::number(lyon(3).first, 'f', 4));

    const auto p11 = paris(11), l11 = lyon(11);
    eval(QStringList{MapCommands::moveTo(l11.first, l11.second, 40, 8, 0, 9, 150, idOf(11)),
                     MapCommands::deleteVehicle(idOf(11)), "true"}
             .join(";\n"));
    EXPECT_TRUE(waitForGroups({49, 70})) << ::testing::PrintToString(groupCounts());
    insert(1, idOf(200), "V200", text(p11.first).c_str(), text(p11.second).c_str());
    EXPECT_TRUE(waitForGroups({50, 70})) << ::testing::PrintToString(groupCounts());
    EXPECT_EQ(eval("vehicleGroup.layer.getLayers().length").toInt(), 120);

    EXPECT_EQ(json("window.__errors"), "[]");
}

// A fleet driving while the operator zooms in, as an operator does with the
// mouse (animated): every vehicle stays in its group or on its own, and the
// place names are placed for the new view.
TEST_F(PageGroupingTest, ZoomingInWhileTheFleetDrivesKeepsEveryVehicleAndTheNames) {
    eval("window.__errors = []; window.addEventListener('error', function (e) {"
         " window.__errors.push(String(e.message)); }); true");
    auto at = [](int i, int step) {
        const double angle = i * 2.39996, radius = 0.3 * std::sqrt(i / 300.0) + step * 0.002;
        return std::make_pair(45.76 + radius * std::sin(angle), 4.84 + radius * std::cos(angle));
    };
    for (int i = 1; i <= 300; ++i) {
        const auto p = at(i, 0);
        insert(1, idOf(i), "V" + std::to_string(i), QString::number(p.first, 'f', 6).toLatin1().constData(),
               QString::number(p.second, 'f', 6).toLatin1().constData());
    }
    view(30, 0, 2);
    for (int step = 1; step <= 10; ++step) {
        QStringList burst;
        for (int i = 1; i <= 300; ++i) {
            const auto p = at(i, step);
            burst << MapCommands::moveTo(p.first, p.second, 40, 8, 0, step, 150, idOf(i));
        }
        eval(burst.join(";\n") + ";\ntrue");
        PageDocumentView::pump(100);
    }
    for (int zoom : {5, 8}) {
        SCOPED_TRACE(zoom);
        // The names are placed in the first turn after the move has ended;
        // __settled is set in the next one.
        eval(QString("window.__settled = false; map.once('moveend', function () {"
                     " setTimeout(function () { window.__settled = true; }, 0); });"
                     " map.setView([45.76, 4.84], %1, {animate: true}); true").arg(zoom));
        ASSERT_TRUE(waitUntil(QString("map.getZoom() === %1 && window.__settled").arg(zoom)));
        EXPECT_EQ(eval("vehicleGroup.layer.getLayers().length").toInt(), 300);
        // Each name's dot is on its place (names repeat: Valencia).
        const QString off = json("placedLabels().filter(function (l) {"
                                 " var i = placeLabels.names.findIndex(function (name, k) {"
                                 " return name === l.name && placeLabels.population[k] === l.population; });"
                                 " var p = map.latLngToContainerPoint([placeLabels.lat[i], placeLabels.lng[i]]);"
                                 " return Math.abs(p.x - l.dotX) > 2 || Math.abs(p.y - l.dotY) > 2;"
                                 " }).map(function (l) { return l.name; })");
        EXPECT_EQ(off, "[]");
        EXPECT_GT(eval("placeLabels.shown").toInt(), 3);
    }
    EXPECT_EQ(json("window.__errors"), "[]");
}

// Grouping follows the setting: off keeps every icon, on groups even a few.
TEST_F(PageGroupingTest, TheSettingTurnsGroupingOnOrOff) {
    for (const char* mode : {"off", "on"}) {
        SCOPED_TRACE(mode);
        PageDocument::Config config;
        config.grouping = QString::fromLatin1(mode);
        m_page = std::make_unique<PageDocumentView>(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800),
                                                    &m_listener, config);
        ASSERT_TRUE(m_page->waitLoaded());
        const int count = std::string(mode) == "off" ? 80 : 3;
        for (int i = 1; i <= count; ++i) {
            insert(1, idOf(i), "V" + std::to_string(i), "48.8566", QString::number(2.35 + i * 0.0001, 'f', 6).toLatin1().constData());
        }
        view(48.8566, 2.36, 5);
        if (std::string(mode) == "off") {
            EXPECT_TRUE(groupCounts().empty());
            EXPECT_EQ(iconsOnScreen(), 80);
        } else {
            EXPECT_EQ(groupCounts(), (std::vector<int>{3}));
            EXPECT_EQ(iconsOnScreen(), 0);
        }
    }
}

// The stored fleet as the console sends it at page load: rows of insertFleet
// between beginFleetLoad and endFleetLoad. Every vehicle gets its entry and
// its icon where inserts one by one would have put it (grouped above 50
// vehicles, each on its own below), a fix that comes while the fleet loads
// moves its vehicle, and a name stays text.
TEST_F(PageGroupingTest, TheStoredFleetInOneGoIsPlacedAsIfInsertedOneByOne) {
    struct Row {
        int vehicles;
        bool grouped;
    };
    const std::string markup = "<img src=x onerror=\"window.__hit=1\">";
    for (const Row& row : {Row{30, false}, Row{300, true}}) {
        SCOPED_TRACE(row.vehicles);
        m_page = std::make_unique<PageDocumentView>(QStringLiteral(VELMORA_IMAGES_PARENT), QSize(1280, 800),
                                                    &m_listener);
        ASSERT_TRUE(m_page->waitLoaded());
        std::vector<MapCommands::Vehicle> fleet;
        for (int i = 1; i <= row.vehicles; ++i) {
            const double angle = i * 2.39996, radius = 0.08 * std::sqrt(static_cast<double>(i) / row.vehicles);
            MapCommands::Vehicle v;
            v.id = idOf(i);
            v.name = i == 1 ? markup : "V" + std::to_string(i);
            v.lastUpdatedTime = "2026-01-31 17:05:09";
            v.lastUpdatedLatitude = QString::number(48.8566 + radius * std::sin(angle), 'f', 6).toStdString();
            v.lastUpdatedLongitude = QString::number(2.3522 + radius * std::cos(angle), 'f', 6).toStdString();
            v.company = "Depot " + std::to_string(i % 3);
            fleet.push_back(v);
        }
        const size_t half = fleet.size() / 2;
        send(MapCommands::beginFleetLoad());
        send(MapCommands::insertFleet(fleet.data(), half));
        // Vehicle 2 reports from Lyon before the rest of the fleet is in.
        send(MapCommands::moveTo(45.7640, 4.8357, 10, 12, 0, 0, 90, idOf(2)));
        send(MapCommands::insertFleet(fleet.data() + half, fleet.size() - half));
        send(MapCommands::endFleetLoad());

        EXPECT_EQ(eval("listBox.order().length").toInt(), row.vehicles);
        EXPECT_EQ(eval("iconContainer.filter(function (i) { return i._place !== 'map' && i._place !== 'group'; })"
                       ".length").toInt(), 0) << "every icon is placed";
        EXPECT_EQ(eval("vehicleGroup.on").toBool(), row.grouped);
        EXPECT_EQ(evalText(QString("findVehicle('%1').company").arg(QString::fromStdString(idOf(4)))), "Depot 1");
        view(47.3, 3.6, 5);
        if (row.grouped) {
            EXPECT_EQ(groupCounts(), std::vector<int>{row.vehicles - 1});
            EXPECT_EQ(iconsOnScreen(), 1) << "the vehicle in Lyon";
        } else {
            EXPECT_TRUE(groupCounts().empty());
            EXPECT_EQ(iconsOnScreen(), row.vehicles);
        }
        EXPECT_NE(centreOf(icon(idOf(2))).x(), -1);
        view(45.7640, 4.8357, 12);
        EXPECT_NE(centreOf(icon(idOf(2))).x(), -1) << "drawn where its fix put it";
        EXPECT_EQ(evalText(QString("listBox.vehicleName('%1')").arg(QString::fromStdString(idOf(1)))),
                  QString::fromStdString(markup));
        EXPECT_EQ(eval("document.querySelectorAll('img[src=x]').length").toInt(), 0);
        EXPECT_EQ(eval("window.__hit === undefined").toBool(), true);
    }
}

} // namespace
} // namespace velmora::test
