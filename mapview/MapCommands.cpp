#include "mapview/MapCommands.h"

#include "db/VehicleInfo.h"
#include "intake/CallbackInfo.h"
#include "intake/GPSInfo.h"
#include "mapview/MapView.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <initializer_list>

namespace velmora {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "'a', 'b', ..." with every value escaped.
QString quotedList(std::initializer_list<std::string_view> values)
{
    QString list;
    for (std::string_view value : values) {
        if (!list.isEmpty())
            list += QLatin1String(", ");
        list += QLatin1Char('\'');
        list += MapCommands::escape(value);
        list += QLatin1Char('\'');
    }
    return list;
}

QString call(const char* function, const QString& arguments, bool semicolon)
{
    QString line = QLatin1String(function);
    line += QLatin1Char('(');
    line += arguments;
    line += QLatin1Char(')');
    if (semicolon)
        line += QLatin1Char(';');
    return line;
}

} // namespace

QString MapCommands::escape(std::string_view utf8)
{
    return escape(fromUtf8(utf8));
}

QString MapCommands::escape(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u == u'\\') {
            out += QLatin1String("\\\\");
        } else if (u == u'\'') {
            out += QLatin1String("\\'");
        } else if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029) {
            // A raw line break ends the script line mid-string; the others
            // would reach the page as invisible garbage or break the line.
            out += QStringLiteral("\\u%1").arg(static_cast<unsigned>(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

QString MapCommands::number(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    // C's "%f" to the letter, negative zero included ("-0.000000" for a fix
    // at 0000.0000,S), and never the process locale's comma, which would
    // turn one argument into two. Room for the longest double written so.
    char text[DBL_MAX_10_EXP + 16];
    const std::to_chars_result written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return QString::fromLatin1(text, static_cast<qsizetype>(written.ptr - text));
}

QString MapCommands::setPageSize(int width, int height)
{
    return QStringLiteral("setPageSize(%1, %2);").arg(width).arg(height);
}

QString MapCommands::resetTimeout(int minutes)
{
    return QStringLiteral("resetTimeout(%1);").arg(minutes);
}

QString MapCommands::sortVehicleList()
{
    return QStringLiteral("sortVehicleList();");
}

QString MapCommands::beginFleetLoad()
{
    return QStringLiteral("beginFleetLoad();");
}

QString MapCommands::endFleetLoad()
{
    return QStringLiteral("endFleetLoad();");
}

QString MapCommands::insertVehicleLine(int loaded, std::string_view latitude, std::string_view longitude,
                                       std::string_view id, std::string_view displayName, std::string_view time)
{
    return call("insertVehicle",
                QString::number(loaded) + QLatin1String(", ")
                    + quotedList({latitude, longitude, id, displayName, time}),
                false);
}

QString MapCommands::insertOptionalInfo(int loaded, std::string_view id, std::string_view displayName,
                                        std::string_view company, std::string_view maker, std::string_view model,
                                        std::string_view registration, std::string_view driver,
                                        std::string_view license)
{
    return call("insertOptionalInfo",
                QString::number(loaded) + QLatin1String(", ")
                    + quotedList({id, displayName, company, maker, model, registration, driver, license}),
                false);
}

QString MapCommands::insertUserDefinedInfo(std::string_view id, std::string_view imagePath, std::string_view info1,
                                           std::string_view info2)
{
    return call("insertUserDefinedInfo", quotedList({id, imagePath, info1, info2}), false);
}

QString MapCommands::updateVehicle(std::string_view latitude, std::string_view longitude, std::string_view id,
                                   std::string_view displayName, std::string_view time)
{
    return call("updateVehicle", quotedList({latitude, longitude, id, displayName, time}), false);
}

QString MapCommands::updateVehicleName(std::string_view id, std::string_view name)
{
    return call("updateVehicleName", quotedList({id, name}), false);
}

QString MapCommands::updateUserDefinedInfo(std::string_view id, std::string_view displayName,
                                           std::string_view info1, std::string_view info2,
                                           std::string_view imagePath)
{
    return call("updateUserDefinedInfo", quotedList({id, displayName, info1, info2, imagePath}), false);
}

QString MapCommands::updateImgPath(std::string_view id, std::string_view imagePath)
{
    return call("updateImgPath", quotedList({id, imagePath}), false);
}

QString MapCommands::updateOptionalInfo(std::string_view id, std::string_view displayName,
                                        std::string_view company, std::string_view maker, std::string_view model,
                                        std::string_view registration, std::string_view driver,
                                        std::string_view license)
{
    return call("updateOptionalInfo",
                quotedList({id, displayName, company, maker, model, registration, driver, license}), false);
}

QString MapCommands::moveTo(double latitude, double longitude, double speed, int hour, int minute, int second,
                            double course, std::string_view id)
{
    const QString separator = QStringLiteral(", ");
    return call("moveTo",
                number(latitude) + separator + number(longitude) + separator + number(speed) + separator
                    + QString::number(hour) + separator + QString::number(minute) + separator
                    + QString::number(second) + separator + number(course) + separator + quotedList({id}),
                true);
}

QString MapCommands::updateEventInfo(int eventType, std::string_view vehicleName, std::string_view time,
                                     std::string_view deviceTitle, std::string_view id)
{
    return call("updateEventInfo",
                QString::number(eventType) + QLatin1String(", ") + quotedList({vehicleName, time, deviceTitle, id}),
                false);
}

QString MapCommands::deleteVehicle(std::string_view id)
{
    return call("deleteVehicle", quotedList({id}), false);
}

QString MapCommands::setAlarm(std::string_view id, bool on)
{
    return call("setAlarm", quotedList({id}) + (on ? QStringLiteral(", 1") : QStringLiteral(", 0")), false);
}

QString MapCommands::setAlarms(const std::vector<std::string>& on, const std::vector<std::string>& off)
{
    const auto array = [](const std::vector<std::string>& ids) {
        QString text = QStringLiteral("[");
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i != 0)
                text += QLatin1String(", ");
            text += QLatin1Char('\'');
            text += escape(ids[i]);
            text += QLatin1Char('\'');
        }
        return text + QLatin1Char(']');
    };
    return call("setAlarms", array(on) + QLatin1String(", ") + array(off), false);
}

QString MapCommands::showAlarmVehicle(std::string_view id)
{
    return call("showAlarmVehicle", quotedList({id}), false);
}

QString MapCommands::setMapView(const MapView& view)
{
    return QStringLiteral("setMapView(%1, %2, %3);")
        .arg(number(view.latitude), number(view.longitude))
        .arg(view.zoom);
}

QString MapCommands::fitFleet()
{
    return QStringLiteral("fitFleet();");
}

QString MapCommands::enableTooltip()
{
    return QStringLiteral("enableTooltip()");
}

QString MapCommands::hideTooltip()
{
    return QStringLiteral("hideTooltip()");
}

QString MapCommands::showTrackingMap()
{
    return QStringLiteral("showTrackingMap()");
}

QString MapCommands::insertGpsInfo(double latitude, double longitude, double course)
{
    return call("insertGpsInfo",
                number(latitude) + QLatin1String(", ") + number(longitude) + QLatin1String(", ") + number(course),
                true);
}

QString MapCommands::showTrackingLine(double latitude, double longitude)
{
    return call("showTrackingLine", number(latitude) + QLatin1String(", ") + number(longitude), true);
}

QString MapCommands::insertGpsInfo(const TrackFix& fix)
{
    const QString separator = QStringLiteral(", ");
    return call("insertGpsInfo",
                number(fix.latitude) + separator + number(fix.longitude) + separator + number(fix.course)
                    + separator + number(fix.speed) + separator + quotedList({fix.time}),
                true);
}

namespace {

// "%f" of number(), written straight into the line: a long track is
// hundreds of thousands of numbers.
void appendNumber(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += MapCommands::number(value).toStdString();
        return;
    }
    char text[64];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    out.append(text, end.ptr);
}

// A stored time text as DATETIME writes it needs no escaping; anything else
// goes through escape().
void appendQuoted(std::string& out, std::string_view text)
{
    out += '\'';
    bool plain = true;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\'' || c == '\\' || byte < 0x20 || byte >= 0x7F) {
            plain = false;
            break;
        }
    }
    if (plain)
        out.append(text);
    else
        out += MapCommands::escape(text).toStdString();
    out += '\'';
}

} // namespace

QString MapCommands::insertFleet(const Vehicle* vehicles, size_t count)
{
    QString line = QStringLiteral("insertFleet([");
    line.reserve(line.size() + static_cast<qsizetype>(count) * 200 + 4);
    for (size_t i = 0; i < count; ++i) {
        const Vehicle& v = vehicles[i];
        if (i > 0)
            line += QLatin1String(", ");
        line += QLatin1Char('[');
        line += quotedList({v.lastUpdatedLatitude, v.lastUpdatedLongitude, v.id, v.getDisplayName(),
                            v.lastUpdatedTime, v.company, v.maker, v.model, v.registration, v.driver, v.license,
                            v.imagePath, v.info1, v.info2});
        line += QLatin1Char(']');
    }
    line += QLatin1String("]);");
    return line;
}

QString MapCommands::insertGpsTrack(const TrackFix* fixes, size_t count)
{
    std::string line = "insertGpsTrack([";
    line.reserve(line.size() + count * 80 + 4);
    for (size_t i = 0; i < count; ++i) {
        const TrackFix& fix = fixes[i];
        if (i > 0)
            line += ", ";
        appendNumber(line, fix.latitude);
        line += ", ";
        appendNumber(line, fix.longitude);
        line += ", ";
        appendNumber(line, fix.course);
        line += ", ";
        appendNumber(line, fix.speed);
        line += ", ";
        appendQuoted(line, fix.time);
    }
    line += "]);";
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

std::string MapCommands::forwardSlashes(std::string_view path)
{
    std::string result(path);
    for (char& c : result) {
        if (c == '\\')
            c = '/';
    }
    return result;
}

QStringList MapCommands::insertVehicle(int loaded, Vehicle& vehicle)
{
    if (loaded == 1)
        vehicle.imagePath = forwardSlashes(vehicle.imagePath);
    return insertVehicle(loaded, static_cast<const Vehicle&>(vehicle));
}

QStringList MapCommands::insertVehicle(int loaded, const Vehicle& vehicle)
{
    const std::string& displayName = vehicle.getDisplayName();
    QStringList lines;
    lines << insertVehicleLine(loaded, vehicle.lastUpdatedLatitude, vehicle.lastUpdatedLongitude, vehicle.id,
                               displayName, vehicle.lastUpdatedTime);
    lines << insertOptionalInfo(loaded, vehicle.id, displayName, vehicle.company, vehicle.maker, vehicle.model,
                                vehicle.registration, vehicle.driver, vehicle.license);
    if (loaded == 1)
        lines << insertUserDefinedInfo(vehicle.id, forwardSlashes(vehicle.imagePath), vehicle.info1, vehicle.info2);
    return lines;
}

QString MapCommands::updateVehicle(const Vehicle& vehicle)
{
    return updateVehicle(vehicle.lastUpdatedLatitude, vehicle.lastUpdatedLongitude, vehicle.id,
                         vehicle.getDisplayName(), vehicle.lastUpdatedTime);
}

QString MapCommands::updateOptionalInfo(const Vehicle& vehicle)
{
    return updateOptionalInfo(vehicle.id, vehicle.getDisplayName(), vehicle.company, vehicle.maker, vehicle.model,
                              vehicle.registration, vehicle.driver, vehicle.license);
}

QString MapCommands::updateUserDefinedInfo(const Vehicle& vehicle)
{
    return updateUserDefinedInfo(vehicle.id, vehicle.getDisplayName(), vehicle.info1, vehicle.info2,
                                 vehicle.imagePath);
}

QString MapCommands::updateVehicleName(const Vehicle& vehicle)
{
    return updateVehicleName(vehicle.id, vehicle.name);
}

MapCommands::Vehicle MapCommands::fromRecord(const VehicleInfo& record)
{
    Vehicle v;
    v.id = record.getId().toText();
    v.name = record.getName();
    v.editedName = record.getEditedName();
    v.lastUpdatedTime = record.getLastUpdatedTime();
    v.lastUpdatedLatitude = record.getLastUpdatedLatitude();
    v.lastUpdatedLongitude = record.getLastUpdatedLongitude();
    v.company = record.getCompany();
    v.maker = record.getMaker();
    v.model = record.getModel();
    v.registration = record.getRegistration();
    v.driver = record.getDriver();
    v.license = record.getLicense();
    v.info1 = record.getInfo1();
    v.info2 = record.getInfo2();
    v.imagePath = record.getImagePath();
    return v;
}

QStringList MapCommands::insertVehicle(int loaded, VehicleInfo& record)
{
    Vehicle v = fromRecord(record);
    const QStringList lines = insertVehicle(loaded, v);
    if (loaded == 1)
        record.setImagePath(v.imagePath);
    return lines;
}

QString MapCommands::updateVehicle(const VehicleInfo& record)
{
    // Every vehicle of a frame comes here: only the five texts it needs.
    const std::string& name = record.getEditedName().empty() ? record.getName() : record.getEditedName();
    return updateVehicle(record.getLastUpdatedLatitude(), record.getLastUpdatedLongitude(), record.getId().toText(),
                         name, record.getLastUpdatedTime());
}

QString MapCommands::updateOptionalInfo(const VehicleInfo& record)
{
    return updateOptionalInfo(fromRecord(record));
}

QString MapCommands::updateUserDefinedInfo(const VehicleInfo& record)
{
    return updateUserDefinedInfo(fromRecord(record));
}

QString MapCommands::updateVehicleName(const VehicleInfo& record)
{
    return updateVehicleName(fromRecord(record));
}

QString MapCommands::moveTo(const GPSInfo& fix, std::string_view id)
{
    const Time time = fix.getUtcTime();
    return moveTo(fix.getLatitude(), fix.getLongitude(), fix.getSpeed(), time.getHour(), time.getMinute(),
                  time.getSecond(), fix.getBearing(), id);
}

QString MapCommands::frameRow(const QString& command)
{
    static const QLatin1String FRAME_CALLS[] = {QLatin1String("insertVehicle("), QLatin1String("updateVehicle("),
                                                QLatin1String("moveTo(")};
    const qsizetype end = command.endsWith(QLatin1String(");")) ? command.size() - 2
                          : command.endsWith(QLatin1Char(')'))  ? command.size() - 1
                                                                : -1;
    for (const QLatin1String& call : FRAME_CALLS) {
        if (end >= call.size() && command.startsWith(call)) {
            QString row = QLatin1String("['");
            row += QStringView(command).left(call.size() - 1);
            row += QLatin1Char('\'');
            if (end > call.size()) {
                row += QLatin1String(", ");
                row += QStringView(command).mid(call.size(), end - call.size());
            }
            row += QLatin1Char(']');
            return row;
        }
    }
    return QString();
}

QString MapCommands::runFrame(const QStringList& rows, qsizetype from, qsizetype count)
{
    QString line = QStringLiteral("runFrame([");
    for (qsizetype i = from; i < from + count; ++i) {
        if (i > from)
            line += QLatin1String(",\n");
        line += rows[i];
    }
    line += QLatin1String("]);");
    return line;
}

QString MapCommands::insertGpsInfo(const GPSInfo& fix)
{
    return insertGpsInfo(fix.getLatitude(), fix.getLongitude(), fix.getBearing());
}

QString MapCommands::showTrackingLine(const GPSInfo& fix)
{
    return showTrackingLine(fix.getLatitude(), fix.getLongitude());
}

QString MapCommands::updateEventInfo(const CallbackInfo& message, std::string_view time)
{
    return updateEventInfo(message.getEventType(), message.getVehicleName(), time, message.getDeviceTitle(),
                           message.getVehicleID().toText());
}

} // namespace velmora
