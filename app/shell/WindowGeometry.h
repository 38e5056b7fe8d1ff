#pragma once

#include <QRect>

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class AbstractSetup;

/// What setup.db keeps of the main window for the next start, under KEY as
/// "x y width height maximised alarmWidth alarmsFolded", e.g.
/// "144 81 1632 918 0 460 0": the window's normal geometry (client area,
/// desktop coordinates), whether it was maximised, the alarm queue's width
/// and whether the queue was folded to its count.
struct WindowGeometry {
    /// The setup.db key.
    static constexpr const char* KEY = "setup/Window";
    /// No coordinate or size read back is beyond this: the text is damaged.
    static constexpr int MAX_EXTENT = 100000;

    QRect normal;
    bool maximised = false;
    /// The alarm queue's width as the operator left it; 0 for none chosen.
    int alarmWidth = 0;
    bool alarmsFolded = false;

    /// The text kept in setup.db; digits in every locale.
    std::string toText() const;
    /// The geometry in text as toText writes it; nothing for text that is
    /// not seven integers, a size that is not positive, a flag that is not
    /// 0 or 1 or anything beyond MAX_EXTENT.
    static std::optional<WindowGeometry> fromText(std::string_view text);

    /// What setup kept; nothing when nothing (readable) is kept.
    static std::optional<WindowGeometry> load(AbstractSetup& setup);
    /// Keeps it in setup, under its lock. Throws DatabaseException.
    void store(AbstractSetup& setup) const;

    bool operator==(const WindowGeometry& other) const = default;
};

} // namespace velmora
