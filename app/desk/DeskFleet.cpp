#include "app/desk/DeskFleet.h"

#include "app/hub/ConsoleHub.h"
#include "app/hub/FixFrames.h"
#include "app/hub/IPageRunner.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/GPSInfo.h"
#include "mapview/MapCommands.h"
#include "store/StoreText.h"

#include <set>

namespace velmora {

namespace {

/// What the page shows of a vehicle besides its position.
struct Texts {
    std::string name, editedName, company, maker, model, registration, driver, license, info1, info2, imagePath;
    bool operator==(const Texts& other) const = default;
};

Texts textsOf(const VehicleInfo& record) {
    return {record.getName(),         record.getEditedName(), record.getCompany(), record.getMaker(),
            record.getModel(),        record.getRegistration(), record.getDriver(), record.getLicense(),
            record.getInfo1(),        record.getInfo2(),        record.getImagePath()};
}

void takeTexts(VehicleInfo& record, const StoredVehicle& stored) {
    record.setName(stored.name);
    record.setEditedName(stored.editedName);
    record.setCompany(stored.company);
    record.setMaker(stored.maker);
    record.setModel(stored.model);
    record.setRegistration(stored.registration);
    record.setDriver(stored.driver);
    record.setLicense(stored.license);
    record.setInfo1(stored.info1);
    record.setInfo2(stored.info2);
    record.setImagePath(stored.imagePath);
    record.setDeleted(stored.deleted);
}

void takePosition(VehicleInfo& record, const StoredVehicle& stored) {
    record.setLastUpdatedTime(StoreText::formatTime(stored.lastUpdatedTime));
    if (stored.hasPosition && ConsoleHub::isOnEarth(stored.latitude, stored.longitude)) {
        // The same six-decimal text a fix gives the record.
        record.setLastUpdatedLatitude(MapCommands::number(stored.latitude).toStdString());
        record.setLastUpdatedLongitude(MapCommands::number(stored.longitude).toStdString());
    }
}

} // namespace

DeskFleet::DeskFleet(IPageRunner& page, VehicleInfoContainer& vehicles, FixFrames& frames)
    : m_page(page), m_vehicles(vehicles), m_frames(frames) {}

void DeskFleet::load(const std::vector<StoredVehicle>& vehicles, const std::vector<StoredFix>& recentFixes) {
    std::set<UniqueID> present;
    for (const StoredVehicle& vehicle : vehicles) {
        present.insert(vehicle.id);
        upsert(vehicle, false);
    }
    std::vector<UniqueID> gone;
    {
        ScopedLock lock(m_vehicles.getLock());
        for (const auto& entry : m_vehicles.getMap()) {
            if (present.count(entry.first) == 0) {
                gone.push_back(entry.first);
            }
        }
    }
    for (const UniqueID& id : gone) {
        remove(id);
    }
    // The rows' positions lag the fixes by a few seconds, and the feed is
    // followed from after these fixes: without them a vehicle heard just
    // before the load would stay where its row left it (a new one nowhere)
    // until its next fix.
    for (const StoredFix& fix : recentFixes) {
        showFix(fix);
    }
    m_page.execute(MapCommands::sortVehicleList());
}

void DeskFleet::apply(const FeedReader::Changes& changes) {
    for (const StoredVehicle& vehicle : changes.vehicles) {
        upsert(vehicle, true);
    }
    for (const UniqueID& id : changes.deletedVehicles) {
        remove(id);
    }
    for (const StoredFix& fix : changes.fixes) {
        showFix(fix);
    }
    for (const StoredEvent& event : changes.events) {
        showEvent(event);
    }
}

void DeskFleet::upsert(const StoredVehicle& stored, bool announce) {
    VehicleInfo* record = m_vehicles.find(stored.id);
    if (record == nullptr) {
        auto made = std::make_unique<VehicleInfo>(stored.id);
        takeTexts(*made, stored);
        takePosition(*made, stored);
        record = made.get();
        if (!m_vehicles.adopt(made.get())) {
            return;
        }
        made.release();
        if (!record->getDeleted()) {
            // 0: the page says the vehicle was added; 1: one it had before.
            m_page.execute(MapCommands::insertVehicle(announce ? 0 : 1, *record));
        }
        return;
    }
    const bool wasDeleted = record->getDeleted();
    const Texts before = textsOf(*record);
    takeTexts(*record, stored);
    // The record's position is the newest fix shown; the row's lags behind
    // it (the receiver writes positions every few seconds).
    if (m_lastFix.count(stored.id) == 0) {
        takePosition(*record, stored);
    }
    if (!wasDeleted && record->getDeleted()) {
        m_frames.forget(stored.id);
        m_page.execute(MapCommands::deleteVehicle(stored.id.toText()));
    } else if (wasDeleted && !record->getDeleted()) {
        m_page.execute(MapCommands::insertVehicle(1, *record));
    } else if (!record->getDeleted() && !(textsOf(*record) == before)) {
        // Names and information only: commands that call nothing back.
        m_page.execute(MapCommands::updateOptionalInfo(*record));
        m_page.execute(MapCommands::insertUserDefinedInfo(stored.id.toText(), record->getImagePath(),
                                                          record->getInfo1(), record->getInfo2()));
        m_page.execute(MapCommands::updateVehicleName(*record));
    }
}

void DeskFleet::remove(const UniqueID& id) {
    m_frames.forget(id);
    m_lastFix.erase(id);
    if (m_vehicles.remove(id)) {
        m_page.execute(MapCommands::deleteVehicle(id.toText()));
    }
}

void DeskFleet::showFix(const StoredFix& fix) {
    VehicleInfo* record = m_vehicles.find(fix.vehicle);
    if (record == nullptr || record->getDeleted()) {
        return;
    }
    Shown& last = m_lastFix[fix.vehicle];
    if (fix.received < last.received || (fix.received == last.received && fix.id <= last.id)) {
        return;
    }
    last = {fix.received, fix.id};
    if (fix.time != StoreText::NO_TIME) {
        record->setLastUpdatedTime(StoreText::formatTime(fix.time));
    }
    const GPSInfo info(fix.sentence);
    if (!fix.sentence.empty() && ConsoleHub::hasPosition(info)) {
        record->setLastUpdatedLatitude(MapCommands::number(info.getLatitude()).toStdString());
        record->setLastUpdatedLongitude(MapCommands::number(info.getLongitude()).toStdString());
        m_frames.put(fix.vehicle, &info);
    } else {
        m_frames.put(fix.vehicle, nullptr);
    }
    ++m_fixesShown;
}

void DeskFleet::showEvent(const StoredEvent& event) {
    const VehicleInfo* record = m_vehicles.find(event.vehicle);
    if (record == nullptr || record->getDeleted()) {
        return;
    }
    const std::string& name = record->getEditedName().empty() ? event.name : record->getEditedName();
    m_page.execute(MapCommands::updateEventInfo(event.kind, name, StoreText::formatTime(event.time), event.title,
                                                event.vehicle.toText()));
    ++m_eventsShown;
}

} // namespace velmora
