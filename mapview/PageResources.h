#pragma once

#include "mapview/VelmoraSchemeHandler.h"

#include <QByteArray>
#include <QUrl>

namespace velmora {

class Geocoder;

/// The page's large assets and the geocoder behind the "velmora" scheme,
/// both read from the shipped data folder (SharedData):
///  - velmora://assets/...  the files below assets/: Leaflet (leaflet/leaflet.js, leaflet/leaflet.css,
///    leaflet/images/*) and the base map (geodata/world.js);
///  - velmora://geocode/lookup?lat=<deg>&lng=<deg>&seq=<n> answers the script
///    line velmoraGeocodeReply(<n>, ["specific", ..., "general"]); (a script,
///    so the file page can load it with a script element and no CORS).
class PageResources {
public:
    /// Registers both hosts on the page's scheme handler.
    static void install(VelmoraSchemeHandler& handler);

    /// The geocoder over the shipped places (geonames/), loaded at the first call
    /// (about 0.2 s); thread-safe.
    static const Geocoder& getGeocoder();

    /// Answers one geocode address. Bad or missing numbers answer an empty
    /// result list; seq is echoed only as a non-negative integer.
    static bool answerGeocode(const QUrl& url, VelmoraSchemeHandler::Reply& reply);

    /// The reply body for one look-up; results are JSON strings, so place
    /// names cannot leave their quotes.
    static QByteArray geocodeScript(long long seq, double latitude, double longitude);
};

} // namespace velmora
