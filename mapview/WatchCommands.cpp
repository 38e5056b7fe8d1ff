#include "mapview/WatchCommands.h"

#include "mapview/MapCommands.h"
#include "rules/Zone.h"

namespace velmora {

namespace {

QString quoted(std::string_view text) { return QLatin1Char('\'') + MapCommands::escape(text) + QLatin1Char('\''); }

QString line(const char* function, const QString& arguments) {
    return QLatin1String(function) + QLatin1Char('(') + arguments + QLatin1String(");");
}

} // namespace

QString WatchCommands::putZone(const Zone& zone) {
    const QString comma = QStringLiteral(", ");
    return line("putZone", QString::number(zone.getId()) + comma + quoted(zone.getName()) + comma +
                               quoted(zone.shapeText()) + comma + quoted(zone.geometryText()) + comma +
                               QString::number(zone.getAlarmOnEntry() ? 1 : 0) + comma +
                               QString::number(zone.getAlarmOnExit() ? 1 : 0) + comma +
                               QString::number(zone.getDwellSeconds()) + comma +
                               QString::number(zone.getSpeedLimitKmh()));
}

QString WatchCommands::removeZone(int32_t id) { return line("removeZone", QString::number(id)); }

QString WatchCommands::startZoneDrawing(bool circle) {
    return line("startZoneDrawing", circle ? QStringLiteral("'circle'") : QStringLiteral("'polygon'"));
}

QString WatchCommands::cancelZoneDrawing() { return line("cancelZoneDrawing", QString()); }

QString WatchCommands::editZone(int32_t id) { return line("editZone", QString::number(id)); }

QString WatchCommands::showZone(int32_t id) { return line("showZone", QString::number(id)); }

QString WatchCommands::setZonesVisible(bool visible) {
    return line("setZonesVisible", visible ? QStringLiteral("1") : QStringLiteral("0"));
}

QString WatchCommands::setHistoryVehicle(std::string_view vehicleId) {
    return line("setHistoryVehicle", quoted(vehicleId));
}

QString WatchCommands::markHistoryPlace(double latitude, double longitude, std::string_view label) {
    return line("markHistoryPlace", MapCommands::number(latitude) + QStringLiteral(", ") +
                                        MapCommands::number(longitude) + QStringLiteral(", ") + quoted(label));
}

} // namespace velmora
