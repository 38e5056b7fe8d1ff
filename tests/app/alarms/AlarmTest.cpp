#include "tests/app/shell/WindowFixture.h"
#include "tests/app/hub/HubFixture.h"
#include "tests/support/GermanLocale.h"

#include "app/alarms/AlarmBell.h"
#include "app/alarms/AlarmPanel.h"
#include "app/alarms/AlarmReportDlg.h"
#include "app/alarms/AlarmSettings.h"

#include <QLineEdit>
#include <QTableWidget>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int PANIC = 13;
constexpr int G_SENSOR = 11;

// The texts of a queue row's first columns, joined by "|".
std::string row(const QTableWidget* table, int r, int columns) {
    QStringList cells;
    for (int c = 0; c < columns; ++c) {
        cells << (table->item(r, c) != nullptr ? table->item(r, c)->text() : QString());
    }
    return cells.join(QLatin1Char('|')).toStdString();
}

} // namespace

// The whole lifecycle on the real console: a panic datagram opens a row,
// the marker blinks and the sound repeats; acknowledging stops both,
// closing wants a note, and what was done is in app.db, tied to the first
// panic's event. A G-sensor alarm
// left open comes back after a restart, still blinking. Device text is
// shown as text.
TEST_F(WindowTest, PanicIsQueuedSoundedAcknowledgedClosedAndSurvivesARestart) {
    GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    startWindow();
    AlarmPanel* alarms = window->getAlarms();
    int sounds = 0;
    alarms->getBell().setOutput([&sounds] { ++sounds; });
    const std::string markup = "<img src=x onerror=alert(1)>";
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA)));
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 2", ID_B, FIX_SANTA_CLARA)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A) && vehicleOnPage(ID_B); }));
    EXPECT_TRUE(alarms->isHidden());

    // A plain event is no alarm; a panic is, and its repeats count on it.
    ASSERT_TRUE(sender.send(port, eventDatagram("Truck 1", ID_A, 0, "IN1")));
    ASSERT_TRUE(sender.send(port, eventDatagram("Truck 1", ID_A, PANIC, markup)));
    ASSERT_TRUE(sender.send(port, eventDatagram("Truck 1", ID_A, PANIC, markup)));
    ASSERT_TRUE(sender.send(port, eventDatagram("Truck 2", ID_B, G_SENSOR, "G")));
    QTableWidget* table = alarms->getTable();
    ASSERT_TRUE(waitUntil([&] { return alarms->getBook().openCount() == 2 && alarms->getBook().ordered()[0]->repeats == 1; }));
    alarms->tick();
    ASSERT_TRUE(waitUntil([&] { return table->rowCount() == 2; }));
    EXPECT_FALSE(alarms->isHidden());
    EXPECT_EQ(window->getHost().getBrowserWindow()->width() + alarms->width(), window->width());
    // Priority 1 first; the title is the device's text, not markup.
    EXPECT_EQ(row(table, 0, 4), "1|Truck 1|Panic|" + markup);
    EXPECT_EQ(table->item(0, 6)->text(), QStringLiteral("New · 2×"));
    EXPECT_EQ(table->item(1, 2)->text(), QStringLiteral("G-Sensor"));
    EXPECT_GE(sounds, 1);
    EXPECT_TRUE(alarms->getBell().isRepeating());

    const QString blinking = QStringLiteral(
        "(function (id) { var c = document.querySelector('canvas[data-vehicle=\"' + id + '\"]');"
        " var l = listBox.item(id);"
        " return (c && c.hasAttribute('data-alarm') && alarmBlink.timer !== null ? 'M' : '-')"
        " + (l && l.hasAttribute('data-alarm') ? 'L' : '-'); })('%1')");
    const auto blinks = [&](const std::string& id) { return evaluate(blinking.arg(QString::fromStdString(id))).toString(); };
    EXPECT_TRUE(waitUntil([&] { return blinks(ID_A) == QStringLiteral("ML"); }));
    EXPECT_EQ(blinks(ID_B), QStringLiteral("ML"));
    EXPECT_EQ(evaluate("document.querySelectorAll('img[src=x]').length").toInt(), 0);

    const int32_t panic = alarms->getBook().ordered()[0]->id;
    EXPECT_EQ(alarms->selectedId(), panic) << "the most urgent is chosen";
    alarms->showOnMap(panic);
    EXPECT_TRUE(waitUntil([&] { return evaluate("String(global.currentVehicle)").toString().toStdString() == ID_A; }));
    EXPECT_TRUE(alarms->acknowledge(panic));
    EXPECT_FALSE(alarms->getBell().isRepeating()) << "no priority 1 alarm is unacknowledged";
    // Page commands go out on the next turn of the event loop.
    EXPECT_TRUE(waitUntil([&] { return blinks(ID_A) == QStringLiteral("--"); }));
    EXPECT_EQ(blinks(ID_B), QStringLiteral("ML"));
    EXPECT_FALSE(alarms->close(panic)) << "a priority 1 alarm closes only with a note";
    EXPECT_NE(alarms->getMessage().indexOf(QStringLiteral("note")), -1);
    alarms->getNoteEdit()->setText(QStringLiteral("Driver called, false alarm"));
    EXPECT_TRUE(alarms->close(panic));
    EXPECT_EQ(table->rowCount(), 1);

    stopWindow();
    const std::string user = AlarmPanel::userName();
    EXPECT_EQ(queryText(appDb(),
                        "select a.id, a.event_id = (select min(id) from event_info where event_type = 13), a.priority,"
                        " a.repeat_count, a.acknowledged_by, a.closed_by, a.closed >= a.acknowledged,"
                        " a.notes like '% " + user + ": Driver called, false alarm', a.device_title"
                        " from alarm_info a where a.event_type = 13"),
              std::to_string(panic) + "|1|1|1|" + user + "|" + user + "|1|1|" + markup);
    EXPECT_EQ(queryText(appDb(), "select count(*) from alarm_info where closed is null and event_type = 11"), "1");

    startWindow();
    alarms = window->getAlarms();
    ASSERT_EQ(alarms->getBook().openCount(), 1u);
    EXPECT_EQ(alarms->getTable()->item(0, 1)->text(), QStringLiteral("Truck 2"));
    EXPECT_TRUE(waitUntil([&] { return blinks(ID_B) == QStringLiteral("ML"); }));
    // A new alarm takes the next id, not one the closed panic had.
    ASSERT_TRUE(sender.send(port, eventDatagram("Truck 1", ID_A, PANIC, "PANIC")));
    ASSERT_TRUE(waitUntil([&] { return alarms->getBook().openCount() == 2; }));
    EXPECT_GT(alarms->getBook().ordered()[0]->id, panic + 1);

    // The report reads the stored alarms on its own thread.
    AlarmReportDlg* report = window->showAlarmReport();
    ASSERT_TRUE(waitUntil([&] { return !report->isReading(); }));
    ASSERT_GE(report->getAlarms().size(), 2u) << report->getStatus().toStdString();
    EXPECT_EQ(report->getAlarms()[0].id, panic);
    EXPECT_EQ(report->getSummary()->item(0, 0)->text(), QStringLiteral("1"));
}
