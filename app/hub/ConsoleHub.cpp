#include "app/hub/ConsoleHub.h"

#include "app/hub/IOperator.h"
#include "app/hub/IPageRunner.h"
#include "app/hub/WatchHub.h"
#include "db/AbstractSetup.h"
#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/Setup.h"
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

// Field positions in a $GPRMC sentence as GPSInfo splits it.
constexpr size_t LATITUDE_FIELD = 3;
constexpr size_t LONGITUDE_FIELD = 5;

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
    const auto& fields = fix.getFields();
    return fix.hasPosition() && fields.size() > LONGITUDE_FIELD && !fields[LATITUDE_FIELD].empty() &&
           !fields[LONGITUDE_FIELD].empty() && isOnEarth(fix.getLatitude(), fix.getLongitude());
}

bool ConsoleHub::isOnEarth(double latitude, double longitude) {
    // Also false for NaN, which compares false with everything.
    return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90.0 && latitude <= 90.0 &&
           longitude >= -180.0 && longitude <= 180.0;
}

bool ConsoleHub::hasStoredPosition(const VehicleInfo& vehicle) {
    double latitude = 0;
    double longitude = 0;
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
    if (hasStoredPosition(*vehicle)) {
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
    const std::string idText = id.toText();
    m_page.execute(MapCommands::moveTo(fix, idText));
    // The same six-decimal, dot-separated text the page got.
    vehicle->setLastUpdatedLatitude(MapCommands::number(fix.getLatitude()).toStdString());
    vehicle->setLastUpdatedLongitude(MapCommands::number(fix.getLongitude()).toStdString());
    store(*vehicle);
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
    {
        ScopedLock lock(m_vehicles.getLock());
        for (auto& [id, vehicle] : m_vehicles.getMap()) {
            if (!vehicle->getDeleted()) {
                m_page.execute(MapCommands::insertVehicle(1, *vehicle));
            }
        }
    }
    m_page.execute(MapCommands::sortVehicleList());
    // The view of the last run, or on a first start the whole fleet.
    const std::optional<MapView> view = MapView::load(m_setup);
    m_page.execute(view ? MapCommands::setMapView(*view) : MapCommands::fitFleet());
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
            store(*vehicle);
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
    if (!queued([&] { return vehicle->erase(); })) {
        trace("DELETE FALSE");
        return false;
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
        store(*vehicle);
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
    QStringList lines;
    {
        GPSDataContainer& fixes = GPSDataContainer::getInstance();
        ScopedLock lock(fixes.getLock());
        int loaded = 0;
        try {
            loaded = TrackHistory::load(id, duration->hours, m_now());
        } catch (const Exception& e) {
            traceException(e);
            return;
        }
        lines = TrackHistory::commands(TrackHistory::fixes(fixes.getList(), static_cast<size_t>(std::max(loaded, 0))));
    }
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
    if (newName == vehicle->getName()) {
        vehicle->setEditedName(std::string());
    } else if (!newName.empty()) {
        vehicle->setEditedName(newName);
    } else {
        // An empty name is not taken: the page shows the device's name again.
        m_page.execute(MapCommands::updateVehicleName(*vehicle));
    }
    store(*vehicle);
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
