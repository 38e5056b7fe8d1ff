#pragma once

#include "db/AbstractDatabaseRecord.h"

#include <string>

namespace velmora {

class VehicleInfoContainer;

/// One row of vehicle_info: a known vehicle, its names, last position and
/// optional information. Texts have no limit. The container's lock guards
/// membership only; the fields of a record in the container are changed by
/// the window thread without it.
class VehicleInfo : public AbstractDatabaseRecord {
public:
    /// A fresh random id, empty texts, not deleted.
    VehicleInfo();
    /// The given id, empty texts, not deleted.
    explicit VehicleInfo(const UniqueID& id);
    VehicleInfo(const VehicleInfo&) = default;
    VehicleInfo& operator=(const VehicleInfo&) = default;

    /// Columns in table order; deleted is true exactly when the column is 1.
    void readRow(const RowSet& rows) override;
    bool deserializeFields(Reader& in) override;

    /// Queues an INSERT of a copy, then adds this record to container unless
    /// it already holds one of the same id. This record must come from new
    /// (VehicleInfoContainer::create); once added, the container owns it,
    /// otherwise the caller still does. Returns whether the queue took the
    /// copy; the record enters the container either way.
    bool insert(VehicleInfoContainer& container);
    /// Queues an UPDATE of a copy, then gives every field of this record to
    /// the container's record of the same id (nothing to copy when this is
    /// that record). Returns whether the queue took the copy.
    bool update(VehicleInfoContainer& container);
    /// Queues the DELETE of this vehicle's row with its fixes, events and
    /// optional information. Returns whether the queue took it.
    bool erase();

    /// Every field of other except the record kind and operation.
    void copyFieldsFrom(const VehicleInfo& other);

    const UniqueID& getId() const { return m_id; }
    void setId(const UniqueID& id) { m_id = id; }
    const std::string& getName() const { return m_name; }
    void setName(const std::string& value) { m_name = value; }
    const std::string& getEditedName() const { return m_editedName; }
    void setEditedName(const std::string& value) { m_editedName = value; }
    const std::string& getLastUpdatedTime() const { return m_lastUpdatedTime; }
    void setLastUpdatedTime(const std::string& value) { m_lastUpdatedTime = value; }
    const std::string& getLastUpdatedLatitude() const { return m_lastUpdatedLatitude; }
    void setLastUpdatedLatitude(const std::string& value) { m_lastUpdatedLatitude = value; }
    const std::string& getLastUpdatedLongitude() const { return m_lastUpdatedLongitude; }
    void setLastUpdatedLongitude(const std::string& value) { m_lastUpdatedLongitude = value; }
    bool getDeleted() const { return m_deleted; }
    void setDeleted(bool value) { m_deleted = value; }
    const std::string& getCompany() const { return m_company; }
    void setCompany(const std::string& value) { m_company = value; }
    const std::string& getMaker() const { return m_maker; }
    void setMaker(const std::string& value) { m_maker = value; }
    const std::string& getModel() const { return m_model; }
    void setModel(const std::string& value) { m_model = value; }
    const std::string& getRegistration() const { return m_registration; }
    void setRegistration(const std::string& value) { m_registration = value; }
    const std::string& getDriver() const { return m_driver; }
    void setDriver(const std::string& value) { m_driver = value; }
    const std::string& getLicense() const { return m_license; }
    void setLicense(const std::string& value) { m_license = value; }
    const std::string& getInfo1() const { return m_info1; }
    void setInfo1(const std::string& value) { m_info1 = value; }
    const std::string& getInfo2() const { return m_info2; }
    void setInfo2(const std::string& value) { m_info2 = value; }
    const std::string& getImagePath() const { return m_imagePath; }
    void setImagePath(const std::string& value) { m_imagePath = value; }

protected:
    void serializeFields(std::string& out) const override;

private:
    UniqueID m_id;
    std::string m_name;
    std::string m_editedName;
    std::string m_lastUpdatedTime;
    std::string m_lastUpdatedLatitude;
    std::string m_lastUpdatedLongitude;
    bool m_deleted = false;
    std::string m_company;
    std::string m_maker;
    std::string m_model;
    std::string m_registration;
    std::string m_driver;
    std::string m_license;
    std::string m_info1;
    std::string m_info2;
    std::string m_imagePath;
};

} // namespace velmora
