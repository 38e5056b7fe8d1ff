#pragma once

#include "mapview/PageDocument.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace velmora {

class AbstractSetup;
class CallbackInfo;
class FixFrames;
class HistoryReader;
class IVehicleStore;
class DateTime;
class GPSInfo;
class IOperator;
class IPageRunner;
struct MapView;
class UniqueID;
class VehicleAdmission;
class VehicleInfo;
class VehicleInfoContainer;
class WatchHub;

/// What the console does with each device message and each operator request:
/// which vehicle is created or changed, what is stored, which page command is
/// sent and what is dropped. The main window only turns Qt events into these
/// calls; everything here runs on the GUI thread.
///
/// Dropped on purpose: events of vehicles never seen in a GPS fix; every page
/// command and record change of a deleted vehicle (its GPS fixes are still
/// stored); requests for ids that name no vehicle.
///
/// Stores go through the record containers and the tracking database's
/// queue by its policy (DBManager::put: a full queue is waited out for a
/// moment, so a burst does not lose fixes); a store still refused is traced
/// ("INSERT FALSE", "Insert False", "UPDATE FALSE") and the page command is
/// still sent, so the operator sees the fleet even when app.db is not there.
///
/// With an admission set, a vehicle is created only while the admission
/// knows its id: messages judged before a Delete and handled after it do
/// not bring the vehicle back. A vehicle the operator edits or gives an
/// image counts as reviewed from then on; a rename does not, since the page
/// also renames vehicles itself when names clash.
class ConsoleHub {
public:
    /// The collaborators outlive the hub.
    ConsoleHub(IPageRunner& page, IOperator& desk, VehicleInfoContainer& vehicles, AbstractSetup& setup);
    ConsoleHub(const ConsoleHub&) = delete;
    ConsoleHub& operator=(const ConsoleHub&) = delete;

    /// One device message: an event (kinds below 100), a GPS fix (100) or
    /// optional information (101); other kinds do nothing.
    void onDeviceMessage(CallbackInfo& message);

    /// The page has loaded: its size, the vehicle time-out and the whole
    /// fleet but the deleted vehicles (loaded flag 1, bracketed so that the
    /// page places the icons in one pass), then the sort, then
    /// the map view kept in the settings or, with none kept, the fit to the
    /// fleet.
    void onPageLoaded(int width, int height);
    /// Where the page starts before the fleet is in, written into config:
    /// the view kept in the settings or, with none kept, the bounds of the
    /// stored vehicles that have a position (none: the world). The same
    /// rule onPageLoaded follows once the fleet is in, so the map is drawn
    /// once at the view it will show.
    void startView(PageDocument::Config& config);
    /// The page settled on a new view: kept in the settings for the next
    /// start (a store that fails is traced).
    void mapViewChanged(const MapView& view);

    /// Page requests.
    void showLog();
    void showSetup();
    void editVehicle(const std::string& vehicleIdText);
    void removeVehicle(const std::string& vehicleIdText);
    /// Deletes the vehicle for good, after the operator's yes: its row,
    /// fixes, events and information go from app.db, and the id counts as
    /// a new vehicle again should it send. "Remove" only hides a vehicle.
    void deleteVehicle(const std::string& vehicleIdText);
    /// Deletes the vehicle for good without asking (the question was
    /// asked): as deleteVehicle after the yes. An id admitted but not yet a
    /// vehicle is forgotten. false when the id is neither, or the database
    /// takes no changes now.
    bool eraseVehicle(const UniqueID& id);
    void chooseImage(const std::string& vehicleIdText);
    /// The vehicle's stored track of the duration the operator chooses,
    /// drawn as the page's history view; with no fix in that duration the
    /// operator is told so and the map is left as it is.
    void showTrackingLine(const std::string& vehicleIdText);
    void changeName(const std::string& vehicleIdText, const std::string& newName);
    /// true when the store took the record.
    bool updateOptionalInfo(const std::string& vehicleIdText, const std::string& imagePath, const std::string& info1,
                            const std::string& info2);

    /// The clock the tracking line counts its duration back from (UTC
    /// seconds); std::time unless a test sets another.
    void setClock(std::function<std::time_t()> now) { m_now = std::move(now); }

    /// Told of every event that reached the log and the page, with the
    /// vehicle's name as the operator set it (the alarm queue); none when
    /// empty.
    void setEventListener(std::function<void(const CallbackInfo&)> listener) { m_onEvent = std::move(listener); }

    /// Told of vehicles deleted for good and of vehicles the operator
    /// looked at; asked whether an id may still become a vehicle. None
    /// when null.
    void setAdmission(VehicleAdmission* admission) { m_admission = admission; }
    /// Told of every vehicle deleted for good (its alarms close); none
    /// when empty.
    void setErasedListener(std::function<void(const UniqueID&)> listener) { m_onErased = std::move(listener); }
    /// The watch rules: told of every message of a vehicle that is not
    /// removed (a fix with a position as a fix), at the clock's time, and of
    /// vehicles removed, deleted or edited; none when null.
    void setWatch(WatchHub* watch) { m_watch = watch; }

    /// Fixes go to the page a frame at a time through frames (none: each at
    /// once, as it comes).
    void setFrames(FixFrames* frames) { m_frames = frames; }
    /// Where the operator's vehicle changes are kept (none: app.db).
    void setVehicleStore(IVehicleStore* store) { m_vehicleStore = store; }
    /// Where tracks are read (none: app.db).
    void setHistory(HistoryReader* history) { m_history = history; }
    /// The page commands of one vehicle's frame: its name, time and stored
    /// position, then the move to fix when there is one. Nothing for a
    /// vehicle not known or removed.
    void showFrame(const UniqueID& id, const GPSInfo* fix);

    /// The settings window changed the vehicle time-out (minutes).
    void timeoutChanged(int minutes);

    /// The time text of vehicles and events: "2026-01-31 17:05:09".
    static std::string timeText(const DateTime& time);
    /// Whether a decoded fix carries a position at all (FixPosition::has):
    /// a sentence cut short or with empty latitude/longitude fields would
    /// read as 0/0 and put the vehicle off the coast of Africa, and so would
    /// the placeholder of a receiver without a fix (status V at 0/0). A
    /// position beyond the poles or the date line, or not finite, is no
    /// position either. Such a fix is stored as received and the vehicle is
    /// left where it is.
    static bool hasPosition(const GPSInfo& fix);
    static bool isOnEarth(double latitude, double longitude);
    /// Whether the vehicle's stored last position is one the page can show.
    static bool hasStoredPosition(const VehicleInfo& vehicle);
    /// The same, with the position read when there is one.
    static bool storedPosition(const VehicleInfo& vehicle, double& latitude, double& longitude);

private:
    VehicleInfo* findVehicle(const std::string& vehicleIdText);
    VehicleInfo* findVehicle(const UniqueID& id);
    void onEvent(CallbackInfo& message);
    void onFix(CallbackInfo& message);
    void onOptionalInfo(CallbackInfo& message);
    void upsertVehicle(const CallbackInfo& message, const std::string& time, bool storeNow);
    void updatePosition(const UniqueID& id, const GPSInfo& fix);
    void showHistory(const std::string& vehicleIdText);
    void store(VehicleInfo& vehicle);
    /// An operator's change of fields: to the shared store when there is
    /// one, else as store().
    void storeOperatorChange(VehicleInfo& vehicle, uint32_t fields);
    /// put() by the database queue's policy (DBManager::put); false when
    /// the record was given up.
    static bool queued(const std::function<bool()>& put);
    /// The operator looked at the vehicle: no longer unreviewed.
    void reviewed(const VehicleInfo& vehicle);

    IPageRunner& m_page;
    IOperator& m_desk;
    VehicleInfoContainer& m_vehicles;
    AbstractSetup& m_setup;
    std::function<std::time_t()> m_now = [] { return std::time(nullptr); };
    VehicleAdmission* m_admission = nullptr;
    WatchHub* m_watch = nullptr;
    std::function<void(const CallbackInfo&)> m_onEvent;
    FixFrames* m_frames = nullptr;
    IVehicleStore* m_vehicleStore = nullptr;
    HistoryReader* m_history = nullptr;
    std::function<void(const UniqueID&)> m_onErased;
};

} // namespace velmora
