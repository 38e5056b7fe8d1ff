// The one main of the Qt suites: the browser's scheme declared and one
// QApplication made before any window or browser exists. ctest says which
// screen the suite runs on (QT_QPA_PLATFORM); run by hand without one, it
// runs offscreen.
//
// A modal window that nobody answers for a long time fails the running test
// and is closed, so a broken test ends instead of hanging.
#include "mapview/BrowserEnvironment.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velmora::BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);

    QWidget* lastModal = nullptr;
    int unansweredMs = 0;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        unansweredMs = modal != nullptr && modal == lastModal ? unansweredMs + 100 : 0;
        lastModal = modal;
        if (unansweredMs >= 15000) {
            ADD_FAILURE() << "modal window left unanswered: " << modal->metaObject()->className();
            modal->close();
            unansweredMs = 0;
        }
    });
    watchdog.start(100);
    return RUN_ALL_TESTS();
}
