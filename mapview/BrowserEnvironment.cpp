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
    VelmoraSchemeHandler::registerScheme();
}

} // namespace velmora
