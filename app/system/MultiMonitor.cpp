#include "app/system/MultiMonitor.h"

#include <QGuiApplication>
#include <QWidget>

#include <atomic>
#include <mutex>

namespace velmora {

namespace {
std::atomic<MultiMonitor*> g_instance{nullptr};
std::mutex g_instanceMutex;
} // namespace

MultiMonitor& MultiMonitor::getInstance() {
    MultiMonitor* instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        instance = g_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new MultiMonitor();
            g_instance.store(instance, std::memory_order_release);
        }
    }
    return *instance;
}

MultiMonitor::MultiMonitor() {
    enumerate();
}

void MultiMonitor::enumerate() {
    m_monitors.clear();
    for (QScreen* screen : QGuiApplication::screens()) {
        m_monitors.append(QPointer<QScreen>(screen));
    }
}

QList<QScreen*> MultiMonitor::getMonitors() const {
    QList<QScreen*> monitors;
    for (const QPointer<QScreen>& screen : m_monitors) {
        if (!screen.isNull()) {
            monitors.append(screen.data());
        }
    }
    return monitors;
}

QScreen* MultiMonitor::listedPrimary() const {
    QScreen* primary = QGuiApplication::primaryScreen();
    for (const QPointer<QScreen>& screen : m_monitors) {
        if (!screen.isNull() && screen.data() == primary) {
            return primary;
        }
    }
    return nullptr;
}

QScreen* MultiMonitor::pick(QScreen* nearest) {
    if (nearest != nullptr) {
        for (const QPointer<QScreen>& screen : m_monitors) {
            if (screen.data() == nearest) {
                return nearest;
            }
        }
    }
    if (QScreen* primary = listedPrimary()) {
        return primary;
    }
    // The primary monitor itself changed since the list was made.
    enumerate();
    return listedPrimary();
}

QScreen* MultiMonitor::monitorFor(const QWidget* window) {
    QScreen* nearest = nullptr;
    if (window != nullptr) {
        nearest = QGuiApplication::screenAt(window->frameGeometry().center());
        if (nearest == nullptr) {
            nearest = window->screen();
        }
    }
    return pick(nearest);
}

} // namespace velmora
