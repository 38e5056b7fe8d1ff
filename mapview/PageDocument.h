#pragma once

#include <QString>

namespace velmora {

/// The map page document: the pieces in mapview/page joined at build time
/// (compiled in as the resource ":/page/map.html"), with the page's
/// configuration written into it before it is loaded.
class PageDocument {
public:
    /// What the page is told before it runs. Tile templates are Leaflet URL
    /// templates ("https://host/{z}/{x}/{y}.png"); empty means the offline
    /// base map only.
    struct Config {
        QString roadTiles;
        QString roadAttribution;
        QString satelliteTiles;
        QString satelliteAttribution;
        /// A tile set served by the console itself (an MBTiles file behind
        /// the velmora scheme), drawn over the base map only inside its
        /// bounds and zoom levels; empty means none.
        QString localTiles;
        /// Where the page asks for many of those tiles at once ("{z}" and
        /// "?xy=x,y,x,y..."); empty: each tile is asked for on its own.
        QString localTilesBatch;
        QString localAttribution;
        double localWest = -180, localSouth = -85.0511, localEast = 180, localNorth = 85.0511;
        int localMinZoom = 0;
        int localMaxZoom = 0;
        /// Vehicle icons that overlap are shown as one group: "on", "off",
        /// or "auto" (on above 50 vehicles).
        QString grouping = QStringLiteral("auto");
        /// Where the map starts before the fleet is in: the view kept from
        /// the last run (latitude, longitude, zoom) or else the stored
        /// fleet's bounds (south, west, north, east); neither: the world.
        bool hasStartView = false;
        double startLatitude = 0, startLongitude = 0;
        int startZoom = 0;
        bool hasStartBounds = false;
        double startSouth = 0, startWest = 0, startNorth = 0, startEast = 0;
        /// Where Leaflet and the base map are served; must end with "/".
        QString assetBase = QStringLiteral("velmora://assets/");
        /// The geocoder's address (see PageResources::answerGeocode).
        QString geocodeUrl = QStringLiteral("velmora://geocode/lookup");
    };

    /// The document with config written into it.
    static QString build(const Config& config);
    /// The document with the default (offline) configuration.
    static QString build();
    /// The configuration as the script object literal the page reads; every
    /// character that could end the script element is written as \uXXXX.
    static QString configScript(const Config& config);
    /// The page's Content-Security-Policy for document (its inline scripts
    /// final) under config: scripts only from the asset base, the geocoder
    /// and the document's own inline scripts (by their SHA-256), pictures
    /// from the page's own files (file:, where images/ and the vehicle
    /// pictures lie), the velmora scheme, data: addresses and the tile
    /// hosts config names, requests to the velmora scheme and the addresses
    /// config names only, nothing else.
    static QString contentSecurityPolicy(const Config& config, const QString& document);
    /// The source expression a policy allows an address by: "velmora:" for
    /// the console's own scheme, "https://host:port" for the web (a host
    /// label holding a Leaflet placeholder such as {s} becomes "*."), or
    /// empty when the address is none of these.
    static QString policySource(const QString& address);
};

} // namespace velmora
