#pragma once

#include "foundation/ISingleton.h"

#include <QList>
#include <QPointer>
#include <QScreen>

class QWidget;

namespace velmora {

/// The monitors known to the console, listed when the object is made, and
/// which of them holds a window. A monitor attached later is not in the list:
/// a window on it counts as being on the primary monitor. GUI thread only;
/// made on first use under a lock of its own.
class MultiMonitor : public ISingleton {
public:
    static MultiMonitor& getInstance();

    /// The listed monitor nearest to window; the primary monitor when that
    /// one is not listed; null when there is no primary monitor at all.
    QScreen* monitorFor(const QWidget* window);
    /// The same rule for a monitor the platform named (null: none).
    QScreen* pick(QScreen* nearest);

    /// The listed monitors that still exist.
    QList<QScreen*> getMonitors() const;

private:
    MultiMonitor();
    void enumerate();
    QScreen* listedPrimary() const;

    QList<QPointer<QScreen>> m_monitors;
};

} // namespace velmora
