#pragma once

#include "foundation/UniqueID.h"

#include <QObject>

#include <map>
#include <set>

namespace velmora {

class IPageRunner;

/// Which vehicles' markers and list entries blink on the map page. Changes
/// are gathered and sent once per turn of the window's event loop as one
/// setAlarms call, so a burst of alarms (or their restore at start-up)
/// costs the page one placing of icons and one marking of its groups, not
/// one per alarm. GUI thread only.
class AlarmBlink : public QObject {
public:
    explicit AlarmBlink(IPageRunner& page, QObject* parent = nullptr);

    /// The vehicle blinks (on) or not, from the next turn on.
    void set(const UniqueID& vehicle, bool on);
    /// The page was loaded anew: it is told every blinking vehicle.
    void resend();
    /// Sends what changed now (done by itself on the next turn).
    void flush();
    bool isBlinking(const UniqueID& vehicle) const { return m_blinking.count(vehicle) != 0; }
    size_t getBlinkingCount() const { return m_blinking.size(); }
    const std::set<UniqueID>& getBlinking() const { return m_blinking; }

private:
    IPageRunner& m_page;
    std::set<UniqueID> m_blinking;
    // The page's state differs for these: true to blink, false to stop.
    std::map<UniqueID, bool> m_changed;
    bool m_flushQueued = false;
};

} // namespace velmora
