#include "app/alarms/AlarmBlink.h"

#include "app/hub/IPageRunner.h"
#include "mapview/MapCommands.h"

#include <string>
#include <vector>

namespace velmora {

AlarmBlink::AlarmBlink(IPageRunner& page, QObject* parent) : QObject(parent), m_page(page) {}

void AlarmBlink::set(const UniqueID& vehicle, bool on) {
    const bool was = m_blinking.count(vehicle) != 0;
    if (was == on) {
        return;
    }
    if (on) {
        m_blinking.insert(vehicle);
    } else {
        m_blinking.erase(vehicle);
    }
    // Back to what the page has: nothing to send for it.
    const auto pending = m_changed.find(vehicle);
    if (pending != m_changed.end()) {
        m_changed.erase(pending);
        return;
    }
    m_changed[vehicle] = on;
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &AlarmBlink::flush, Qt::QueuedConnection);
    }
}

void AlarmBlink::resend() {
    m_changed.clear();
    std::vector<std::string> on;
    on.reserve(m_blinking.size());
    for (const UniqueID& vehicle : m_blinking) {
        on.push_back(vehicle.toText());
    }
    if (!on.empty()) {
        m_page.execute(MapCommands::setAlarms(on, {}));
    }
}

void AlarmBlink::flush() {
    m_flushQueued = false;
    if (m_changed.empty()) {
        return;
    }
    std::vector<std::string> on;
    std::vector<std::string> off;
    for (const auto& [vehicle, blink] : m_changed) {
        (blink ? on : off).push_back(vehicle.toText());
    }
    m_changed.clear();
    m_page.execute(MapCommands::setAlarms(on, off));
}

} // namespace velmora
