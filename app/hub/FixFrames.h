#pragma once

#include "foundation/UniqueID.h"
#include "intake/GPSInfo.h"
#include "store/UniqueIdHash.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace velmora {

class IPageRunner;

/// Fixes reach the page a frame at a time: of each vehicle only its newest
/// position since the last frame is shown, so however many fixes arrive,
/// the page runs at most one move per vehicle a frame and what the console
/// takes in (every fix is still stored) is no longer bounded by what the
/// page can draw.
///
/// A frame goes FRAME_MS after the first fix that waits for it, and only
/// once the page has run the frame before (IPageRunner::whenRun): while the
/// page is busy, fixes keep coalescing instead of queueing in front of it.
/// A page that never answers holds a frame back for PAGE_PATIENCE_MS at
/// most. The commands of a vehicle are made when its frame goes, from the
/// vehicle as it is then (the show function), never from a stale copy.
/// Window thread only.
class FixFrames : public QObject {
    Q_OBJECT

public:
    /// Ten frames a second still move a marker as its fixes come (a vehicle
    /// reports about once a second), and keep the window thread's share of
    /// a busy fleet small: at 25 ms the desks lagged more, not less.
    static constexpr int FRAME_MS = 100;
    static constexpr int PAGE_PATIENCE_MS = 2000;

    /// Sends the page commands of one vehicle's frame: its record's news
    /// (name, time, position), and the move to fix when there is one.
    using Show = std::function<void(const UniqueID& vehicle, const GPSInfo* fix)>;

    FixFrames(IPageRunner& page, QObject* parent = nullptr);

    void setShow(Show show) { m_show = std::move(show); }
    /// The vehicle's record changed with a fix (fix null: no position, only
    /// its name and time); replaces what waited for it.
    void put(const UniqueID& vehicle, const GPSInfo* fix);
    /// Drops what waits for the vehicle (it was removed or deleted).
    void forget(const UniqueID& vehicle);
    /// Sends the waiting frame now, page busy or not.
    void flush();
    /// Drops everything waiting (the stop).
    void clear();

    size_t getPendingCount() const { return m_order.size(); }
    uint64_t getFrameCount() const { return m_frames; }

private:
    struct Waiting {
        std::optional<GPSInfo> fix;
    };
    void onTimer();
    void send();

    IPageRunner& m_page;
    Show m_show;
    std::unordered_map<UniqueID, Waiting, UniqueIdHash, UniqueIdEqual> m_waiting;
    std::vector<UniqueID> m_order;
    QTimer m_timer;
    QElapsedTimer m_sinceSent;
    bool m_pageBusy = false;
    uint64_t m_frames = 0;
    uint64_t m_generation = 0;
};

} // namespace velmora
