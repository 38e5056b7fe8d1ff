#include "app/shell/WindowPlacement.h"

#include <algorithm>
#include <cmath>

namespace velmora {

WindowPlacement::WindowPlacement(QSize minimum) : m_minimum(minimum) {}

QRect WindowPlacement::primaryArea(const QList<Screen>& screens) {
    for (const Screen& screen : screens) {
        if (screen.primary) {
            return screen.available;
        }
    }
    return screens.front().available;
}

QSize WindowPlacement::fitted(QSize size, const QRect& area) const {
    return QSize(std::max(m_minimum.width(), std::min(size.width(), area.width())),
                 std::max(m_minimum.height(), std::min(size.height(), area.height())));
}

QRect WindowPlacement::centred(QSize size, const QRect& area) {
    return QRect(QPoint(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2),
                 size);
}

QRect WindowPlacement::place(const std::optional<QRect>& kept, const QList<Screen>& screens) const {
    if (screens.isEmpty()) {
        return QRect(QPoint(0, 0), kept ? kept->size().expandedTo(m_minimum) : m_minimum);
    }
    if (!kept || kept->isEmpty()) {
        const QRect area = primaryArea(screens);
        const QSize share(static_cast<int>(std::lround(area.width() * FIRST_SHARE)),
                          static_cast<int>(std::lround(area.height() * FIRST_SHARE)));
        return centred(fitted(share, area), area);
    }
    // The screen that holds most of the window; none when it is on none.
    const Screen* home = nullptr;
    long long mostShared = 0;
    for (const Screen& screen : screens) {
        const QRect shared = screen.available.intersected(*kept);
        const long long overlap = shared.isEmpty() ? 0 : static_cast<long long>(shared.width()) * shared.height();
        if (overlap > mostShared) {
            mostShared = overlap;
            home = &screen;
        }
    }
    if (home == nullptr) {
        const QRect area = primaryArea(screens);
        return centred(fitted(kept->size(), area), area);
    }
    const QRect& area = home->available;
    const QSize size = fitted(kept->size(), area);
    // Moved onto its screen as far as needed, the top left corner first
    // when even the minimum is larger than the screen.
    const int x = std::max(area.left(), std::min(kept->x(), area.x() + area.width() - size.width()));
    const int y = std::max(area.top(), std::min(kept->y(), area.y() + area.height() - size.height()));
    return QRect(QPoint(x, y), size);
}

} // namespace velmora
