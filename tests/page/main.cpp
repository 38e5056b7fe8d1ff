// The page tests need the "velmora" scheme declared and one QApplication
// made before any browser exists.
#include "mapview/BrowserEnvironment.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velmora::BrowserEnvironment::prepare(true);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
