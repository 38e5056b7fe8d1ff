#pragma once

#include <QString>

#include <cstdint>
#include <string_view>

namespace velmora {

class Zone;

/// The page commands of the watch rules: their zones, and a vehicle's
/// history around an alarm with the alarm's place marked; one line each, built like MapCommands'
/// (texts escaped for a single-quoted script string, numbers the same in
/// every locale). A zone's outline goes as its stored text
/// (Zone::geometryText), which the page reads back.
///
/// Pure functions; any thread.
class WatchCommands {
public:
    /// "putZone(id, 'name', 'shape', 'geometry', entry, exit, dwell, limit);":
    /// draws the zone in the zone layer, replacing the one of its id.
    static QString putZone(const Zone& zone);
    /// "removeZone(id);"
    static QString removeZone(int32_t id);
    /// "startZoneDrawing('circle');" or 'polygon': the operator draws a new
    /// zone on the map, which the page reports with onZoneDrawn.
    static QString startZoneDrawing(bool circle);
    /// "cancelZoneDrawing();": ends a drawing or a vertex edit unfinished.
    static QString cancelZoneDrawing();
    /// "editZone(id);": the zone's vertices (a circle's centre and rim) can
    /// be moved on the map; the page reports the outcome with onZoneEdited.
    static QString editZone(int32_t id);
    /// "showZone(id);": the map shows the whole zone.
    static QString showZone(int32_t id);
    /// "setZonesVisible(1);": shows (1) or hides (0) the zone layer.
    static QString setZonesVisible(bool visible);
    /// "setHistoryVehicle('id');": the next history view is the vehicle's
    /// (its name in the view's title).
    static QString setHistoryVehicle(std::string_view vehicleId);
    /// "markHistoryPlace(lat, lng, 'label');": marks a place (an alarm's)
    /// on the history view the lines before it opened.
    static QString markHistoryPlace(double latitude, double longitude, std::string_view label);
};

} // namespace velmora
