#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class AbstractSetup;

/// Where the map looks: its centre in degrees and its zoom level, as the page
/// reports it when the operator leaves it and as setup.db keeps it for the
/// next start ("47.376900 8.541700 12" under KEY).
struct MapView {
    /// The setup.db key of the kept view.
    static constexpr const char* KEY = "setup/MapView";
    static constexpr int MIN_ZOOM = 0;
    static constexpr int MAX_ZOOM = 18;

    double latitude = 0;
    double longitude = 0;
    int zoom = 0;

    /// Whether the map can show this view: finite, the latitude within the
    /// map's square world (85.0511 degrees), the longitude within +-180, the
    /// zoom within MIN_ZOOM to MAX_ZOOM.
    bool isValid() const;
    /// "lat lng zoom": six decimals and a dot, in every locale.
    std::string toText() const;
    /// The view in text (as toText writes it, or any C-locale numbers);
    /// nothing for text that is not three numbers or a view that is not
    /// valid.
    static std::optional<MapView> fromText(std::string_view text);

    /// The view setup kept; nothing when none is kept, it cannot be read or
    /// it is not valid.
    static std::optional<MapView> load(AbstractSetup& setup);
    /// Keeps the view in setup, under its lock. Throws DatabaseException.
    void store(AbstractSetup& setup) const;

    bool operator==(const MapView& other) const = default;
};

} // namespace velmora
