#include "intake/CallbackInfo.h"

namespace velmora {

namespace {

/// What one heap block costs beyond what was asked for (the allocator's
/// header and rounding).
constexpr size_t BLOCK_OVERHEAD = 16;

/// Heap bytes of text: nothing while it fits inside the object itself.
size_t heapBytes(const std::string& text)
{
    const char* data = text.data();
    const auto* object = reinterpret_cast<const char*>(&text);
    if (data >= object && data < object + sizeof text) {
        return 0;
    }
    return text.capacity() + 1 + BLOCK_OVERHEAD;
}

} // namespace

CallbackInfo::CallbackInfo() = default;

CallbackInfo::CallbackInfo(const std::string& address, int32_t port) : m_address(address), m_port(port) {}

CallbackInfo::~CallbackInfo() = default;

void CallbackInfo::copyTo(CallbackInfo& target) const
{
    if (&target == this) {
        return;
    }
    target.m_vehicleName = m_vehicleName;
    target.m_auxText1 = m_auxText1;
    target.m_auxText2 = m_auxText2;
    target.m_address = m_address;
    target.m_deviceTitle = m_deviceTitle;
    target.m_auxNumber = m_auxNumber;
    target.m_port = m_port;
    target.m_eventType = m_eventType;
    target.m_ordinal = m_ordinal;
    target.m_flags.setValue(m_flags.getValue());
    target.m_time.getDate().setValue(m_time.getDate().getValue());
    target.m_time.getTime().setValue(m_time.getTime().getValue());
    target.m_vehicleID = m_vehicleID;
    target.m_hasVehicleID = m_hasVehicleID;
    target.m_gpsData = m_gpsData;
    target.m_optionalInfo = m_optionalInfo;
}

size_t CallbackInfo::estimateBytes() const
{
    // A map node holds the pair and the tree's links (three pointers and
    // the colour).
    constexpr size_t NODE = sizeof(OptionalInfo::value_type) + 4 * sizeof(void*) + BLOCK_OVERHEAD;
    size_t bytes = sizeof *this;
    for (const std::string* text : {&m_vehicleName, &m_auxText1, &m_auxText2, &m_address, &m_deviceTitle, &m_gpsData}) {
        bytes += heapBytes(*text);
    }
    for (const auto& [key, value] : m_optionalInfo) {
        bytes += NODE + heapBytes(key) + heapBytes(value);
    }
    return bytes;
}

} // namespace velmora
