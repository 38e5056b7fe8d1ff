// The page tests need the "velmora" scheme declared and one QApplication
// made before any browser exists.
#include "mapview/VelmoraSchemeHandler.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Chromium refuses to run as root with its sandbox on.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --disable-component-update");
    }
    velmora::VelmoraSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
