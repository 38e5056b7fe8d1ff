#include "db/VehicleInfo.h"

#include "db/DBManager.h"
#include "db/RowSet.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/thread/ScopedLock.h"

namespace velmora {

VehicleInfo::VehicleInfo()
{
    setRecordKind(KIND_VEHICLE);
}

VehicleInfo::VehicleInfo(const UniqueID& id) : m_id(id)
{
    setRecordKind(KIND_VEHICLE);
}

void VehicleInfo::readRow(const RowSet& rows)
{
    m_id = idFromText(rows.getText(0));
    m_name = textOf(rows, 1);
    m_editedName = textOf(rows, 2);
    m_lastUpdatedTime = textOf(rows, 3);
    m_lastUpdatedLatitude = textOf(rows, 4);
    m_lastUpdatedLongitude = textOf(rows, 5);
    m_deleted = rows.getInt(6) == 1;
    m_company = textOf(rows, 7);
    m_maker = textOf(rows, 8);
    m_model = textOf(rows, 9);
    m_registration = textOf(rows, 10);
    m_driver = textOf(rows, 11);
    m_license = textOf(rows, 12);
    m_info1 = textOf(rows, 13);
    m_info2 = textOf(rows, 14);
    m_imagePath = textOf(rows, 15);
}

void VehicleInfo::serializeFields(std::string& out) const
{
    appendId(out, m_id);
    appendText(out, m_name);
    appendText(out, m_editedName);
    appendText(out, m_lastUpdatedTime);
    appendText(out, m_lastUpdatedLatitude);
    appendText(out, m_lastUpdatedLongitude);
    appendInt(out, m_deleted ? 1 : 0);
    appendText(out, m_company);
    appendText(out, m_maker);
    appendText(out, m_model);
    appendText(out, m_registration);
    appendText(out, m_driver);
    appendText(out, m_license);
    appendText(out, m_info1);
    appendText(out, m_info2);
    appendText(out, m_imagePath);
}

bool VehicleInfo::deserializeFields(Reader& in)
{
    int32_t deleted = 0;
    const bool complete =
        in.readId(m_id) && in.readText(m_name) && in.readText(m_editedName) &&
        in.readText(m_lastUpdatedTime) && in.readText(m_lastUpdatedLatitude) &&
        in.readText(m_lastUpdatedLongitude) && in.readInt(deleted) && in.readText(m_company) &&
        in.readText(m_maker) && in.readText(m_model) && in.readText(m_registration) &&
        in.readText(m_driver) && in.readText(m_license) && in.readText(m_info1) &&
        in.readText(m_info2) && in.readText(m_imagePath) && in.atEnd();
    m_deleted = deleted == 1;
    return complete;
}

void VehicleInfo::copyFieldsFrom(const VehicleInfo& other)
{
    const int32_t operation = getOperation();
    const int32_t recordKind = getRecordKind();
    *this = other;
    setOperation(operation);
    setRecordKind(recordKind);
}

bool VehicleInfo::insert(VehicleInfoContainer& container)
{
    setOperation(OPERATION_INSERT);
    setRecordKind(KIND_VEHICLE);
    const bool queued = DBManager::getInstance().enqueue(*this);
    container.adopt(this);
    return queued;
}

bool VehicleInfo::update(VehicleInfoContainer& container)
{
    setOperation(OPERATION_UPDATE);
    setRecordKind(KIND_VEHICLE);
    const bool queued = DBManager::getInstance().enqueue(*this);
    ScopedLock lock(container.getLock());
    VehicleInfo* held = container.find(m_id);
    if (held != nullptr && held != this)
        held->copyFieldsFrom(*this);
    return queued;
}

bool VehicleInfo::erase()
{
    setOperation(OPERATION_DELETE);
    setRecordKind(KIND_VEHICLE);
    return DBManager::getInstance().enqueue(*this);
}

} // namespace velmora
