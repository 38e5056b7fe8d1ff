// The watch rules end to end in the real window: the operator draws a zone
// on the map with the mouse, names it in the Zones window, a vehicle drives
// in over UDP, the Zone Entry alarm comes into the queue, and "Track" shows
// the vehicle's history with the alarm's place marked. app.db keeps the
// zone, the rule's event and the alarm naming it.
#include "tests/app/shell/WindowFixture.h"

#include "app/alarms/AlarmPanel.h"
#include "app/dialogs/ZonesDlg.h"
#include "app/hub/WatchHub.h"
#include "rules/AlarmKinds.h"
#include "tests/support/SqliteRows.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <ctime>

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string TRUCK = "3c5e7a91-2b4d-4f60-8a1c-9e0d2f4b6a83";

/// "ddmm.mmmm,N,dddmm.mmmm,E" of a place.
std::string nmeaPlace(double latitude, double longitude) {
    const auto part = [](double value, int degreeDigits) {
        const double magnitude = std::fabs(value);
        const int degrees = static_cast<int>(magnitude);
        char text[32];
        std::snprintf(text, sizeof text, "%0*d%07.4f", degreeDigits, degrees, (magnitude - degrees) * 60.0);
        return std::string(text);
    };
    return part(latitude, 2) + (latitude < 0 ? ",S," : ",N,") + part(longitude, 3) + (longitude < 0 ? ",W" : ",E");
}

/// A fix of now, in UTC both in the datagram's head and in its sentence, so
/// the device's clock is the console's and "Track" finds it.
std::string fixNow(double latitude, double longitude) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char clock[48];
    char date[48];
    std::snprintf(clock, sizeof clock, "%02d%02d%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(date, sizeof date, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    const DateTime time(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return fixDatagram("Truck 9", TRUCK,
                       gprmc(std::string("GPRMC,") + clock + ",A," + nmeaPlace(latitude, longitude) + ",0.0,0.0," +
                             date + ",,"),
                       time);
}

class ZoneAlarmTest : public WindowTest {
protected:
    QWidget* renderWidget() { return window->getHost().getBrowserWindow()->focusProxy(); }

    /// The page point of an element's centre, or of a point of the map's
    /// container; (-1, -1) when it is not shown.
    QPoint pagePoint(const QString& expression) {
        const QJsonObject at =
            QJsonDocument::fromJson(evaluate("JSON.stringify(" + expression + ")").toString().toUtf8()).object();
        if (!at.contains("x")) {
            return QPoint(-1, -1);
        }
        return QPoint(static_cast<int>(at.value("x").toDouble()), static_cast<int>(at.value("y").toDouble()));
    }
    QPoint elementCentre(const char* selector) {
        return pagePoint(QStringLiteral("(function () { var r = document.querySelector('%1').getBoundingClientRect();"
                                        " return r.width > 0 ? {x: r.left + r.width / 2, y: r.top + r.height / 2} : {};"
                                        " })()")
                             .arg(QString::fromLatin1(selector)));
    }
    QPoint mapPoint(int x, int y) {
        return pagePoint(QStringLiteral("(function () { var r = map.getContainer().getBoundingClientRect();"
                                        " return {x: r.left + %1, y: r.top + %2}; })()")
                             .arg(x)
                             .arg(y));
    }

    /// A left click as the operator makes it, once the page has seen it.
    void clickAt(QPoint at) {
        ASSERT_GE(at.x(), 0);
        const int before = evaluate("window.__ups === undefined ? (window.__ups = 0, document.addEventListener("
                                    "'mouseup', function () { ++window.__ups; }, true), 0) : window.__ups")
                               .toInt();
        QTest::mouseMove(renderWidget(), at);
        QTest::mouseClick(renderWidget(), Qt::LeftButton, Qt::NoModifier, at);
        ASSERT_TRUE(waitUntil([&] { return evaluate("window.__ups").toInt() > before; }));
    }
};

} // namespace

TEST_F(ZoneAlarmTest, AZoneDrawnOnTheMapRaisesZoneEntryAndTrackShowsWhere) {
    startWindow();
    AlarmPanel* alarms = window->getAlarms();
    evaluate("map.setView([47.37, 8.54], 15, {animate: false}); true");

    // The operator draws a circle: the control's "Circle", the centre, a
    // point on the rim.
    clickAt(elementCentre("#ZoneDrawCircle"));
    clickAt(mapPoint(400, 300));
    clickAt(mapPoint(520, 300));
    ZonesDlg* zones = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        zones = window->findChild<ZonesDlg*>();
        return zones != nullptr && zones->isVisible() && zones->selectedId() != 0;
    }));
    ASSERT_EQ(window->getWatch().getZones().size(), 1u);
    const Zone drawn = window->getWatch().getZones().begin()->second;
    EXPECT_EQ(drawn.getShape(), Zone::CIRCLE);
    EXPECT_EQ(drawn.getDwellSeconds(), Zone::DWELL_DEFAULT);

    // Named in the window, and made to count at once (no dwell).
    zones->findChild<QLineEdit*>("zoneName")->setText(QStringLiteral("Depot"));
    zones->findChild<QLineEdit*>("zoneDwell")->setText(QStringLiteral("0"));
    QTest::mouseClick(zones->findChild<QPushButton*>("zoneApply"), Qt::LeftButton);
    const Zone* depot = window->getWatch().findZone(drawn.getId());
    ASSERT_NE(depot, nullptr);
    EXPECT_EQ(depot->getName(), "Depot");
    EXPECT_EQ(depot->getDwellSeconds(), 0);
    EXPECT_TRUE(waitUntil([&] {
        return evaluate(QStringLiteral("zoneIndex['%1'] ? zoneIndex['%1'].name : ''").arg(drawn.getId())).toString() ==
               QStringLiteral("Depot");
    }));
    EXPECT_EQ(zones->getTable()->item(0, 0)->text(), QStringLiteral("Depot"));

    // A vehicle 2 km north drives into the zone.
    const GeoPoint centre = depot->getCentre();
    ASSERT_TRUE(sender.send(port, fixNow(centre.latitude + 0.018, centre.longitude)));
    ASSERT_TRUE(waitUntil([&] { return vehicleOnPage(TRUCK); }));
    EXPECT_EQ(alarms->getBook().openCount(), 0u);
    ASSERT_TRUE(sender.send(port, fixNow(centre.latitude, centre.longitude)));
    ASSERT_TRUE(waitUntil([&] { return alarms->getBook().openCount() == 1; }));
    const Alarm* alarm = alarms->getBook().ordered()[0];
    EXPECT_EQ(alarm->kind, AlarmKinds::ZONE_ENTRY);
    EXPECT_EQ(alarm->priority, 3);
    EXPECT_NE(alarm->notes.find(" rules: In zone Depot since "), std::string::npos) << alarm->notes;
    QTableWidget* table = alarms->getTable();
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 1; }));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("Truck 9"));
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("Zone Entry"));
    EXPECT_EQ(table->item(0, 3)->text(), QStringLiteral("Entered Depot"));

    // "Track": the history around the alarm, its place marked at the fix
    // that decided it. The fixes must be in app.db first.
    ASSERT_TRUE(waitUntil([&] { return queryText(appDb(), "select count(*) from gps_data") == "2"; }, 15000));
    alarms->select(alarm->id);
    QTest::mouseClick(alarms->findChild<QPushButton*>("alarmTrack"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return evaluate("!!(trackHistory && trackHistory.mark)").toBool(); }));
    EXPECT_EQ(evaluate("trackHistory.points.length").toInt(), 2);
    const QJsonObject mark = QJsonDocument::fromJson(
                                 evaluate("JSON.stringify(trackHistory.mark.getLatLng())").toString().toUtf8())
                                 .object();
    EXPECT_NEAR(mark.value("lat").toDouble(), centre.latitude, 1e-5);
    EXPECT_NEAR(mark.value("lng").toDouble(), centre.longitude, 1e-5);
    EXPECT_TRUE(evaluate("document.getElementById('TrackTitle').textContent").toString().startsWith("Truck 9"));
    EXPECT_TRUE(
        evaluate("document.querySelector('.TrackAlarmLabel').textContent").toString().startsWith("Zone Entry "));

    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select id, name, shape, dwell_seconds, alarm_on_entry from zone_info"),
              std::to_string(drawn.getId()) + "|Depot|circle|0|1");
    EXPECT_EQ(queryText(appDb(), "select e.event_type, e.device_title, e.name from alarm_info a join event_info e"
                                 " on e.id = a.event_id where a.event_type = 1001"),
              "1001|Entered Depot|Truck 9");
}
