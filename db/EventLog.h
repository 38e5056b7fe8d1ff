#pragma once

#include "db/AbstractDatabaseRecord.h"

namespace velmora {

/// One row of event_info. Texts live in fixed fields and are cut to their
/// limits (never rejected).
class EventLog : public AbstractDatabaseRecord {
public:
    static constexpr size_t ADDRESS_SIZE = 16;
    static constexpr size_t NAME_SIZE = 33;
    static constexpr size_t TIME_SIZE = 101;
    static constexpr size_t DEVICE_TITLE_SIZE = 33;

    /// Id 0, empty texts, type 0, the all-zero vehicle id; kind event.
    EventLog();

    /// Columns: id, address, name, time, event_type, device_title, vehicle_id.
    void readRow(const RowSet& rows) override;
    bool deserializeFields(Reader& in) override;

    int32_t getId() const { return m_id; }
    void setId(int32_t id) { m_id = id; }
    const char* getAddress() const { return m_address; }
    void setAddress(const char* address) { copyCut(m_address, ADDRESS_SIZE, address); }
    const char* getName() const { return m_name; }
    void setName(const char* name) { copyCut(m_name, NAME_SIZE, name); }
    /// "2026-01-31 17:05:09"; "" when the stored time was NULL.
    const char* getTime() const { return m_time; }
    void setTime(const char* time) { copyCut(m_time, TIME_SIZE, time); }
    int32_t getEventType() const { return m_eventType; }
    void setEventType(int32_t eventType) { m_eventType = eventType; }
    const char* getDeviceTitle() const { return m_deviceTitle; }
    void setDeviceTitle(const char* title) { copyCut(m_deviceTitle, DEVICE_TITLE_SIZE, title); }
    const UniqueID& getVehicleId() const { return m_vehicleId; }
    void setVehicleId(const UniqueID& id) { m_vehicleId = id; }

protected:
    void serializeFields(std::string& out) const override;

private:
    int32_t m_id = 0;
    int32_t m_eventType = 0;
    char m_address[ADDRESS_SIZE];
    char m_name[NAME_SIZE];
    char m_time[TIME_SIZE];
    char m_deviceTitle[DEVICE_TITLE_SIZE];
    UniqueID m_vehicleId;
};

} // namespace velmora
