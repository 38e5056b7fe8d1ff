// Any datagram the server could deliver: up to 4094 bytes, zero-terminated
// after the last byte as the server does, cut up in place by the parser.

#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t MAX_DATAGRAM = 4094;

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool isWellFormedUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        int length = *p < 0x80 ? 1 : (*p >= 0xC2 && *p <= 0xDF) ? 2 : (*p >= 0xE0 && *p <= 0xEF) ? 3
                                                                     : (*p >= 0xF0 && *p <= 0xF4) ? 4 : 0;
        if (length == 0 || end - p < length) {
            return false;
        }
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
        }
        p += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MAX_DATAGRAM) {
        return 0;
    }
    // Exactly as large as the datagram plus its terminator, so any read past
    // the end is caught.
    char* buffer = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(buffer, data, size);
    buffer[size] = '\0';

    velmora::CallbackInfo info("127.0.0.1", 10111);
    check(velmora::CallbackMessageParser().parse(info, buffer));
    check(!info.getVehicleName().empty());
    check(isWellFormedUtf8(info.getVehicleName()));
    check(isWellFormedUtf8(info.getDeviceTitle()));
    check(info.getVehicleName().size() <= 4 * 255 && info.getDeviceTitle().size() <= 3 * 255 + 3);
    check(info.getGpsData().find('*') == std::string::npos);
    check((static_cast<uint32_t>(info.getTime().getTime().getValue()) >> 24) == 0);
    // Only the console's keys are kept, and a message without a GUID names
    // no vehicle.
    for (const auto& [key, value] : info.optionalInfo()) {
        bool kept = false;
        for (const char* name : velmora::CallbackInfo::KEPT_INFO_KEYS) {
            kept = kept || key == name;
        }
        check(kept && isWellFormedUtf8(value));
    }
    static const uint8_t NIL[16] = {};
    check(info.hasVehicleID() || info.getVehicleID() == velmora::UniqueID::fromBytes(NIL));
    velmora::CallbackInfo copy;
    info.copyTo(copy);
    check(copy.getOptionalInfo() == info.getOptionalInfo());
    check(copy.hasVehicleID() == info.hasVehicleID());
    std::free(buffer);
    return 0;
}
