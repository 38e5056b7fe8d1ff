// The console's in-process tests: the scheme declared and one QApplication
// made before any window or browser exists. Run under Xvfb with a full-size
// screen: the main window refuses Qt's small offscreen screen.
#include "mapview/BrowserEnvironment.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velmora::BrowserEnvironment::prepare(false);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
