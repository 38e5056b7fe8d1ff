#pragma once

namespace velmora {

class GPSInfo;

/// Whether a decoded $GPRMC fix says where the vehicle is: the one rule the
/// console, the headless receiver and the stored track all follow, so a fix
/// moves a vehicle in every one of them or in none.
class FixPosition {
public:
    /// Whether fix carries a position. Not when the sentence is cut short
    /// or leaves latitude or longitude empty (they would read as 0/0), when
    /// the position is beyond the poles or the date line or not finite, or
    /// when it is a receiver's placeholder: status V (no fix) at exactly
    /// 0/0, what a receiver without a fix sends
    /// (0000.0000,N,00000.0000,E). Status A at 0/0 is a real place.
    static bool has(const GPSInfo& fix);
    /// Whether both are finite, the latitude within -90..90 and the
    /// longitude within -180..180.
    static bool isOnEarth(double latitude, double longitude);
    /// Whether the status field says the receiver had no fix ("V", blanks
    /// and case aside).
    static bool isVoid(const GPSInfo& fix);
};

} // namespace velmora
