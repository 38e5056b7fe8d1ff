#include "intake/CallbackMessageParser.h"

#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace velmora {

namespace {

constexpr char SEPARATOR = ',';
/// Stands for a comma inside a text field.
constexpr char UNIT_SEPARATOR = '\x1F';
const char* const DEFAULT_VEHICLE_NAME = "Vehicle";

/// The next field in the manner of strtok_r with "," as the only delimiter:
/// separators before the field are skipped, the one after it is cut to a
/// zero byte. nullptr once the text is exhausted.
char* nextField(char*& cursor)
{
    char* p = cursor;
    while (*p == SEPARATOR) {
        ++p;
    }
    if (*p == '\0') {
        cursor = p;
        return nullptr;
    }
    char* field = p;
    while (*p != '\0' && *p != SEPARATOR) {
        ++p;
    }
    if (*p == SEPARATOR) {
        *p++ = '\0';
    }
    cursor = p;
    return field;
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// The atoi rule, saturated to the 32-bit range instead of undefined on overflow.
int32_t toInteger(const char* field)
{
    if (field == nullptr) {
        return 0;
    }
    while (isBlank(*field)) {
        ++field;
    }
    bool negative = false;
    if (*field == '+' || *field == '-') {
        negative = *field == '-';
        ++field;
    }
    int64_t value = 0;
    for (; *field >= '0' && *field <= '9'; ++field) {
        value = value * 10 + (*field - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) {
            value = static_cast<int64_t>(INT32_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

bool isSingleSpace(const char* field) { return field[0] == ' ' && field[1] == '\0'; }


bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

/// Appends text to out as well-formed UTF-8 holding at most maxUnits UTF-16
/// units: a character is kept whole or not at all, and every ill-formed
/// sequence (its maximal subpart) becomes U+FFFD. A unit separator is read
/// as a comma unless keepSeparators. Local narrow text is UTF-8, so valid
/// sequences are copied.
void appendDecoded(std::string& out, const char* text, int maxUnits, bool keepSeparators = false)
{
    static const char REPLACEMENT[] = "\xEF\xBF\xBD";
    int units = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            if (units + 1 > maxUnits) {
                return;
            }
            const bool separator = lead == static_cast<unsigned char>(UNIT_SEPARATOR) && !keepSeparators;
            out.push_back(separator ? SEPARATOR : static_cast<char>(lead));
            ++units;
            ++p;
            continue;
        }
        // Expected length and the allowed range of the second byte, which
        // rules out overlong forms, surrogates and values above U+10FFFF.
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        }
        int taken = 1;
        bool valid = length != 0;
        if (valid) {
            for (; taken < length; ++taken) {
                const unsigned char c = p[taken];
                const bool fits = taken == 1 ? (c >= low && c <= high) : isContinuation(c);
                if (!fits) {
                    valid = false;
                    break;
                }
            }
        }
        const int needed = valid && length == 4 ? 2 : 1;
        if (units + needed > maxUnits) {
            return;
        }
        if (valid) {
            out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
        } else {
            out.append(REPLACEMENT, 3);
        }
        units += needed;
        p += taken;
    }
}

/// Assigns the decoded text of field to target (empty when field is missing).
void assignDecoded(std::string& target, const char* field)
{
    target.clear();
    if (field != nullptr) {
        appendDecoded(target, field, CallbackMessageParser::MAX_TEXT_UNITS);
    }
}

void assignRaw(std::string& target, const char* field)
{
    if (field != nullptr) {
        target.assign(field);
    } else {
        target.clear();
    }
}

/// Whether key is one the console uses: the raw bytes must match, since a
/// kept key is plain ASCII and decoding would leave it unchanged.
bool isKeptKey(const char* key)
{
    for (const char* kept : CallbackInfo::KEPT_INFO_KEYS) {
        if (std::strcmp(key, kept) == 0) {
            return true;
        }
    }
    return false;
}

void parseOptionalInfo(CallbackInfo& info, char*& cursor)
{
    if (isTraceEnabled()) {
        trace("%s", info.getVehicleID().toText().c_str());
    }
    (void)nextField(cursor);
    const int32_t count = toInteger(nextField(cursor));
    const int32_t read = count < CallbackMessageParser::MAX_INFO_PAIRS ? count : CallbackMessageParser::MAX_INFO_PAIRS;
    auto& map = info.optionalInfo();
    for (int32_t i = 0; i < read; ++i) {
        const char* key = nextField(cursor);
        if (key == nullptr) {
            // Fewer pairs than announced: keep those that came.
            break;
        }
        const char* field = nextField(cursor);
        if (!isKeptKey(key)) {
            // Only what the console shows is kept: a datagram full of other
            // keys costs no memory.
            continue;
        }
        // Values are shown and stored like names: well-formed UTF-8 of a
        // bounded length.
        std::string value;
        if (field != nullptr && !isSingleSpace(field)) {
            appendDecoded(value, field, CallbackMessageParser::MAX_TEXT_UNITS);
        }
        trace("Key - %s, value - %s", key, value.c_str());
        map.insert_or_assign(std::string(key), std::move(value));
    }
}

void parseGpsTail(CallbackInfo& info, char* cursor)
{
    // The sentence runs to the first "*" after any leading run of them;
    // its commas stay.
    while (*cursor == '*') {
        ++cursor;
    }
    char* end = cursor;
    while (*end != '\0' && *end != '*') {
        ++end;
    }
    info.getGpsData().assign(cursor, end);
}

} // namespace

bool CallbackMessageParser::parse(CallbackInfo& info, char* text) const
{
    char* cursor = text;

    const char* name = nextField(cursor);
    std::string& vehicleName = info.getVehicleName();
    if (name != nullptr && !isSingleSpace(name)) {
        assignDecoded(vehicleName, name);
    } else {
        vehicleName.clear();
    }
    if (vehicleName.empty()) {
        vehicleName.assign(DEFAULT_VEHICLE_NAME);
    }

    info.setEventType(toInteger(nextField(cursor)));

    const char* ordinal = nextField(cursor);
    // Wire value plus one, wrapping like the 32-bit arithmetic it is.
    info.setOrdinal(ordinal != nullptr
                        ? static_cast<int32_t>(static_cast<uint32_t>(toInteger(ordinal)) + 1u)
                        : 0);

    (void)nextField(cursor);

    // A title of one space stays one space: the page shows it as it is.
    assignDecoded(info.getDeviceTitle(), nextField(cursor));

    info.getFlags().setValue(static_cast<uint32_t>(toInteger(nextField(cursor))));
    info.getTime().getDate().setValue(toInteger(nextField(cursor)));
    info.getTime().getTime().setValue(static_cast<int32_t>(static_cast<uint32_t>(toInteger(nextField(cursor))) & 0xFFFFFFu));

    assignRaw(info.getAuxText1(), nextField(cursor));
    info.setAuxNumber(toInteger(nextField(cursor)));
    assignRaw(info.getAuxText2(), nextField(cursor));

    // Only a GUID names a vehicle. Anything else is marked so: the id is
    // the nil GUID, never one made up for this message, and admission
    // refuses the message.
    const char* id = nextField(cursor);
    const bool named = id != nullptr && UniqueID::parse(id, info.getVehicleID());
    if (!named) {
        static const uint8_t NIL[16] = {};
        info.getVehicleID() = UniqueID::fromBytes(NIL);
    }
    info.setHasVehicleID(named);

    info.getGpsData().clear();
    info.optionalInfo().clear();
    if (info.getEventType() == CallbackInfo::EVENT_GPS) {
        parseGpsTail(info, cursor);
    } else if (info.getEventType() == CallbackInfo::EVENT_OPTIONAL_INFO) {
        parseOptionalInfo(info, cursor);
    }
    return true;
}

} // namespace velmora
