#include "mapview/BrowserEnvironment.h"

#include "mapview/VelmoraSchemeHandler.h"

#include <QtGlobal>

#include <unistd.h>

namespace velmora {

void BrowserEnvironment::prepare(bool offscreen)
{
    if (offscreen && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --disable-component-update");
    // Without a GPU the browser draws the page in software; putting that
    // picture on screen through OpenGL then means a software GL (llvmpipe)
    // drawing every frame again, which cost a desk following 5,000 moving
    // vehicles most of its CPU and its window's timers 130 ms. The software
    // scene graph shows the browser's picture as it is.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") &&
        qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--disable-gpu"))
        qputenv("QT_QUICK_BACKEND", "software");
    VelmoraSchemeHandler::registerScheme();
}

} // namespace velmora
