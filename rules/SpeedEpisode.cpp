#include "rules/SpeedEpisode.h"

#include <algorithm>
#include <cmath>

namespace velmora {

SpeedEpisode::Change SpeedEpisode::step(std::time_t time, GeoPoint position, double speedKmh, double limitKmh,
                                        std::time_t confirmSeconds) {
    const bool above = limitKmh > 0 && std::isfinite(speedKmh) && speedKmh > limitKmh;
    const bool running = m_state == State::Above || m_state == State::Episode;
    if (running) {
        m_distance += m_lastPosition.distanceTo(position);
    }
    Change change = Change::None;
    if (above) {
        if (!running) {
            m_state = State::Above;
            m_start = time;
            m_end = 0;
            m_peakKmh = speedKmh;
            m_distance = 0;
        } else {
            m_peakKmh = std::max(m_peakKmh, speedKmh);
        }
        if (m_state == State::Above && time - m_start >= confirmSeconds) {
            m_state = State::Episode;
            m_limitKmh = limitKmh;
            change = Change::Started;
        }
    } else if (m_state == State::Episode) {
        m_state = State::Ended;
        m_end = time;
        change = Change::Ended;
    } else if (m_state == State::Above) {
        // Too short to count.
        m_state = State::Below;
    }
    m_last = time;
    m_lastPosition = position;
    return change;
}

bool SpeedEpisode::stop() {
    if (m_state == State::Above) {
        m_state = State::Below;
    }
    if (m_state != State::Episode) {
        return false;
    }
    m_state = State::Ended;
    m_end = m_last;
    return true;
}

} // namespace velmora
