#pragma once

#include "foundation/BitMask32.h"
#include "foundation/DateTime.h"
#include "foundation/UniqueID.h"
#include "intake/EventTypeName.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace velmora {

/// One parsed device message. Texts are UTF-8. Owned by one thread at a time;
/// not locked.
class CallbackInfo {
public:
    /// Event kind of a GPS message (the tail is a $GPRMC sentence).
    static constexpr int32_t EVENT_GPS = 100;
    /// Event kind of an optional-information message (key/value tail).
    static constexpr int32_t EVENT_OPTIONAL_INFO = 101;

    using OptionalInfo = std::map<std::string, std::string>;

    /// The optional-information keys the console shows and stores; a device
    /// message keeps no other key.
    static constexpr const char* KEPT_INFO_KEYS[] = {"Company", "Maker", "Model", "Registration", "Driver", "License"};

    /// Empty texts, zeros, an unset time and a fresh random vehicle id that
    /// names no vehicle (hasVehicleID() is false until setVehicleID).
    CallbackInfo();
    /// The defaults, with the sender's dotted-decimal address and port.
    CallbackInfo(const std::string& address, int32_t port);
    CallbackInfo(const CallbackInfo& other) = default;
    CallbackInfo& operator=(const CallbackInfo& other) = default;
    virtual ~CallbackInfo();

    /// Assigns every field of this object to target; this object is unchanged.
    virtual void copyTo(CallbackInfo& target) const;

    const std::string& getVehicleName() const { return m_vehicleName; }
    std::string& getVehicleName() { return m_vehicleName; }
    void setVehicleName(const std::string& value) { m_vehicleName = value; }
    const std::string& getAuxText1() const { return m_auxText1; }
    std::string& getAuxText1() { return m_auxText1; }
    void setAuxText1(const std::string& value) { m_auxText1 = value; }
    const std::string& getAuxText2() const { return m_auxText2; }
    std::string& getAuxText2() { return m_auxText2; }
    void setAuxText2(const std::string& value) { m_auxText2 = value; }
    const std::string& getAddress() const { return m_address; }
    void setAddress(const std::string& value) { m_address = value; }
    const std::string& getDeviceTitle() const { return m_deviceTitle; }
    std::string& getDeviceTitle() { return m_deviceTitle; }
    void setDeviceTitle(const std::string& value) { m_deviceTitle = value; }
    int32_t getAuxNumber() const { return m_auxNumber; }
    void setAuxNumber(int32_t value) { m_auxNumber = value; }
    int32_t getPort() const { return m_port; }
    void setPort(int32_t value) { m_port = value; }
    int32_t getEventType() const { return m_eventType; }
    void setEventType(int32_t value) { m_eventType = value; }
    int32_t getOrdinal() const { return m_ordinal; }
    void setOrdinal(int32_t value) { m_ordinal = value; }
    const BitMask32& getFlags() const { return m_flags; }
    BitMask32& getFlags() { return m_flags; }
    void setFlags(const BitMask32& value) { m_flags = value; }
    const DateTime& getTime() const { return m_time; }
    DateTime& getTime() { return m_time; }
    void setTime(const DateTime& value) { m_time = value; }
    const UniqueID& getVehicleID() const { return m_vehicleID; }
    UniqueID& getVehicleID() { return m_vehicleID; }
    /// Sets the id; the message names that vehicle from now on.
    void setVehicleID(const UniqueID& value)
    {
        m_vehicleID = value;
        m_hasVehicleID = true;
    }
    /// Whether the id names a vehicle: false for a device message whose id
    /// field was missing or no GUID, which no vehicle may be made of.
    bool hasVehicleID() const { return m_hasVehicleID; }
    void setHasVehicleID(bool value) { m_hasVehicleID = value; }
    const std::string& getGpsData() const { return m_gpsData; }
    std::string& getGpsData() { return m_gpsData; }
    void setGpsData(const std::string& value) { m_gpsData = value; }

    /// A copy of the optional-information map (keys in byte order).
    OptionalInfo getOptionalInfo() const { return m_optionalInfo; }
    /// Replaces the map by a copy of info.
    void setOptionalInfo(const OptionalInfo& info) { m_optionalInfo = info; }
    /// The map itself, for readers that need no copy and for the parser.
    const OptionalInfo& optionalInfo() const { return m_optionalInfo; }
    OptionalInfo& optionalInfo() { return m_optionalInfo; }

    /// Bytes this message holds, the object and what its texts and map
    /// keep on the heap, allocator overhead included: what a queue of
    /// messages costs in memory.
    size_t estimateBytes() const;

private:
    std::string m_vehicleName;
    std::string m_auxText1;
    std::string m_auxText2;
    std::string m_address;
    std::string m_deviceTitle;
    int32_t m_auxNumber = 0;
    int32_t m_port = 0;
    int32_t m_eventType = 0;
    int32_t m_ordinal = 0;
    BitMask32 m_flags;
    DateTime m_time;
    UniqueID m_vehicleID;
    bool m_hasVehicleID = false;
    std::string m_gpsData;
    OptionalInfo m_optionalInfo;
};

} // namespace velmora
