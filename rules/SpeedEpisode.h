#pragma once

#include "rules/GeoPoint.h"

#include <ctime>

namespace velmora {

/// One vehicle's speeding, fix by fix. An episode starts once the fixes
/// have stayed above the limit in force for the speeding time (from the
/// first fix above it), and ends at the first fix at or below the limit.
/// Its duration runs from that first fix above to the fix that ended it,
/// its distance is summed along the fixes between them, and its peak is the
/// highest speed of those fixes. A run above the limit shorter than the
/// speeding time is no episode.
///
/// The limit is compared fix by fix, so a vehicle that drives into a zone
/// with a lower limit is measured against it from its first fix inside.
class SpeedEpisode {
public:
    enum class Change {
        None,    ///< nothing to report
        Started, ///< the episode began with this fix
        Ended,   ///< the episode ended with this fix
    };

    /// One fix: its time, place, speed in km/h and the limit in force (0:
    /// none, never speeding); confirmSeconds is the speeding time. Fixes
    /// come in time order.
    Change step(std::time_t time, GeoPoint position, double speedKmh, double limitKmh, std::time_t confirmSeconds);
    /// Ends an episode in progress at its last fix, as when the vehicle
    /// falls silent; true when there was one (its figures then read as
    /// after Ended).
    bool stop();

    /// Whether an episode is in progress.
    bool isActive() const { return m_state == State::Episode; }
    /// The first fix above the limit.
    std::time_t getStart() const { return m_start; }
    /// The fix that ended the episode (after Ended or stop).
    std::time_t getEnd() const { return m_end; }
    /// Seconds from start to end (to the last fix while it lasts).
    std::time_t getDuration() const { return (m_state == State::Ended ? m_end : m_last) - m_start; }
    double getPeakKmh() const { return m_peakKmh; }
    double getDistanceMetres() const { return m_distance; }
    /// The limit in force when the episode started.
    double getLimitKmh() const { return m_limitKmh; }

private:
    enum class State { Below, Above, Episode, Ended };

    State m_state = State::Below;
    std::time_t m_start = 0;
    std::time_t m_last = 0;
    std::time_t m_end = 0;
    GeoPoint m_lastPosition;
    double m_peakKmh = 0;
    double m_distance = 0;
    double m_limitKmh = 0;
};

} // namespace velmora
