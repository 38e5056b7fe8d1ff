#include "mapview/VelmoraSchemeHandler.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <unistd.h>

// The engine needs its schemes before the application exists, and every
// test needs the application; both happen once here.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --disable-component-update");
    testing::InitGoogleTest(&argc, argv);
    velmora::VelmoraSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
