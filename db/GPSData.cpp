#include "db/GPSData.h"

#include "db/RowSet.h"

namespace velmora {

GPSData::GPSData() : m_vehicleId(nullId())
{
    setRecordKind(KIND_GPS);
    m_gpsData[0] = m_updateTime[0] = '\0';
}

void GPSData::readRow(const RowSet& rows)
{
    m_id = rows.getInt(0);
    setGpsData(textOf(rows, 1));
    setUpdateTime(textOf(rows, 2));
    m_vehicleId = idFromText(rows.getText(3));
}

void GPSData::serializeFields(std::string& out) const
{
    appendInt(out, m_id);
    appendText(out, m_gpsData);
    appendText(out, m_updateTime);
    appendId(out, m_vehicleId);
}

bool GPSData::deserializeFields(Reader& in)
{
    return in.readInt(m_id) && in.readText(m_gpsData, GPS_DATA_SIZE) &&
           in.readText(m_updateTime, UPDATE_TIME_SIZE) && in.readId(m_vehicleId) && in.atEnd();
}

} // namespace velmora
