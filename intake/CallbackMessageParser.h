#pragma once

namespace velmora {

class CallbackInfo;

/// Turns the text of one device datagram into a CallbackInfo. Stateless, so
/// any thread may call it.
///
/// Grammar: comma-separated fields where a run of commas counts as one (an
/// empty field cannot be sent; a device writes " " instead). Fields: 1 name,
/// 2 event kind, 3 ordinal, 4 ignored, 5 title, 6 flags, 7 packed date,
/// 8 packed time, 9 aux text, 10 aux number, 11 aux text, 12 vehicle GUID;
/// then for kind 100 the $GPRMC sentence up to "*", for kind 101 an ignored
/// field, a count and that many key/value pairs, of which only the first
/// MAX_INFO_PAIRS are read and only CallbackInfo::KEPT_INFO_KEYS kept.
class CallbackMessageParser {
public:
    /// Longest name or title kept, in UTF-16 units.
    static constexpr int MAX_TEXT_UNITS = 255;
    /// Most key/value pairs read from one information message; a device
    /// sends a handful.
    static constexpr int MAX_INFO_PAIRS = 64;

    CallbackMessageParser() = default;
    virtual ~CallbackMessageParser() = default;

    /// Fills every wire-derived field of info from text, which must be
    /// zero-terminated and writable (it is cut up in place). Missing or
    /// malformed fields take their defaults; a vehicle id that is missing or
    /// not a GUID text gives the nil id and hasVehicleID() false, so the
    /// message names no vehicle. Always returns true.
    bool parse(CallbackInfo& info, char* text) const;
};

} // namespace velmora
