#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class CallbackInfo;
class GPSInfo;
class VehicleInfo;
struct MapView;

/// The script lines the native side sends to the map page, one command per
/// line, with the exact texts the page's functions expect (some end with
/// ";", some do not). Text arguments are UTF-8.
///
/// Every quoted value is escaped for a single-quoted script string:
/// backslash and apostrophe get a backslash, and every control character
/// (U+0000-U+001F, U+007F-U+009F) and U+2028/U+2029 is written as \uXXXX,
/// so no value can end the string or the line early. Ordinary ids, times
/// and coordinates come out unchanged. Lines are built at the size the
/// values need: nothing is cut. Numbers are written the same in every
/// locale ("%f": six decimals, a dot); a value that is not finite is written
/// as NaN/Infinity so the line still runs.
///
/// Pure functions; any thread.
class MapCommands {
public:
    /// The texts of one vehicle record that commands draw on.
    struct Vehicle {
        std::string id;
        std::string name;
        std::string editedName;
        std::string lastUpdatedTime;
        std::string lastUpdatedLatitude;
        std::string lastUpdatedLongitude;
        std::string company;
        std::string maker;
        std::string model;
        std::string registration;
        std::string driver;
        std::string license;
        std::string info1;
        std::string info2;
        std::string imagePath;

        /// edited name when not empty, else the device's own name.
        const std::string& getDisplayName() const { return editedName.empty() ? name : editedName; }
    };

    /// One stored fix as the page's history view replays it: signed degrees,
    /// the course (-1 when unknown), the speed in knots and the stored time
    /// text.
    struct TrackFix {
        double latitude = 0;
        double longitude = 0;
        double course = -1;
        double speed = 0;
        std::string time;
    };

    /// The value escaped for a single-quoted script string.
    static QString escape(std::string_view utf8);
    static QString escape(const QString& value);
    /// "%f" in the C locale; NaN, Infinity or -Infinity when not finite.
    static QString number(double value);

    static QString setPageSize(int width, int height);
    static QString resetTimeout(int minutes);
    static QString sortVehicleList();
    /// "beginFleetLoad();" and "endFleetLoad();" bracket the stored fleet's
    /// inserts at page load: the page places their icons in one pass at the
    /// end instead of one by one.
    static QString beginFleetLoad();
    static QString endFleetLoad();
    static QString insertVehicleLine(int loaded, std::string_view latitude, std::string_view longitude,
                                     std::string_view id, std::string_view displayName, std::string_view time);
    static QString insertOptionalInfo(int loaded, std::string_view id, std::string_view displayName,
                                      std::string_view company, std::string_view maker, std::string_view model,
                                      std::string_view registration, std::string_view driver,
                                      std::string_view license);
    static QString insertUserDefinedInfo(std::string_view id, std::string_view imagePath, std::string_view info1,
                                         std::string_view info2);
    static QString updateVehicle(std::string_view latitude, std::string_view longitude, std::string_view id,
                                 std::string_view displayName, std::string_view time);
    static QString updateVehicleName(std::string_view id, std::string_view name);
    static QString updateUserDefinedInfo(std::string_view id, std::string_view displayName, std::string_view info1,
                                         std::string_view info2, std::string_view imagePath);
    static QString updateImgPath(std::string_view id, std::string_view imagePath);
    static QString updateOptionalInfo(std::string_view id, std::string_view displayName, std::string_view company,
                                      std::string_view maker, std::string_view model, std::string_view registration,
                                      std::string_view driver, std::string_view license);
    static QString moveTo(double latitude, double longitude, double speed, int hour, int minute, int second,
                          double course, std::string_view id);
    static QString updateEventInfo(int eventType, std::string_view vehicleName, std::string_view time,
                                   std::string_view deviceTitle, std::string_view id);
    static QString deleteVehicle(std::string_view id);
    /// "setAlarm('id', 1)": the vehicle's marker and list entry blink (1)
    /// or stop blinking (0).
    static QString setAlarm(std::string_view id, bool on);
    /// "setAlarms(['id', ...], ['id', ...])": the first vehicles' markers
    /// and list entries blink, the second ones' stop; the page places them
    /// and marks its groups once for all of them.
    static QString setAlarms(const std::vector<std::string>& on, const std::vector<std::string>& off);
    /// "showAlarmVehicle('id')": selects the vehicle and brings it into view.
    static QString showAlarmVehicle(std::string_view id);
    /// "setMapView(lat, lng, zoom);": the map shows the view the console
    /// kept from the last run.
    static QString setMapView(const MapView& view);
    /// "fitFleet();": the map shows every vehicle with a position (the
    /// whole world while there is none, following the first ones to come).
    static QString fitFleet();
    static QString enableTooltip();
    static QString hideTooltip();
    static QString showTrackingMap();
    static QString insertGpsInfo(double latitude, double longitude, double course);
    static QString showTrackingLine(double latitude, double longitude);
    /// "insertGpsInfo(%f, %f, %f, %f, '%s');": a history point with its speed
    /// and time after the three values the page takes without them.
    static QString insertGpsInfo(const TrackFix& fix);
    /// "insertGpsTrack([lat, lng, course, speed, 'time', ...]);": count
    /// history points in one page call, five values each, for tracks too
    /// long to send a line per point.
    static QString insertGpsTrack(const TrackFix* fixes, size_t count);
    /// "insertFleet([['lat', 'lng', 'id', 'name', 'time', 'company', 'maker',
    /// 'model', 'registration', 'driver', 'license', 'imagePath', 'info1',
    /// 'info2'], ...]);": count stored vehicles in one page call, each row
    /// doing what the compound insertVehicle with loaded == 1 does. The
    /// image paths are sent as given (the caller turns backslashes).
    static QString insertFleet(const Vehicle* vehicles, size_t count);

    /// The compound insertVehicle: the insertVehicle and insertOptionalInfo
    /// lines, and with loaded == 1 the insertUserDefinedInfo line too, whose
    /// image path has its backslashes turned into forward slashes; that
    /// path is also stored back into vehicle.imagePath.
    static QStringList insertVehicle(int loaded, Vehicle& vehicle);
    /// The same for the record as stored, with its path already converted.
    static QStringList insertVehicle(int loaded, const Vehicle& vehicle);
    /// updateVehicle, updateOptionalInfo, updateUserDefinedInfo,
    /// updateVehicleName from a record.
    static QString updateVehicle(const Vehicle& vehicle);
    static QString updateOptionalInfo(const Vehicle& vehicle);
    static QString updateUserDefinedInfo(const Vehicle& vehicle);
    static QString updateVehicleName(const Vehicle& vehicle);

    /// The texts of a stored vehicle record.
    static Vehicle fromRecord(const VehicleInfo& record);
    /// The compound insertVehicle for a stored record; with loaded == 1 the
    /// record's image path is stored back with forward slashes (in memory).
    static QStringList insertVehicle(int loaded, VehicleInfo& record);
    static QString updateVehicle(const VehicleInfo& record);
    static QString updateOptionalInfo(const VehicleInfo& record);
    static QString updateUserDefinedInfo(const VehicleInfo& record);
    static QString updateVehicleName(const VehicleInfo& record);

    /// moveTo for a fix: signed degrees, the speed field, the course (-1 when
    /// empty) and the fix's hour, minute and second.
    static QString moveTo(const GPSInfo& fix, std::string_view id);

    /// A command of a vehicle's frame (insertVehicle, updateVehicle, moveTo,
    /// as made here) as a row of runFrame: "['moveTo', 47.1, ...]"; empty
    /// for any other command.
    static QString frameRow(const QString& command);
    /// "runFrame([row, ...]);": the page runs each row's call on its own,
    /// in order. Thousands of calls as one literal cost the page a fraction
    /// of what a script of thousands of statements costs it to read.
    static QString runFrame(const QStringList& rows, qsizetype from, qsizetype count);
    static QString insertGpsInfo(const GPSInfo& fix);
    static QString showTrackingLine(const GPSInfo& fix);
    /// updateEventInfo for a device message and its time text.
    static QString updateEventInfo(const CallbackInfo& message, std::string_view time);

    /// path with every backslash turned into a forward slash.
    static std::string forwardSlashes(std::string_view path);
};

} // namespace velmora
