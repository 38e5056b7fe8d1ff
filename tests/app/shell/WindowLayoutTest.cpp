// The main window's size and panels through the real window on a 1920x1080
// screen: the first start, the start after it, and the map beside the alarm
// queue.
#include "tests/app/shell/WindowFixture.h"
#include "tests/app/hub/HubFixture.h"

#include "app/alarms/AlarmBell.h"
#include "app/alarms/AlarmPanel.h"
#include "app/shell/AlarmStrip.h"
#include "tests/support/QStringPrinting.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QToolButton>

#include <cstdio>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int PANIC = 13;

std::string vehicleId(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "5e1f0c2a-0000-4000-8000-%012d", n);
    return text;
}

} // namespace

// A first start takes about 85% of the screen's free area, centred. The
// stop keeps size, place and the alarm queue's fold in setup.db, and the
// next start puts the window back as it was left.
TEST_F(WindowTest, FirstStartFillsMostOfTheScreenAndTheNextOpensAsLeft) {
    startWindow();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(window->width(), area.width() * 0.85, 2);
    EXPECT_NEAR(window->height(), area.height() * 0.85, 2);
    EXPECT_NEAR(window->geometry().center().x(), area.center().x(), 2);
    EXPECT_NEAR(window->geometry().center().y(), area.center().y(), 2);
    EXPECT_EQ(evaluate("global.width").toInt(), window->width()) << "no alarms: the map has the whole width";

    const QRect left(100, 60, 1200, 800);
    window->setGeometry(left);
    window->setAlarmsFolded(true);
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == left; }, 3000)) << window->geometry().x();
    stopWindow();

    startWindow();
    EXPECT_EQ(window->geometry(), left);
    EXPECT_TRUE(window->areAlarmsFolded());
    EXPECT_EQ(evaluate("global.width").toInt(), 1200);
}

// Ten open alarms: the queue is a side panel the operator can widen, but
// the map keeps at least half the width at any window size. Folded, the
// queue leaves its count above the map, which then has the whole width; a
// new alarm marks the count until the queue is shown again, at the width
// it was left at.
TEST_F(WindowTest, TheMapKeepsAtLeastHalfTheWidthBesideTheAlarmQueue) {
    startWindow();
    AlarmPanel* alarms = window->getAlarms();
    alarms->getBell().setOutput([] {});
    for (int n = 1; n <= 10; ++n) {
        ASSERT_TRUE(sender.send(port, fixDatagram("Truck " + std::to_string(n), vehicleId(n), FIX_SANTA_CLARA)));
    }
    ASSERT_TRUE(waitUntil([&] { return vehicleOnPage(vehicleId(10)); }));
    // Looked at by the operator: each alarm has a row of its own.
    for (int n = 1; n <= 10; ++n) {
        window->getAdmission().review(UniqueID(vehicleId(n).c_str()));
    }
    // The window a first start opens on a 1024x620 screen: the queue comes
    // at a third of it, not half, beside the map and its vehicle list.
    const QSize firstStart = window->size();
    window->resize(870, 527);
    pump(50);
    for (int n = 1; n <= 10; ++n) {
        ASSERT_TRUE(sender.send(port, eventDatagram("Truck " + std::to_string(n), vehicleId(n), PANIC, "PANIC")));
    }
    AlarmStrip* strip = window->getAlarmStrip();
    // The queue's count follows its redraw, a moment after the alarms.
    ASSERT_TRUE(waitUntil([&] { return strip->getButton()->text() == QStringLiteral("Alarms (10)"); }));
    EXPECT_FALSE(alarms->isHidden());
    EXPECT_FALSE(strip->isHidden());

    QWidget* map = window->getHost().getBrowserWindow();
    QSplitter* splitter = window->getSplitter();
    pump(50);
    // The count of open alarms is never cut, however narrow the queue.
    const auto expectWholeCount = [alarms] {
        const QLabel* title = alarms->findChild<QLabel*>(QStringLiteral("alarmTitle"));
        const QWidget* mute = alarms->findChild<QWidget*>(QStringLiteral("alarmMute"));
        EXPECT_EQ(title->text(), QStringLiteral("10 open alarms"));
        EXPECT_GE(title->width(), title->sizeHint().width()) << "at a queue " << alarms->width() << " wide";
        EXPECT_FALSE(title->geometry().intersects(mute->geometry()));
        for (const char* name : {"alarmAcknowledge", "alarmShow", "alarmTrack", "alarmClose", "alarmSelectSender",
                                 "alarmDeleteSender", "alarmReport"}) {
            const QWidget* button = alarms->findChild<QWidget*>(QString::fromLatin1(name));
            EXPECT_GE(button->width(), button->sizeHint().width()) << name << " is cut";
        }
    };
    expectWholeCount();
    EXPECT_GE(map->width(), window->width() * 2 / 3 - splitter->handleWidth());
    EXPECT_GE(alarms->width(), VelmoraDlg::ALARMS_MIN_WIDTH);
    const QSize sizes[] = {firstStart, QSize(VelmoraDlg::MINIMUM_WIDTH, VelmoraDlg::MINIMUM_HEIGHT),
                           QSize(1900, 1000)};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        window->resize(size);
        pump(50);
        EXPECT_GE(map->width(), window->width() / 2);
        EXPECT_GE(alarms->width(), VelmoraDlg::ALARMS_MIN_WIDTH);
        // The operator drags the handle far to the left.
        QWidget* handle = splitter->handle(1);
        const QPoint grip(handle->width() / 2, handle->height() / 2);
        QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
        QTest::mouseMove(handle, grip - QPoint(window->width(), 0));
        QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip - QPoint(window->width(), 0));
        // ... or the sizes are set outright.
        splitter->setSizes({window->width() / 10, window->width()});
        pump(50);
        EXPECT_GE(map->width(), window->width() / 2);
        EXPECT_GT(alarms->width(), VelmoraDlg::ALARMS_MIN_WIDTH);
        EXPECT_LE(map->width() + alarms->width(), window->width());
        EXPECT_TRUE(waitUntil([&] { return evaluate("global.width").toInt() == map->width(); }, 5000))
            << "the page knows its width";
        expectWholeCount();
    }
    const int queueWidth = alarms->width();

    strip->getButton()->click();
    EXPECT_TRUE(window->areAlarmsFolded());
    EXPECT_TRUE(alarms->isHidden());
    EXPECT_FALSE(strip->isHidden());
    EXPECT_TRUE(waitUntil([&] { return map->width() == window->width(); }, 3000));
    EXPECT_FALSE(strip->isMarked());
    ASSERT_TRUE(sender.send(port, fixDatagram("Truck 11", vehicleId(11), FIX_SANTA_CLARA)));
    ASSERT_TRUE(waitUntil([&] { return vehicleOnPage(vehicleId(11)); }));
    ASSERT_TRUE(sender.send(port, eventDatagram("Truck 11", vehicleId(11), PANIC, "PANIC")));
    ASSERT_TRUE(waitUntil([&] { return strip->getButton()->text() == QStringLiteral("Alarms (11)"); }));
    EXPECT_TRUE(strip->isMarked());
    EXPECT_TRUE(alarms->isHidden()) << "the operator folded it";

    strip->getButton()->click();
    EXPECT_FALSE(window->areAlarmsFolded());
    EXPECT_FALSE(alarms->isHidden());
    EXPECT_FALSE(strip->isMarked());
    pump(50);
    EXPECT_EQ(alarms->width(), queueWidth);
    EXPECT_GE(map->width(), window->width() / 2);
}
