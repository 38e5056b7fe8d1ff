#include "app/PageRunner.h"

#include "mapview/CefClientHandler.h"

namespace velmora {

void PageRunner::execute(const QString& command) {
    m_host.execute(command);
}

void PageRunner::execute(const QStringList& commands) {
    m_host.execute(commands);
}

} // namespace velmora
