#include "intake/CallbackInfo.h"

namespace velmora {

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
    target.m_gpsData = m_gpsData;
    target.m_optionalInfo = m_optionalInfo;
}

} // namespace velmora
