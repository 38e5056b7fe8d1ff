#include "app/hub/ConsoleHub.h"

#include "app/hub/FixFrames.h"
#include "app/hub/IOperator.h"
#include "app/hub/IVehicleStore.h"
#include "app/hub/IPageRunner.h"
#include "app/hub/WatchHub.h"
#include "db/AbstractSetup.h"
#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/Setup.h"
#include "db/SqliteHistoryReader.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/AppConstants.h"
#include "foundation/ClassicLocale.h"
#include "foundation/Exception.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/CallbackInfo.h"
#include "intake/GPSInfo.h"
#include "intake/VehicleAdmission.h"
#include "mapview/MapCommands.h"
#include "mapview/MapView.h"
#include "mapview/TrackHistory.h"
#include "rules/FixPosition.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

namespace velmora {

namespace {

// The optional-information keys a device sends and the fields they fill.
struct OptionalField {
    const char* key;
    void (VehicleInfo::*set)(const std::string&);
};

const OptionalField OPTIONAL_FIELDS[] = {
    {"Company", &VehicleInfo::setCompany},   {"Maker", &VehicleInfo::setMaker},
    {"Model", &VehicleInfo::setModel},       {"Registration", &VehicleInfo::setRegistration},
    {"Driver", &VehicleInfo::setDriver},     {"License", &VehicleInfo::setLicense},
};

// Stored vehicles in one page call at page load.
constexpr size_t FLEET_ROWS_PER_CALL = 500;

// A stored coordinate text as a number, read in the C locale; false when
// the text is empty or not a number as a whole.
bool readCoordinate(const std::string& text, double& value) {
    if (text.empty() || text.size() > 32) {
        return false;
    }
    char* end = nullptr;
    value = strtod_l(text.c_str(), &end, ClassicLocale::handle());
    return end == text.c_str() + text.size();
}

} // namespace

ConsoleHub::ConsoleHub(IPageRunner& page, IOperator& desk, VehicleInfoContainer& vehicles, AbstractSetup& setup)
    : m_page(page), m_desk(desk), m_vehicles(vehicles), m_setup(setup) {}

std::string ConsoleHub::timeText(const DateTime& time) {
    const AppConstants& constants = AppConstants::getInstance();
    std::string pattern = constants.getDateFormat(constants.getDateFormatIndex());
    pattern += ' ';
    pattern += constants.getTimeFormat(constants.getTimeFormatIndex());
    return time.formatted(pattern.c_str());
}

bool ConsoleHub::hasPosition(const GPSInfo& fix) {
    return FixPosition::has(fix);
}

bool ConsoleHub::isOnEarth(double latitude, double longitude) {
    return FixPosition::isOnEarth(latitude, longitude);
}

bool ConsoleHub::hasStoredPosition(const VehicleInfo& vehicle) {
    double latitude = 0;
    double longitude = 0;
    return storedPosition(vehicle, latitude, longitude);
}

bool ConsoleHub::storedPosition(const VehicleInfo& vehicle, double& latitude, double& longitude) {
    return readCoordinate(vehicle.getLastUpdatedLatitude(), latitude) &&
           readCoordinate(vehicle.getLastUpdatedLongitude(), longitude) && isOnEarth(latitude, longitude);
}

VehicleInfo* ConsoleHub::findVehicle(const UniqueID& id) {
    return m_vehicles.find(id);
}

VehicleInfo* ConsoleHub::findVehicle(const std::string& vehicleIdText) {
    UniqueID id;
    if (!UniqueID::parse(vehicleIdText.c_str(), id)) {
        return nullptr;
    }
    return m_vehicles.find(id);
}

bool ConsoleHub::queued(const std::function<bool()>& put) {
    return DBManager::getInstance().put(put);
}

void ConsoleHub::reviewed(const VehicleInfo& vehicle) {
    if (m_admission != nullptr) {
        m_admission->review(vehicle.getId());
    }
}

void ConsoleHub::store(VehicleInfo& vehicle) {
    if (!queued([&] { return vehicle.update(m_vehicles); })) {
        trace("UPDATE FALSE");
    }
}

void ConsoleHub::storeOperatorChange(VehicleInfo& vehicle, uint32_t fields) {
    if (m_vehicleStore == nullptr) {
        store(vehicle);
    } else if (!m_vehicleStore->save(vehicle, fields)) {
        trace("UPDATE FALSE");
    }
}

void ConsoleHub::onDeviceMessage(CallbackInfo& message) {
    const int32_t kind = message.getEventType();
    if (kind < CallbackInfo::EVENT_GPS) {
        onEvent(message);
    } else if (kind == CallbackInfo::EVENT_GPS) {
        onFix(message);
    } else if (kind == CallbackInfo::EVENT_OPTIONAL_INFO) {
        onOptionalInfo(message);
    }
}

void ConsoleHub::onEvent(CallbackInfo& message) {
    VehicleInfo* vehicle = findVehicle(message.getVehicleID());
    if (vehicle == nullptr) {
        return;
    }
    // The operator's name goes into the log and onto the page.
    const std::string& edited = vehicle->getEditedName();
    if (!edited.empty() && edited != message.getVehicleName()) {
        message.setVehicleName(edited);
    }
    if (vehicle->getDeleted()) {
        return;
    }
    if (m_watch != nullptr) {
        m_watch->heard(message.getVehicleID(), m_now());
    }
    if (!queued([&] { return EventLogger::getInstance().log(message); })) {
        trace("INSERT FALSE");
    }
    m_page.execute(MapCommands::updateEventInfo(message, timeText(message.getTime())));
    if (m_onEvent) {
        m_onEvent(message);
    }
}

void ConsoleHub::onFix(CallbackInfo& message) {
    const std::string time = timeText(message.getTime());
    const std::string& sentence = message.getGpsData();
    const GPSInfo fix(sentence);
    const bool moves = !sentence.empty() && hasPosition(fix);
    // A fix that moves the vehicle stores the record once, with its new
    // time, name and position together.
    upsertVehicle(message, time, !moves);
    if (m_watch != nullptr) {
        const VehicleInfo* vehicle = findVehicle(message.getVehicleID());
        if (vehicle != nullptr && !vehicle->getDeleted()) {
            if (moves) {
                m_watch->fix(message.getVehicleID(), m_now(), fix.getLatitude(), fix.getLongitude(), fix.getSpeed());
            } else {
                m_watch->heard(message.getVehicleID(), m_now());
            }
        }
    }
    // An id deleted while its fix waited is no vehicle: its fix is not kept.
    if (sentence.empty() || findVehicle(message.getVehicleID()) == nullptr) {
        return;
    }
    if (moves) {
        updatePosition(message.getVehicleID(), fix);
    }
    // The raw sentence is kept even when it says nothing useful: what the
    // device sent is on record.
    if (!queued([&] {
            return GPSDataContainer::getInstance().insert(time.c_str(), message.getVehicleID(), sentence.c_str());
        })) {
        trace("Insert False");
    }
}

void ConsoleHub::upsertVehicle(const CallbackInfo& message, const std::string& time, bool storeNow) {
    VehicleInfo* vehicle = findVehicle(message.getVehicleID());
    if (vehicle == nullptr) {
        // Admitted before a Delete and handled after it: the operator's
        // delete stands.
        if (m_admission != nullptr && !m_admission->isKnown(message.getVehicleID())) {
            return;
        }
        VehicleInfo* created = m_vehicles.create(message.getVehicleID(), message.getVehicleName(), time);
        const bool stored = queued([&] { return created->insert(m_vehicles); });
        // insert() leaves the record with the caller when the id is held
        // already; find() tells which record the container keeps.
        VehicleInfo* held = findVehicle(message.getVehicleID());
        if (held != created) {
            delete created;
        }
        if (held != nullptr) {
            m_page.execute(MapCommands::insertVehicle(0, *held));
        }
        if (!stored) {
            trace("INSERT FALSE");
        }
        return;
    }
    if (vehicle->getDeleted()) {
        return;
    }
    vehicle->setLastUpdatedTime(time);
    vehicle->setName(message.getVehicleName());
    if (m_frames != nullptr) {
        // The page hears of it with the vehicle's next frame.
        m_frames->put(vehicle->getId(), nullptr);
    } else if (hasStoredPosition(*vehicle)) {
        m_page.execute(MapCommands::updateVehicle(*vehicle));
    } else {
        // A vehicle with no position yet: the page takes an insert of a
        // vehicle it holds as a fresh name and time, the marker left alone.
        const std::string& shown = vehicle->getEditedName().empty() ? vehicle->getName() : vehicle->getEditedName();
        m_page.execute(MapCommands::insertVehicleLine(1, "", "", vehicle->getId().toText(), shown, time));
    }
    if (storeNow) {
        store(*vehicle);
    }
}

void ConsoleHub::updatePosition(const UniqueID& id, const GPSInfo& fix) {
    VehicleInfo* vehicle = findVehicle(id);
    if (vehicle == nullptr || vehicle->getDeleted()) {
        return;
    }
    if (m_frames != nullptr) {
        m_frames->put(id, &fix);
    } else {
        m_page.execute(MapCommands::moveTo(fix, id.toText()));
    }
    // The same six-decimal, dot-separated text the page gets.
    vehicle->setLastUpdatedLatitude(MapCommands::number(fix.getLatitude()).toStdString());
    vehicle->setLastUpdatedLongitude(MapCommands::number(fix.getLongitude()).toStdString());
    store(*vehicle);
}

void ConsoleHub::showFrame(const UniqueID& id, const GPSInfo* fix) {
    VehicleInfo* vehicle = findVehicle(id);
    if (vehicle == nullptr || vehicle->getDeleted()) {
        return;
    }
    const std::string idText = id.toText();
    if (hasStoredPosition(*vehicle)) {
        m_page.execute(MapCommands::updateVehicle(*vehicle));
    } else {
        // A vehicle with no position yet: a fresh name and time, the marker
        // left alone.
        const std::string& shown = vehicle->getEditedName().empty() ? vehicle->getName() : vehicle->getEditedName();
        m_page.execute(MapCommands::insertVehicleLine(1, "", "", idText, shown, vehicle->getLastUpdatedTime()));
    }
    if (fix != nullptr) {
        m_page.execute(MapCommands::moveTo(*fix, idText));
    }
}

void ConsoleHub::onOptionalInfo(CallbackInfo& message) {
    VehicleInfo* vehicle = findVehicle(message.getVehicleID());
    if (vehicle == nullptr || vehicle->getDeleted()) {
        return;
    }
    if (m_watch != nullptr) {
        m_watch->heard(message.getVehicleID(), m_now());
    }
    // A key the device left out keeps the value it sent before.
    const CallbackInfo::OptionalInfo& pairs = message.optionalInfo();
    for (const OptionalField& field : OPTIONAL_FIELDS) {
        const auto found = pairs.find(field.key);
        if (found != pairs.end()) {
            (vehicle->*field.set)(found->second);
        }
    }
    vehicle->setName(message.getVehicleName());
    m_page.execute(MapCommands::updateOptionalInfo(*vehicle));
    store(*vehicle);
}

void ConsoleHub::onPageLoaded(int width, int height) {
    // The page was laid out for its default size; the window may be larger.
    m_page.execute(MapCommands::setPageSize(width, height));
    int timeout = Setup::DEFAULT_TIMEOUT_DURATION;
    try {
        timeout = m_setup.getInt(Setup::KEY_TIMEOUT_DURATION, Setup::DEFAULT_TIMEOUT_DURATION);
    } catch (const Exception& e) {
        // No settings file: the default holds.
        traceException(e);
    }
    m_page.execute(MapCommands::resetTimeout(timeout));
    // The fleet goes as data, a few hundred vehicles a page call, and the
    // page places their icons together at the end: a call per vehicle, each
    // icon placed on its own, made a start with 10,000 vehicles take half a
    // minute.
    m_page.execute(MapCommands::beginFleetLoad());
    {
        ScopedLock lock(m_vehicles.getLock());
        std::vector<MapCommands::Vehicle> rows;
        rows.reserve(std::min<size_t>(m_vehicles.getMap().size(), FLEET_ROWS_PER_CALL));
        for (auto& [id, vehicle] : m_vehicles.getMap()) {
            if (vehicle->getDeleted()) {
                continue;
            }
            rows.push_back(MapCommands::fromRecord(*vehicle));
            // The page and the record keep the path with forward slashes.
            rows.back().imagePath = MapCommands::forwardSlashes(rows.back().imagePath);
            vehicle->setImagePath(rows.back().imagePath);
            if (rows.size() == FLEET_ROWS_PER_CALL) {
                m_page.execute(MapCommands::insertFleet(rows.data(), rows.size()));
                rows.clear();
            }
        }
        if (!rows.empty()) {
            m_page.execute(MapCommands::insertFleet(rows.data(), rows.size()));
        }
    }
    m_page.execute(MapCommands::endFleetLoad());
    m_page.execute(MapCommands::sortVehicleList());
    // The view of the last run, or on a first start the whole fleet.
    const std::optional<MapView> view = MapView::load(m_setup);
    m_page.execute(view ? MapCommands::setMapView(*view) : MapCommands::fitFleet());
}

void ConsoleHub::startView(PageDocument::Config& config) {
    if (const std::optional<MapView> view = MapView::load(m_setup)) {
        config.hasStartView = true;
        config.startLatitude = view->latitude;
        config.startLongitude = view->longitude;
        config.startZoom = view->zoom;
        return;
    }
    ScopedLock lock(m_vehicles.getLock());
    for (const auto& [id, vehicle] : m_vehicles.getMap()) {
        double latitude = 0;
        double longitude = 0;
        if (vehicle->getDeleted() || !storedPosition(*vehicle, latitude, longitude)) {
            continue;
        }
        if (!config.hasStartBounds) {
            config.hasStartBounds = true;
            config.startSouth = config.startNorth = latitude;
            config.startWest = config.startEast = longitude;
            continue;
        }
        config.startSouth = std::min(config.startSouth, latitude);
        config.startNorth = std::max(config.startNorth, latitude);
        config.startWest = std::min(config.startWest, longitude);
        config.startEast = std::max(config.startEast, longitude);
    }
}

void ConsoleHub::mapViewChanged(const MapView& view) {
    try {
        view.store(m_setup);
    } catch (const DatabaseException& e) {
        // The next start fits the fleet instead.
        traceException(e);
    }
}

void ConsoleHub::showLog() {
    m_page.execute(MapCommands::hideTooltip());
    m_desk.showLog();
}

void ConsoleHub::showSetup() {
    m_page.execute(MapCommands::hideTooltip());
    m_desk.showSetup();
}

void ConsoleHub::editVehicle(const std::string& vehicleIdText) {
    if (m_desk.editVehicle(vehicleIdText)) {
        if (VehicleInfo* vehicle = findVehicle(vehicleIdText)) {
            reviewed(*vehicle);
            m_page.execute(MapCommands::updateUserDefinedInfo(*vehicle));
            // The editor may have given it a silent time of its own.
            if (m_watch != nullptr && !vehicle->getDeleted()) {
                m_watch->loadVehicleSettings(vehicle->getId());
            }
        }
    }
    m_page.execute(MapCommands::enableTooltip());
}

void ConsoleHub::removeVehicle(const std::string& vehicleIdText) {
    if (m_desk.askYesNo(QStringLiteral("Do you want to delete this Vehicle?"))) {
        if (VehicleInfo* vehicle = findVehicle(vehicleIdText)) {
            vehicle->setDeleted(true);
            storeOperatorChange(*vehicle, IVehicleStore::DELETED);
            if (m_frames != nullptr) {
                m_frames->forget(vehicle->getId());
            }
            if (m_watch != nullptr) {
                m_watch->forget(vehicle->getId());
            }
            m_page.execute(MapCommands::deleteVehicle(vehicle->getId().toText()));
        }
    }
    m_page.execute(MapCommands::enableTooltip());
}

void ConsoleHub::deleteVehicle(const std::string& vehicleIdText) {
    if (const VehicleInfo* vehicle = findVehicle(vehicleIdText)) {
        const std::string& name = vehicle->getEditedName().empty() ? vehicle->getName() : vehicle->getEditedName();
        const QString question =
            QStringLiteral("Do you want to delete %1 with all its stored positions and events? This cannot be undone.")
                .arg(QString::fromStdString(name));
        // The question runs its own event loop: the record is looked up again.
        VehicleInfo* asked = m_desk.askYesNo(question) ? findVehicle(vehicleIdText) : nullptr;
        if (asked != nullptr && !eraseVehicle(asked->getId())) {
            m_desk.tell(QStringLiteral("%1 was not deleted: the database takes no changes now.")
                            .arg(QString::fromStdString(name)));
        }
    }
    m_page.execute(MapCommands::enableTooltip());
}

bool ConsoleHub::eraseVehicle(const UniqueID& vehicleId) {
    // A copy: the caller's id may be the vehicle's own, which remove() ends.
    const UniqueID id = vehicleId;
    VehicleInfo* vehicle = findVehicle(id);
    if (vehicle == nullptr) {
        // Admitted, its first fix still on its way: it never becomes one.
        if (m_admission != nullptr && m_admission->isKnown(id)) {
            m_admission->forget(id);
            return true;
        }
        return false;
    }
    // A desk hands the delete to the shared store; the single desk to its
    // writer.
    const bool handedOver =
        m_vehicleStore != nullptr ? m_vehicleStore->erase(*vehicle) : queued([&] { return vehicle->erase(); });
    if (!handedOver) {
        trace("DELETE FALSE");
        return false;
    }
    if (m_frames != nullptr) {
        m_frames->forget(id);
    }
    m_vehicles.remove(id);
    if (m_admission != nullptr) {
        m_admission->forget(id);
    }
    if (m_watch != nullptr) {
        m_watch->forget(id);
    }
    m_page.execute(MapCommands::deleteVehicle(id.toText()));
    if (m_onErased) {
        m_onErased(id);
    }
    return true;
}

void ConsoleHub::chooseImage(const std::string& vehicleIdText) {
    const std::string path = m_desk.chooseImage();
    if (path.empty()) {
        return;
    }
    if (VehicleInfo* vehicle = findVehicle(vehicleIdText)) {
        reviewed(*vehicle);
        vehicle->setImagePath(path);
        m_page.execute(MapCommands::updateImgPath(vehicle->getId().toText(), path));
        storeOperatorChange(*vehicle, IVehicleStore::IMAGE);
    }
}

void ConsoleHub::showTrackingLine(const std::string& vehicleIdText) {
    showHistory(vehicleIdText);
    // The page switched its list tooltips off when the menu line was chosen.
    m_page.execute(MapCommands::enableTooltip());
}

void ConsoleHub::showHistory(const std::string& vehicleIdText) {
    const VehicleInfo* vehicle = findVehicle(vehicleIdText);
    if (vehicle == nullptr || vehicle->getDeleted()) {
        return;
    }
    const std::string id = vehicle->getId().toText();
    const std::optional<IOperator::TrackingDuration> duration = m_desk.chooseTrackingLine(id);
    if (!duration) {
        return;
    }
    const UniqueID vehicleId = vehicle->getId();
    std::vector<GPSData> track;
    try {
        HistoryReader& history = m_history != nullptr ? *m_history : SqliteHistoryReader::getInstance();
        track = history.loadTrack(vehicleId, duration->hours, m_now());
    } catch (const Exception& e) {
        traceException(e);
        return;
    }
    // The read may have let other work run: the vehicle is looked up again.
    vehicle = findVehicle(vehicleId);
    if (vehicle == nullptr) {
        return;
    }
    const QStringList lines = TrackHistory::commands(TrackHistory::fixes(track));
    if (lines.isEmpty()) {
        const std::string& name = vehicle->getEditedName().empty() ? vehicle->getName() : vehicle->getEditedName();
        m_desk.tell(
            QStringLiteral("No positions of %1 in the last %2.").arg(QString::fromStdString(name), duration->text));
        return;
    }
    m_page.execute(lines);
}

void ConsoleHub::changeName(const std::string& vehicleIdText, const std::string& newName) {
    VehicleInfo* vehicle = findVehicle(vehicleIdText);
    if (vehicle == nullptr) {
        return;
    }
    const std::string before = vehicle->getEditedName();
    if (newName == vehicle->getName()) {
        vehicle->setEditedName(std::string());
    } else if (!newName.empty()) {
        vehicle->setEditedName(newName);
    } else {
        // An empty name is not taken: the page shows the device's name again.
        m_page.execute(MapCommands::updateVehicleName(*vehicle));
    }
    // The page repeats names it was given; a shared store hears only of
    // changes, or desks would echo each other's renames for ever.
    if (m_vehicleStore != nullptr && vehicle->getEditedName() == before) {
        return;
    }
    storeOperatorChange(*vehicle, IVehicleStore::EDITED_NAME);
}

bool ConsoleHub::updateOptionalInfo(const std::string& vehicleIdText, const std::string& imagePath,
                                    const std::string& info1, const std::string& info2) {
    VehicleInfo* vehicle = findVehicle(vehicleIdText);
    if (vehicle == nullptr) {
        return false;
    }
    reviewed(*vehicle);
    vehicle->setImagePath(imagePath);
    vehicle->setInfo1(info1);
    vehicle->setInfo2(info2);
    if (m_vehicleStore != nullptr) {
        return m_vehicleStore->save(*vehicle, IVehicleStore::INFO | IVehicleStore::IMAGE);
    }
    const bool stored = queued([&] { return vehicle->update(m_vehicles); });
    if (!stored) {
        trace("UPDATE FALSE");
    }
    return stored;
}

void ConsoleHub::timeoutChanged(int minutes) {
    m_page.execute(MapCommands::resetTimeout(minutes));
}

} // namespace velmora
