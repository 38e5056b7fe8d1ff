#pragma once

#include "db/AbstractDatabaseRecord.h"

namespace velmora {

/// One row of gps_data: a GPS sentence as received and its fix time. Texts
/// live in fixed fields and are cut to their limits.
class GPSData : public AbstractDatabaseRecord {
public:
    static constexpr size_t GPS_DATA_SIZE = 82;
    static constexpr size_t UPDATE_TIME_SIZE = 21;

    /// Id 0, empty texts, the all-zero vehicle id; kind GPS fix.
    GPSData();

    /// Columns: id, gps_data, update_time, vehicle_id.
    void readRow(const RowSet& rows) override;
    bool deserializeFields(Reader& in) override;

    int32_t getId() const { return m_id; }
    void setId(int32_t id) { m_id = id; }
    const char* getGpsData() const { return m_gpsData; }
    void setGpsData(const char* sentence) { copyCut(m_gpsData, GPS_DATA_SIZE, sentence); }
    const char* getUpdateTime() const { return m_updateTime; }
    void setUpdateTime(const char* time) { copyCut(m_updateTime, UPDATE_TIME_SIZE, time); }
    const UniqueID& getVehicleId() const { return m_vehicleId; }
    void setVehicleId(const UniqueID& id) { m_vehicleId = id; }

protected:
    void serializeFields(std::string& out) const override;

private:
    int32_t m_id = 0;
    char m_gpsData[GPS_DATA_SIZE];
    char m_updateTime[UPDATE_TIME_SIZE];
    UniqueID m_vehicleId;
};

} // namespace velmora
