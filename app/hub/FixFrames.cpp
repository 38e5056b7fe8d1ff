#include "app/hub/FixFrames.h"

#include "app/hub/IPageRunner.h"

#include <QPointer>

namespace velmora {

FixFrames::FixFrames(IPageRunner& page, QObject* parent) : QObject(parent), m_page(page) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FixFrames::onTimer);
}

void FixFrames::put(const UniqueID& vehicle, const GPSInfo* fix) {
    auto [entry, made] = m_waiting.try_emplace(vehicle);
    if (made) {
        m_order.push_back(vehicle);
    }
    // A fix without a position leaves the last position that waits.
    if (fix != nullptr) {
        entry->second.fix = *fix;
    }
    if (!m_timer.isActive()) {
        m_timer.start(FRAME_MS);
    }
}

void FixFrames::forget(const UniqueID& vehicle) {
    // Its place in the order stays; a vehicle not waiting is skipped there.
    m_waiting.erase(vehicle);
}

void FixFrames::clear() {
    m_waiting.clear();
    m_order.clear();
    m_timer.stop();
}

void FixFrames::flush() {
    if (!m_order.empty()) {
        send();
    }
}

void FixFrames::onTimer() {
    if (m_order.empty()) {
        return;
    }
    if (m_pageBusy && m_sinceSent.isValid() && m_sinceSent.elapsed() < PAGE_PATIENCE_MS) {
        // The page still draws the last frame: this one grows meanwhile.
        m_timer.start(FRAME_MS);
        return;
    }
    send();
}

void FixFrames::send() {
    m_timer.stop();
    std::vector<UniqueID> order;
    order.swap(m_order);
    decltype(m_waiting) waiting;
    waiting.swap(m_waiting);
    ++m_frames;
    const uint64_t generation = ++m_generation;
    m_pageBusy = true;
    m_sinceSent.start();
    if (m_show) {
        for (const UniqueID& vehicle : order) {
            const auto found = waiting.find(vehicle);
            if (found != waiting.end()) {
                m_show(vehicle, found->second.fix ? &*found->second.fix : nullptr);
            }
        }
    }
    QPointer<FixFrames> self(this);
    m_page.whenRun([self, generation] {
        if (self.isNull() || self->m_generation != generation) {
            return;
        }
        self->m_pageBusy = false;
        if (!self->m_order.empty() && !self->m_timer.isActive()) {
            self->m_timer.start(FRAME_MS);
        }
    });
}

} // namespace velmora
