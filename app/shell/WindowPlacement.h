#pragma once

#include <QList>
#include <QRect>
#include <QSize>

#include <optional>

namespace velmora {

/// Where the main window opens, decided from what was kept of it and the
/// screens there are now; no window needed, so every case can be tried.
///
/// A first start takes FIRST_SHARE of the primary screen's free area (less
/// its panels), centred. A later start puts the window back where it was
/// left, on the screen that holds most of it. A window that is on no screen
/// any more (its monitor is gone, or it lies off every screen) opens
/// centred on the primary screen. A window larger than its screen's free
/// area is shrunk to it, one partly off its screen is moved onto it. The
/// window is never made smaller than the minimum, even on a screen smaller
/// than that.
class WindowPlacement {
public:
    /// The share of the primary screen's free area a first start takes.
    static constexpr double FIRST_SHARE = 0.85;

    /// A screen as the desktop offers it: its free area (less panels and
    /// docks) in desktop coordinates.
    struct Screen {
        QRect available;
        bool primary = false;
    };

    /// minimum: the smallest client size the window allows.
    explicit WindowPlacement(QSize minimum);

    /// The window's normal geometry (client area, desktop coordinates) for
    /// the kept one, or for a first start when kept is empty. With no
    /// screen at all, the minimum size at the origin.
    QRect place(const std::optional<QRect>& kept, const QList<Screen>& screens) const;

private:
    /// The primary screen's free area; the first screen's when none is
    /// marked primary.
    static QRect primaryArea(const QList<Screen>& screens);
    /// size, shrunk to fit area and grown to the minimum.
    QSize fitted(QSize size, const QRect& area) const;
    static QRect centred(QSize size, const QRect& area);

    QSize m_minimum;
};

} // namespace velmora
