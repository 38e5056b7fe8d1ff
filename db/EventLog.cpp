#include "db/EventLog.h"

#include "db/RowSet.h"

namespace velmora {

EventLog::EventLog() : m_vehicleId(nullId())
{
    setRecordKind(KIND_EVENT);
    m_address[0] = m_name[0] = m_time[0] = m_deviceTitle[0] = '\0';
}

void EventLog::readRow(const RowSet& rows)
{
    m_id = rows.getInt(0);
    setAddress(textOf(rows, 1));
    setName(textOf(rows, 2));
    setTime(textOf(rows, 3));
    m_eventType = rows.getInt(4);
    setDeviceTitle(textOf(rows, 5));
    m_vehicleId = idFromText(rows.getText(6));
}

void EventLog::serializeFields(std::string& out) const
{
    appendInt(out, m_id);
    appendText(out, m_address);
    appendText(out, m_name);
    appendText(out, m_time);
    appendInt(out, m_eventType);
    appendText(out, m_deviceTitle);
    appendId(out, m_vehicleId);
}

bool EventLog::deserializeFields(Reader& in)
{
    return in.readInt(m_id) && in.readText(m_address, ADDRESS_SIZE) &&
           in.readText(m_name, NAME_SIZE) && in.readText(m_time, TIME_SIZE) &&
           in.readInt(m_eventType) && in.readText(m_deviceTitle, DEVICE_TITLE_SIZE) &&
           in.readId(m_vehicleId) && in.atEnd();
}

} // namespace velmora
