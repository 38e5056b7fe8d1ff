// The map page in the real engine: commands go in as the console sends them
// (built by MapCommands), state is read back with script.
#include "tests/mapview/page/PageFixture.h"

#include "mapview/PageResources.h"
#include "mapview/VelmoraSchemeHandler.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

using velmora::MapCommands;
using velmora::PageDocumentView;

namespace {

using velmora::test::idOf;
using velmora::test::PageTest;

TEST_F(PageTest, SameNamesBecomeUniqueAndTheNewNameIsReported) {
    insert(1, idOf(1), "Truck");
    insert(1, idOf(2), "Truck");
    insert(0, idOf(3), "Truck");
    EXPECT_EQ(listOrder(), "[\"Truck\",\"Truck(1)\",\"Truck(2)\"]");
    ASSERT_EQ(changeNameCalls(), 2);
    EXPECT_EQ(m_listener.calls[0].second, idOf(2) + "|Truck(1)");
    EXPECT_EQ(m_listener.calls[1].second, idOf(3) + "|Truck(2)");
    // A vehicle keeps its own name on update; it is taken only by others.
    send(MapCommands::updateVehicle("1", "2", idOf(1), "Truck", "t"));
    send(MapCommands::updateVehicle("1", "2", idOf(3), "Truck", "t"));
    EXPECT_EQ(listOrder(), "[\"Truck\",\"Truck(1)\",\"Truck(2)\"]");
    // Only the new vehicle (flag 0) is announced in the event list.
    EXPECT_EQ(json("Array.prototype.map.call(document.querySelectorAll('#EventPopup .EventLine'), "
                   "function (e) { return e.textContent; })"),
              "[\"Truck(2) is added\"]");
    // A name is free again once its vehicle is deleted or renamed by its
    // device; names are device text, whatever they spell.
    send(MapCommands::deleteVehicle(idOf(1)));
    send(MapCommands::updateVehicle("1", "2", idOf(2), "Bus", "t"));
    insert(1, idOf(4), "Truck");
    insert(1, idOf(5), "Truck");
    insert(1, idOf(6), "constructor");
    insert(1, idOf(7), "constructor");
    insert(1, idOf(8), "__proto__");
    insert(1, idOf(9), "__proto__");
    EXPECT_EQ(json("listBox.order().map(function (id) { return listBox.vehicleName(id); }).sort()"),
              "[\"Bus\",\"Truck\",\"Truck(1)\",\"Truck(2)\",\"__proto__\",\"__proto__(1)\",\"constructor\","
              "\"constructor(1)\"]");
    EXPECT_EQ(evalText(QString("listBox.vehicleName('%1')").arg(QString::fromStdString(idOf(5)))), "Truck(1)");
}

// The page holds up to 5001 records (it stops once it holds more than 5000);
// the next vehicle still gets its icon. The first 5001 go in through the
// page function itself, in one script, to keep the test quick.
TEST_F(PageTest, TheVehicleAfterTheLimitGetsAnIconButNoListEntryOrRecord) {
    ASSERT_EQ(eval("MAX_VEHICLES").toInt(), 5000);
    m_page->evaluate("(function () { for (var i = 1; i <= 5001; ++i) {"
         " var id = '{00000000-0000-4000-8000-' + String(i).padStart(12, '0') + '}';"
         " insertVehicle(1, String(37 + (i % 71) * 0.01), String(-122 - (i % 67) * 0.01), id, 'V' + i, '');"
         " } return true; })()",
                     60000);
    insert(1, idOf(5002), "V5002");
    EXPECT_EQ(eval("vehicleContainer.length").toInt(), 5001);
    EXPECT_EQ(eval("listBox.order().length").toInt(), 5001);
    EXPECT_EQ(eval("iconContainer.length").toInt(), 5002);
    EXPECT_EQ(eval(QString("findVehicle('%1') === null && vehicleIconShown(iconIndex['%1'])")
                       .arg(QString::fromStdString(idOf(5002)))),
              QVariant(true));
    // Deleted records still count: the freed place is not given away.
    send(MapCommands::deleteVehicle(idOf(5)));
    insert(1, idOf(5003), "V5003");
    EXPECT_EQ(eval("listBox.order().length").toInt(), 5000);
}

TEST_F(PageTest, TimeoutMarkAppearsAfterThePeriodAndHidesOnTheNextUpdate) {
    insert(1, idOf(1), "Quiet");
    insert(1, idOf(2), "Busy");
    const QString mark = "listBox.item('%1').timeoutMark.style.display";
    const QString quiet = QString::fromStdString(idOf(1));
    send("resetTimeout(0.02);"); // 1.2 s: long enough to look before it ends on a busy machine
    send("resetTimeout(0.02);"); // the same period changes nothing
    EXPECT_EQ(evalText(mark.arg(quiet)), "none");
    ASSERT_TRUE(waitUntil(mark.arg(quiet) + " === 'inline'"));
    EXPECT_EQ(evalText("listBox.item('" + quiet + "').timeoutMark.getAttribute('src')"), "images/icon_timeout.png");
    // A user-defined update keeps the state; a device update clears it.
    send(MapCommands::updateVehicleName(idOf(1), "Quiet"));
    EXPECT_EQ(evalText(mark.arg(quiet)), "inline");
    send(MapCommands::updateVehicle("37.5", "-122.1", idOf(1), "Quiet", "2026-01-31 17:06:00"));
    EXPECT_EQ(evalText(mark.arg(quiet)), "none");
    send(MapCommands::moveTo(37.5, -122.1, 3, 17, 6, 0, 90, idOf(1)));
    EXPECT_EQ(evalText(mark.arg(quiet)), "none");
}

TEST_F(PageTest, SortOrdersByNameWithoutCaseAndEqualNamesGreaterFirst) {
    const char* names[] = {"bravo", "Alpha", "charlie", "ALPHA", "alpha", "Bravo 2", "10 Zulu"};
    int n = 0;
    for (const char* name : names) {
        insert(1, idOf(++n), name);
    }
    send(MapCommands::sortVehicleList());
    EXPECT_EQ(listOrder(), "[\"10 Zulu\",\"alpha\",\"Alpha\",\"ALPHA\",\"bravo\",\"Bravo 2\",\"charlie\"]");
    // From the page: only the left button sorts.
    insert(1, idOf(++n), "aardvark");
    ASSERT_TRUE(click("#ListTitle", Qt::RightButton));
    EXPECT_EQ(eval("listBox.vehicleName(listBox.order()[0])").toString(), "10 Zulu");
    EXPECT_EQ(eval("listBox.vehicleName(listBox.order()[7])").toString(), "aardvark");
    ASSERT_TRUE(click("#ListTitle"));
    EXPECT_EQ(eval("listBox.vehicleName(listBox.order()[1])").toString(), "aardvark");
}

TEST_F(PageTest, EventListKeepsSeventeenLinesAndReopensAt150High) {
    insert(1, idOf(1), "Bus");
    for (int i = 0; i < 20; ++i) {
        send(MapCommands::updateEventInfo(i % 14, "Bus", "2026-01-31 17:05:09", "cam " + std::to_string(i), idOf(1)));
    }
    EXPECT_EQ(eval("eventPopup.lineCount()").toInt(), 17);
    EXPECT_EQ(evalText("document.getElementById('EventPopup').style.height"), "294px");
    // Newest on top; the three oldest went first.
    EXPECT_EQ(evalText("document.querySelector('#EventPopup .EventLine').textContent"), "Bus S.M.A.R.T. Temperature (cam 19)");
    EXPECT_EQ(evalText("document.querySelector('#EventPopup .EventLine:last-child').textContent"),
              "Bus Text-In (cam 3)");
    ASSERT_TRUE(click("#EventPopup .CloseRow img"));
    EXPECT_EQ(evalText("document.getElementById('EventPopup').style.display"), "none");
    send(MapCommands::updateEventInfo(6, "Bus", "2026-01-31 17:05:09", " ", idOf(1)));
    EXPECT_EQ(evalText("document.getElementById('EventPopup').style.display"), "block");
    EXPECT_EQ(evalText("document.getElementById('EventPopup').style.height"), "150px");
    EXPECT_EQ(eval("eventPopup.lineCount()").toInt(), 1);
    // A title of one blank adds no parentheses; the icon name has its blank.
    EXPECT_EQ(evalText("document.querySelector('#EventPopup .EventLine').textContent"), "Bus Record Bad");
    EXPECT_EQ(evalText("document.querySelector('#EventPopup .EventLine img').getAttribute('src')"),
              "images/icon_record bad.png");
    // The list entry shows the event's icon with its name as tooltip text.
    EXPECT_EQ(evalText("listBox.item('" + QString::fromStdString(idOf(1)) + "').eventIcon.eventName"), "Record Bad");
}

TEST_F(PageTest, TrackKeepsTheLatest1001PointsAndCourseMinusOneKeepsTheRotation) {
    insert(1, idOf(1), "Runner", "", "");
    EXPECT_EQ(eval("findVehicle('" + QString::fromStdString(idOf(1)) + "').track.length").toInt(), 0);
    QStringList lines;
    for (int i = 0; i < 1500; ++i) {
        lines << MapCommands::moveTo(10 + i * 0.001, 20, 5, 0, 0, 0, 90, idOf(1));
    }
    send(lines);
    const QString v = "findVehicle('" + QString::fromStdString(idOf(1)) + "')";
    EXPECT_EQ(eval(v + ".track.length").toInt(), 1001);
    EXPECT_NEAR(eval(v + ".track[0].lat").toDouble(), 10 + 499 * 0.001, 1e-9);
    EXPECT_NEAR(eval(v + ".track[1000].lat").toDouble(), 10 + 1499 * 0.001, 1e-9);
    const QString angle = "iconIndex['" + QString::fromStdString(idOf(1)) + "'].getAngle()";
    EXPECT_NEAR(eval(angle).toDouble(), M_PI / 2, 1e-9);
    send(MapCommands::moveTo(11, 20, 5, 0, 0, 0, -1, idOf(1)));
    EXPECT_NEAR(eval(angle).toDouble(), M_PI / 2, 1e-9);
    send(MapCommands::moveTo(11, 20, 5, 0, 0, 0, 0, idOf(1)));
    EXPECT_NEAR(eval(angle).toDouble(), 0, 1e-9);
    // The selected vehicle's track is the polyline.
    ASSERT_TRUE(click(entry(idOf(1))));
    EXPECT_EQ(eval("trackLine.getLatLngs().length").toInt(), 1001);
    EXPECT_EQ(eval("map.hasLayer(trackLine)"), QVariant(true));
    ASSERT_TRUE(click("#TrackingButton"));
    EXPECT_EQ(eval("map.hasLayer(trackLine)"), QVariant(false));
}

TEST_F(PageTest, DeleteVehicleReportsTheNameAndRemovesEverything) {
    insert(1, idOf(1), "Doomed");
    insert(1, idOf(2), "Doomed");
    const QString id = QString::fromStdString(idOf(2));
    ASSERT_TRUE(click(icon(idOf(2)))); // on top of the first one
    EXPECT_EQ(evalText("document.getElementById('ContextMenu').style.display"), "block");
    EXPECT_EQ(evalText("global.currentVehicle"), id);
    send(MapCommands::deleteVehicle(idOf(2)));
    ASSERT_EQ(changeNameCalls(), 2);
    // The page's other calls (the view it reports) may come after it.
    EXPECT_EQ(lastCall("onChangeName"), idOf(2) + "|Doomed(1)");
    EXPECT_EQ(eval("listBox.item('" + id + "') === null && !document.getElementById('" + id + "')"), QVariant(true));
    EXPECT_EQ(eval("vehicleIndex['" + id + "'].deleted && vehicleIndex['" + id + "'].track.length === 0"),
              QVariant(true));
    EXPECT_EQ(eval("document.querySelectorAll('img.VehicleIcon').length").toInt(), 1);
    EXPECT_EQ(evalText("document.getElementById('ContextMenu').style.display"), "none");
    EXPECT_EQ(evalText("document.getElementById('Address').textContent"), "");
    EXPECT_EQ(eval("map.hasLayer(trackLine)"), QVariant(false));
    // Later commands for it do nothing; its name is free again.
    send(MapCommands::moveTo(1, 1, 1, 0, 0, 0, 1, idOf(2)));
    send(MapCommands::updateEventInfo(1, "Doomed", "t", "x", idOf(2)));
    EXPECT_EQ(eval("eventPopup.lineCount()").toInt(), 0);
    insert(1, idOf(3), "Doomed");
    EXPECT_EQ(listOrder(), "[\"Doomed\",\"Doomed(1)\"]");
}

TEST_F(PageTest, PopupShowsSpeedInKmhAndMphAndPositionsInDegreesMinutesSeconds) {
    insert(1, idOf(1), "Popup");
    send(MapCommands::updateOptionalInfo(idOf(1), "Popup", "Acme", "Volvo", "FH", "AB-123", "", "C"));
    send(MapCommands::moveTo(37.4419, -122.143, 10, 0, 0, 0, 45, idOf(1)));
    ASSERT_TRUE(click(icon(idOf(1))));
    struct Row {
        const char* field;
        const char* text;
    };
    const Row rows[] = {
        {"Speed", "18.52km/h (11.51 mph)"},
        {"Latitude", "37\u00B026'30.84\"N"},
        {"Longitude", "122\u00B08'34.80\"W"},
        {"Company Name", "Acme"},
        {"Registration Number", "AB-123"},
        {"Driver Name", "Driver Name"}, // empty: the label stands in
        {"Vehicle Maker", "Volvo"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(evalText(QString("contextMenu.getItem('%1')").arg(QString::fromUtf8(row.field))),
                  QString::fromUtf8(row.text))
            << row.field;
    }
    // The popup follows the vehicle it shows.
    send(MapCommands::moveTo(-0.5, 0.25, 0, 0, 0, 0, -1, idOf(1)));
    EXPECT_EQ(evalText("contextMenu.getItem('Latitude')"), QString::fromUtf8("0\u00B030'0.00\"S"));
    EXPECT_EQ(evalText("contextMenu.getItem('Longitude')"), QString::fromUtf8("0\u00B015'0.00\"E"));
    EXPECT_EQ(evalText("contextMenu.getItem('Speed')"), "0.00km/h (0.00 mph)");
    // Expanding makes it 327 high, collapsing 184.
    ASSERT_TRUE(click("#ContextMenu .MoreButton"));
    EXPECT_EQ(evalText("document.getElementById('ContextMenu').style.height"), "327px");
    ASSERT_TRUE(click("#ContextMenu .MoreButton"));
    EXPECT_EQ(evalText("document.getElementById('ContextMenu').style.height"), "184px");
}

TEST_F(PageTest, SelectionWritesTheGeocodedAddress) {
    insert(1, idOf(1), "Palo", "37.4419", "-122.143");
    ASSERT_TRUE(click(entry(idOf(1))));
    QString address;
    for (int i = 0; i < 50 && address.isEmpty(); ++i) {
        PageDocumentView::pump(50);
        address = evalText("document.getElementById('Address').textContent");
    }
    EXPECT_EQ(address, "Palo Alto, California, United States");
    EXPECT_EQ(evalText("iconIndex['" + QString::fromStdString(idOf(1)) + "'].getImage()"), "images/point_select.png");
}

// Device and operator text is shown as text: nothing in it runs or becomes
// an element.
TEST_F(PageTest, HostileTextIsShownNeverParsed) {
    const std::string hostile[] = {
        "<img src=x onerror=window.__pwned=1>",
        "</div><script>window.__pwned=2</script>",
        "\"><svg onload=window.__pwned=3>",
        "O'Brien\\Co <b>bold</b>",
    };
    int n = 0;
    for (const std::string& text : hostile) {
        std::string id = idOf(++n);
        insert(0, id, text);
        send(MapCommands::updateOptionalInfo(id, text, text, text, text, text, text, text));
        send(MapCommands::updateEventInfo(1, text, "2026-01-31 17:05:09", text, id));
        send(QStringLiteral("updateUserDefinedInfo(%1, %2, %2, %2, %2)")
                 .arg(QString::fromStdString("'" + id + "'"), "'" + MapCommands::escape(text) + "'"));
        send("onVehicleIconClick('" + QString::fromStdString(id) + "', {button: 0, clientX: 1, clientY: 1});");
        send("showTooltip({clientX: 3, clientY: 3}, '" + MapCommands::escape(text) + "');");
    }
    PageDocumentView::pump(300);
    EXPECT_EQ(evalText("typeof window.__pwned"), "undefined");
    EXPECT_EQ(eval("document.querySelectorAll('#ListBox b, #ListBox svg, #ListBox script, #EventPopup b, "
                   "#EventPopup svg, #ContextMenu b, #ContextMenu svg, #Tooltip b, img[src=x]').length")
                  .toInt(),
              0);
    // Each name reads back exactly (the list names are unique already).
    QString names = listOrder();
    for (const std::string& text : hostile) {
        QString expected = QString::fromUtf8(QJsonDocument(QJsonArray{QString::fromStdString(text)})
                                                 .toJson(QJsonDocument::Compact))
                               .mid(1)
                               .chopped(1);
        EXPECT_TRUE(names.contains(expected)) << names.toStdString() << " lacks " << text;
    }
    EXPECT_EQ(evalText("contextMenu.vehicleName()"), QString::fromStdString(hostile[3]));
    EXPECT_EQ(evalText("document.querySelector('#ContextMenu .VehicleImage').getAttribute('src')"),
              QString::fromStdString(hostile[3]));
    EXPECT_EQ(evalText("document.querySelector('#Tooltip div').textContent"), QString::fromStdString(hostile[3]));
}

// The page's policy: no script but its own runs, however it got into the
// document; it reaches no web host it was not configured with and reads no
// local file; its own pictures (file:) still show.
TEST_F(PageTest, ThePageRunsOnlyItsOwnScriptsAndReachesOnlyItsOwnSources) {
    QTcpServer web;
    ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
    int connections = 0;
    QObject::connect(&web, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = web.nextPendingConnection()) {
            ++connections;
            socket->close();
            socket->deleteLater();
        }
    });
    QTemporaryDir dir;
    QFile secret(dir.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();

    send(QStringLiteral(
        "var s = document.createElement('script'); s.textContent = 'window.__inline = 1;';"
        " document.body.appendChild(s);"
        "var d = document.createElement('div'); d.innerHTML = '<img src=\"data:,x\" onerror=\"window.__handler = 1\">';"
        " document.body.appendChild(d);"
        "var i = new Image(); i.src = 'http://127.0.0.1:%1/tile.png'; document.body.appendChild(i);"
        "window.__read = 'refused';"
        "try { var x = new XMLHttpRequest(); x.open('GET', '%2', false); x.send(); window.__read = x.responseText; }"
        " catch (e) {}")
             .arg(web.serverPort())
             .arg(QUrl::fromLocalFile(secret.fileName()).toString()));
    PageDocumentView::pump(500);
    EXPECT_EQ(evalText("typeof window.__inline"), "undefined");
    EXPECT_EQ(evalText("typeof window.__handler"), "undefined");
    EXPECT_EQ(connections, 0) << "a host the page was not configured with was asked";
    EXPECT_NE(evalText("window.__read"), "secret");
    EXPECT_EQ(eval("document.getElementById('SetupButton').complete &&"
                   " document.getElementById('SetupButton').naturalWidth > 0"),
              QVariant(true));
}

TEST_F(PageTest, PageSizeLaysOutListToolbarAndMap) {
    send(MapCommands::setPageSize(1000, 700));
    EXPECT_EQ(json("[document.getElementById('Toolbar').style.width, document.getElementById('map').style.width, "
                   "document.getElementById('map').style.height, document.getElementById('EventPopup').style.left]"),
              "[\"795px\",\"800px\",\"673px\",\"680px\"]");
    ASSERT_TRUE(click("#HideListButton"));
    EXPECT_EQ(json("[document.getElementById('Toolbar').style.width, document.getElementById('map').style.width, "
                   "document.getElementById('ShowListButton').style.display]"),
              "[\"995px\",\"1000px\",\"block\"]");
    // The context menu: Edit switches list tooltips off and asks the console.
    ASSERT_TRUE(click("#ShowListButton"));
    insert(1, idOf(1), "Menu");
    ASSERT_TRUE(click(entry(idOf(1)), Qt::RightButton));
    ASSERT_TRUE(click("#VehicleContextMenu [data-item=edit]"));
    EXPECT_EQ(eval("global.tooltipEnabled"), QVariant(false));
    send(MapCommands::enableTooltip());
    EXPECT_EQ(eval("global.tooltipEnabled"), QVariant(true));
    EXPECT_TRUE(waitForCall({"onClickEdit", idOf(1)}));
}

TEST_F(PageTest, UserAndDeviceUpdatesRefreshTheOpenPopup) {
    insert(1, idOf(1), "Alpha");
    insert(1, idOf(2), "Beta", "40.7128", "-74.006"); // its icon apart from Alpha's
    const QString a = QString::fromStdString(idOf(1));
    ASSERT_TRUE(click(icon(idOf(1))));
    send(MapCommands::updateOptionalInfo(idOf(1), "Alpha", "", "MAN", "TGX", "", "Eve", ""));
    EXPECT_EQ(evalText("contextMenu.getItem('Company Name')"), "Company"); // the label stands in
    EXPECT_EQ(evalText("contextMenu.getItem('Driver Name')"), "Eve");
    EXPECT_EQ(evalText("contextMenu.getItem('Vehicle Model')"), "TGX");
    // The operator renames it to a taken name: made unique, reported, shown.
    send(QStringLiteral("updateUserDefinedInfo('%1', 'Beta', 'first', 'second', 'pics/a.png')").arg(a));
    EXPECT_EQ(evalText("contextMenu.vehicleName()"), "Beta(1)");
    EXPECT_EQ(evalText("contextMenu.getItem('Info1')"), "first");
    EXPECT_EQ(evalText("document.querySelector('#ContextMenu .VehicleImage').getAttribute('src')"), "pics/a.png");
    EXPECT_EQ(listOrder(), "[\"Beta(1)\",\"Beta\"]");
    ASSERT_EQ(changeNameCalls(), 1);
    EXPECT_EQ(lastCall("onChangeName"), idOf(1) + "|Beta(1)");
    // An empty name stays empty (it is not made unique).
    send(QStringLiteral("updateUserDefinedInfo('%1', '', '', '', '')").arg(a));
    EXPECT_EQ(evalText("contextMenu.vehicleName()"), "");
    EXPECT_EQ(evalText("document.querySelector('#ContextMenu .VehicleImage').getAttribute('src')"),
              "images/user_blank.png");
    // An event line of an unknown kind has no icon; a click on a line selects its vehicle.
    send(MapCommands::updateEventInfo(99, "Beta", "t", "odd", idOf(2)));
    EXPECT_EQ(evalText("document.querySelector('#EventPopup .EventLine').className"), "EventLine noicon");
    ASSERT_TRUE(click("#EventPopup .EventLine"));
    EXPECT_EQ(evalText("global.currentVehicle"), QString::fromStdString(idOf(2)));
    EXPECT_EQ(evalText("contextMenu.vehicleName()"), "Beta"); // refreshed, not shown anew
    // A changed period restarts every timer; unknown ids change nothing.
    send("resetTimeout(10); resetTimeout(20);");
    EXPECT_EQ(eval("global.timeout").toInt(), 20 * 60000);
    EXPECT_GT(eval("silenceWatch.due.get('" + a + "') - performance.now()").toDouble(), 19 * 60000.0);
    send(MapCommands::moveTo(1, 1, 1, 0, 0, 0, 1, "{nobody}"));
    send(MapCommands::deleteVehicle("{nobody}"));
    EXPECT_EQ(eval("listBox.order().length").toInt(), 2);
}

} // namespace

namespace {

// A vehicle the page holds already may be inserted again (the fleet is sent
// once more); an empty position then means "not known yet", not bad input.
TEST_F(PageTest, InsertingAKnownVehicleAgainUpdatesNameAndTimeWithoutAlerts) {
    struct Row {
        const char* firstLat;
        const char* firstLng;
        const char* lat;
        const char* lng;
        bool onMap;            // the icon is on the map afterwards
        const char* position;  // the record's position afterwards, "0" when unknown
    };
    const Row rows[] = {
        {"", "", "", "", false, "0"},
        {"", "", "", "12.5", false, "0"},
        {"", "", "12.5", "", false, "0"},
        {"1.5", "2.5", "", "", true, "1.5,2.5"},   // the marker stays where it was
        {"", "", "3.25", "4.75", false, "3.25,4.75"},
    };
    eval("window.__alerts = []; window.alert = function (text) { window.__alerts.push(String(text)); }; true");
    int n = 0;
    for (const Row& row : rows) {
        const std::string id = idOf(++n);
        const QString qid = QString::fromStdString(id);
        SCOPED_TRACE(std::string("second insert at '") + row.lat + "', '" + row.lng + "' after '" + row.firstLat +
                     "', '" + row.firstLng + "'");
        MapCommands::Vehicle v;
        v.id = id;
        v.name = "First " + std::to_string(n);
        v.lastUpdatedTime = "2026-01-31 17:05:09";
        v.lastUpdatedLatitude = row.firstLat;
        v.lastUpdatedLongitude = row.firstLng;
        send(MapCommands::insertVehicle(1, v));
        v.name = "Second " + std::to_string(n);
        v.lastUpdatedTime = "2026-02-01 08:00:00";
        v.lastUpdatedLatitude = row.lat;
        v.lastUpdatedLongitude = row.lng;
        send(MapCommands::insertVehicle(1, v));
        EXPECT_EQ(json("window.__alerts"), "[]");
        EXPECT_EQ(evalText("listBox.vehicleName('" + qid + "')"), QString::fromStdString(v.name));
        EXPECT_EQ(evalText("findVehicle('" + qid + "').vehicleName"), QString::fromStdString(v.name));
        EXPECT_EQ(evalText("findVehicle('" + qid + "').updateTime"), "2026-02-01 08:00:00");
        EXPECT_EQ(evalText("(function (p) { return p ? p.lat + ',' + p.lng : '0'; })(findVehicle('" + qid +
                           "').latlng)"),
                  row.position);
        EXPECT_EQ(eval("map.hasLayer(iconIndex['" + qid + "'])"), QVariant(row.onMap));
        if (row.onMap) {
            EXPECT_EQ(evalText("(function (p) { return p.lat + ',' + p.lng; })(iconIndex['" + qid +
                               "'].getLatLng())"),
                      "1.5,2.5");
        }
        eval("window.__alerts = []; true");
    }
    EXPECT_EQ(eval("listBox.order().length").toInt(), n);
}

} // namespace

namespace {

// The address line is answered later than the selection asks for it. When
// the vehicle is removed, or runs off the map, before the answer is in, the
// cleared line must stay clear: the answer is about a place the operator no
// longer looks at.
TEST_F(PageTest, ALateGeocoderAnswerCannotWriteBackAClearedAddress) {
    // The real geocoder's answer, held back in the page as if still on its
    // way; the counter tells the test that it has run.
    m_page->getHost().getSchemeHandler()->registerProvider(
        "geocode", [](const QUrl& url, velmora::VelmoraSchemeHandler::Reply& reply) {
            if (!velmora::PageResources::answerGeocode(url, reply)) {
                return false;
            }
            reply.body = "setTimeout(function () { " + reply.body +
                         " window.__answers = (window.__answers || 0) + 1; }, 400);\n";
            return true;
        });
    struct Row {
        const char* meanwhile;
        std::function<void(const std::string& id)> act;
        const char* address;
    };
    const Row rows[] = {
        {"nothing", [](const std::string&) {}, "Palo Alto, California, United States"},
        {"the vehicle is removed", [this](const std::string& id) { send(MapCommands::deleteVehicle(id)); }, ""},
        {"the vehicle runs off the map",
         [this](const std::string& id) {
             ASSERT_EQ(eval("map.getBounds().contains([-84, 0])"), QVariant(false));
             send(MapCommands::moveTo(-84, 0, 3, 0, 0, 0, 180, id));
         },
         ""},
        {"nothing, once more", [](const std::string&) {}, "Palo Alto, California, United States"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.meanwhile);
        const std::string id = idOf(++n);
        insert(1, id, "Car " + std::to_string(n));
        eval("setAddress(''); true");
        ASSERT_TRUE(click(entry(id)));
        row.act(id);
        bool answered = false;
        for (int i = 0; i < 200 && !answered; ++i) {
            PageDocumentView::pump(10);
            answered = eval("window.__answers || 0").toInt() >= n;
        }
        ASSERT_TRUE(answered) << "the geocoder never answered";
        EXPECT_EQ(evalText("document.getElementById('Address').textContent"), row.address);
    }
}

} // namespace

namespace {

// The time-out mark says "no word from the device for a while". An operator
// renaming the vehicle is no word from the device: it must not postpone the
// mark, while every device update does.
TEST_F(PageTest, OperatorRenamesDoNotPostponeTheTimeoutMark) {
    struct Row {
        const char* update;
        std::function<QString(const std::string& id)> command;
        bool postpones;
    };
    // The updates that postpone come first: a vehicle heard again must not
    // keep its place ahead of the silent ones that were inserted after it.
    const Row rows[] = {
        {"updateVehicle",
         [](const std::string& id) { return MapCommands::updateVehicle("37.5", "-122.1", id, "Moved", "t"); }, true},
        {"updateOptionalInfo",
         [](const std::string& id) { return MapCommands::updateOptionalInfo(id, "Told", "c", "m", "x", "r", "d", "l"); },
         true},
        {"updateEventInfo", [](const std::string& id) { return MapCommands::updateEventInfo(1, "Alarmed", "t", " ", id); },
         true},
        {"updateVehicleName", [](const std::string& id) { return MapCommands::updateVehicleName(id, "Renamed"); },
         false},
        {"updateUserDefinedInfo",
         [](const std::string& id) { return MapCommands::updateUserDefinedInfo(id, "Edited", "a", "b", ""); }, false},
    };
    const int n = static_cast<int>(std::size(rows));
    for (int i = 0; i < n; ++i) {
        insert(1, idOf(i + 1), "Unit " + std::to_string(i + 1));
    }
    // When each mark first shows, by the page's own clock.
    eval("window.__marked = {}; new MutationObserver(function (records) { records.forEach(function (r) {"
         " var mark = r.target; if (mark.className === 'TimeoutMark' && mark.style.display === 'inline'"
         " && !(mark.parentNode.id in __marked)) __marked[mark.parentNode.id] = performance.now(); });"
         " }).observe(document.getElementById('ListBox'), {attributes: true, subtree: true, attributeFilter:"
         " ['style']}); true");
    // A period long enough that the updates land inside it on a busy machine.
    const int period = 3000;
    send("resetTimeout(0.05); window.__started = performance.now();");
    PageDocumentView::pump(1000);
    send("window.__updating = performance.now();");
    for (int i = 0; i < n; ++i) {
        send(rows[i].command(idOf(i + 1)));
    }
    send("window.__updated = performance.now();");
    const double updating = eval("__updating - __started").toDouble();
    ASSERT_LT(eval("__updated - __started").toDouble(), period - 20)
        << "the updates came after the first time-out: nothing to tell apart";
    bool allMarked = false;
    for (int i = 0; i < 800 && !allMarked; ++i) {
        PageDocumentView::pump(10);
        allMarked = eval("Object.keys(__marked).length").toInt() == n;
    }
    ASSERT_TRUE(allMarked) << json("__marked").toStdString();
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(rows[i].update);
        const QString id = QString::fromStdString(idOf(i + 1));
        const double marked = eval("__marked['" + id + "'] - __started").toDouble();
        // Timers never fire early: a timer restarted by the update fires a
        // whole period after it at the soonest; one left alone fires sooner.
        if (rows[i].postpones) {
            EXPECT_GE(marked, updating + period - 2);
        } else {
            EXPECT_LT(marked, updating + period - 2);
        }
        EXPECT_NE(evalText("listBox.vehicleName('" + id + "')"), "Unit " + QString::number(i + 1));
    }
}

} // namespace
