#include "WindowFixture.h"

#include "app/MultiMonitor.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QWidget>

#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

QString uniqueName() {
    return QStringLiteral("QUELN Velmora-test-%1").arg(static_cast<qlonglong>(getpid()));
}

} // namespace

// The first copy wins and listens; a later one gives way and asks it to
// raise its window; once the first has gone the next copy wins again.
TEST(SingleInstance, ALaterCopyGivesWayAndRaisesTheFirst) {
    const QString name = uniqueName();
    auto first = std::make_unique<SingleInstance>(name);
    ASSERT_TRUE(first->claim());
    QSignalSpy raised(first.get(), &SingleInstance::raiseRequested);

    SingleInstance second(name);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(raised.count() == 1 || raised.wait(5000)) << "the first copy was not asked to raise";

    first.reset();
    SingleInstance third(name);
    EXPECT_TRUE(third.claim());
}

// A socket file left by a copy that died does not keep the next one out.
TEST(SingleInstance, ALeftoverSocketFileIsTakenOver) {
    const QString name = uniqueName();
    const QString leftover = QDir(QDir::tempPath()).filePath(name);
    QFile file(leftover);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    SingleInstance instance(name);
    ASSERT_TRUE(instance.claim());
    QSignalSpy raised(&instance, &SingleInstance::raiseRequested);
    SingleInstance later(name);
    EXPECT_FALSE(later.claim());
    EXPECT_TRUE(raised.count() == 1 || raised.wait(5000)) << "the first copy does not listen";
}

// The window's monitor is the listed one that holds it; a monitor the
// platform does not name falls back to the primary one.
TEST(MultiMonitor, AWindowIsOnItsMonitorOrThePrimaryOne) {
    MultiMonitor& monitors = MultiMonitor::getInstance();
    ASSERT_FALSE(monitors.getMonitors().isEmpty());
    QScreen* primary = QGuiApplication::primaryScreen();
    EXPECT_EQ(monitors.pick(nullptr), primary);

    QWidget window;
    window.setGeometry(100, 100, 400, 300);
    window.show();
    pump(100);
    QScreen* screen = monitors.monitorFor(&window);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen, primary);
    EXPECT_GE(screen->geometry().width(), VelmoraDlg::MIN_SCREEN_WIDTH);
    EXPECT_GE(screen->geometry().height(), VelmoraDlg::MIN_SCREEN_HEIGHT);
}
