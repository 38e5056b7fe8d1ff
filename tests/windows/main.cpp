#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdio>

// Every test needs the application; the windows run offscreen unless told
// otherwise. A modal window that nobody answers for a long time fails the
// running test and is closed, so a broken test ends instead of hanging.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
