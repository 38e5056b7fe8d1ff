#pragma once

#include "mapview/MapView.h"

#include <string>

namespace velmora {

/// The main window's face towards the page's `cef.extension` functions. Each
/// call arrives on the GUI thread. Texts are UTF-8 and live only for the call;
/// an argument the page gave as something other than a string arrives as the
/// empty text (which names no vehicle).
class CefClientV8Listener {
public:
    virtual ~CefClientV8Listener() = default;
    virtual void onClickLog() = 0;
    virtual void onClickSetup() = 0;
    virtual void onClickEdit(const std::string& vehicleID) = 0;
    virtual void onClickRemove(const std::string& vehicleID) = 0;
    virtual void onChangeName(const std::string& vehicleID, const std::string& vehicleName) = 0;
    /// The image path and the two information lines of the page's editor;
    /// the result is not passed back to the page.
    virtual bool onUpdateOptionalInfo(const std::string& vehicleID, const std::string& imagePath,
                                      const std::string& info1, const std::string& info2) = 0;
    virtual void onClickImgBtn(const std::string& vehicleID) = 0;
    /// The vehicle menu's "Tracking Line": the operator asks for the
    /// vehicle's stored track.
    virtual void onClickTrackingLine(const std::string& vehicleID) = 0;
    /// The vehicle menu's "Delete": the operator asks to delete the vehicle
    /// with everything stored of it.
    virtual void onClickDelete(const std::string& vehicleID) { (void)vehicleID; }
    /// The map settled on a new view (after the operator moved it or the
    /// fleet was fitted); always a valid view.
    virtual void onMapViewChanged(const MapView& view) { (void)view; }
    /// The zone control's "Zones...": the operator asks for the zone list.
    virtual void onClickZones() {}
    /// The operator finished drawing a zone: shape "circle" or "polygon" and
    /// its outline as Zone::geometryText writes it (longitudes -180 to 180).
    /// Both are data from the page: parse them, never trust them.
    virtual void onZoneDrawn(const std::string& shape, const std::string& geometry)
    {
        (void)shape;
        (void)geometry;
    }
    /// The operator moved the vertices of zone zoneId (its decimal text) and
    /// chose Done: its new outline, as for onZoneDrawn.
    virtual void onZoneEdited(const std::string& zoneId, const std::string& shape, const std::string& geometry)
    {
        (void)zoneId;
        (void)shape;
        (void)geometry;
    }
};

} // namespace velmora
