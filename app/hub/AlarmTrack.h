#pragma once

#include "rules/GeoPoint.h"

#include <ctime>
#include <functional>
#include <optional>

namespace velmora {

class HistoryReader;
class IOperator;
class IPageRunner;
struct Alarm;

/// "Track" from an alarm: the vehicle's stored track from SPAN_SECONDS
/// before to SPAN_SECONDS after the alarm, drawn as the page's history view
/// with the alarm's place marked. The place is the one the alarm was
/// decided at when known (a watch rule's fix), else the vehicle's fix
/// nearest the alarm's time. The window is counted in the device's clock as
/// the tracking line counts it (TrackHistory). With no fix in it the
/// operator is told so and the map is left as it is.
///
/// GUI thread.
class AlarmTrack {
public:
    static constexpr std::time_t SPAN_SECONDS = 600;

    /// The collaborators outlive this.
    AlarmTrack(IPageRunner& page, IOperator& desk);

    /// Shows the track around at (UTC seconds: when the alarm was decided)
    /// with place, or the nearest fix, marked; false when there was nothing
    /// to show.
    bool show(const Alarm& alarm, std::time_t at, const std::optional<GeoPoint>& place);

    /// Where tracks are read (none: app.db).
    void setHistory(HistoryReader* history) { m_history = history; }

    /// The clock the device's clock is worked out against; std::time unless
    /// a test sets another.
    void setClock(std::function<std::time_t()> now) { m_now = std::move(now); }

private:
    IPageRunner& m_page;
    IOperator& m_desk;
    HistoryReader* m_history = nullptr;
    std::function<std::time_t()> m_now = [] { return std::time(nullptr); };
};

} // namespace velmora
