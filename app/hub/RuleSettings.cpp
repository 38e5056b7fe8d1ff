#include "app/hub/RuleSettings.h"

#include "db/AbstractSetup.h"
#include "db/DatabaseException.h"
#include "db/FormatableSQL.h"
#include "db/RowSet.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

#include <charconv>
#include <cstring>

namespace velmora {

namespace {

int32_t within(int32_t value, int32_t highest, int32_t fallback) {
    return value < 0 || value > highest ? fallback : value;
}

// The whole text as a number, read the same in every locale.
bool readNumber(const char* text, int32_t& value) {
    if (text == nullptr) {
        return false;
    }
    const char* end = text + std::strlen(text);
    const auto read = std::from_chars(text, end, value);
    return read.ec == std::errc() && read.ptr == end && read.ptr != text;
}

} // namespace

WatchSettings RuleSettings::load(AbstractSetup& setup) {
    const WatchSettings defaults;
    WatchSettings settings;
    try {
        settings.silentMinutes = setup.getInt(KEY_SILENT_MINUTES, defaults.silentMinutes);
        settings.speedLimitKmh = setup.getInt(KEY_SPEED_LIMIT, defaults.speedLimitKmh);
        settings.speedingSeconds = setup.getInt(KEY_SPEEDING_SECONDS, defaults.speedingSeconds);
    } catch (const DatabaseException& e) {
        traceException(e);
        return defaults;
    }
    // A value edited by hand out of range falls back to its default.
    settings.silentMinutes = within(settings.silentMinutes, WatchSettings::SILENT_MINUTES_MAX, defaults.silentMinutes);
    settings.speedLimitKmh = within(settings.speedLimitKmh, WatchSettings::SPEED_LIMIT_MAX, defaults.speedLimitKmh);
    settings.speedingSeconds =
        within(settings.speedingSeconds, WatchSettings::SPEEDING_SECONDS_MAX, defaults.speedingSeconds);
    return settings;
}

void RuleSettings::store(SetupDatabase& database, const WatchSettings& settings) {
    database.setInt(KEY_SILENT_MINUTES, settings.silentMinutes);
    database.setInt(KEY_SPEED_LIMIT, settings.speedLimitKmh);
    database.setInt(KEY_SPEEDING_SECONDS, settings.speedingSeconds);
}

QString RuleSettings::check(const WatchSettings& settings) {
    if (settings.silentMinutes < 0 || settings.silentMinutes > WatchSettings::SILENT_MINUTES_MAX) {
        return QStringLiteral("Silent after must be between 0 ~ %1 minutes").arg(WatchSettings::SILENT_MINUTES_MAX);
    }
    if (settings.speedLimitKmh < 0 || settings.speedLimitKmh > WatchSettings::SPEED_LIMIT_MAX) {
        return QStringLiteral("Speed limit must be between 0 ~ %1 km/h").arg(WatchSettings::SPEED_LIMIT_MAX);
    }
    if (settings.speedingSeconds < 0 || settings.speedingSeconds > WatchSettings::SPEEDING_SECONDS_MAX) {
        return QStringLiteral("Speeding after must be between 0 ~ %1 seconds")
            .arg(WatchSettings::SPEEDING_SECONDS_MAX);
    }
    return QString();
}

std::string RuleSettings::vehicleKey(const UniqueID& vehicle) { return KEY_VEHICLE_SILENT_PREFIX + vehicle.toText(); }

std::map<UniqueID, int32_t> RuleSettings::loadVehicleSilentMinutes(AbstractSetup& setup) {
    std::map<UniqueID, int32_t> minutes;
    const size_t prefix = std::strlen(KEY_VEHICLE_SILENT_PREFIX);
    ScopedLock lock(setup.getLock());
    try {
        // One query for the fleet: a key per vehicle read one by one would
        // cost a statement per vehicle at every start.
        const FormatableSQL sql("SELECT key, value FROM setup WHERE substr(key, 1, %d) = '%q';",
                                static_cast<int>(prefix), KEY_VEHICLE_SILENT_PREFIX);
        RowSet rows(setup.getDatabase(), sql.getText());
        while (rows.next()) {
            const char* key = rows.getText(0);
            UniqueID id;
            int32_t value = -1;
            if (key != nullptr && std::strlen(key) > prefix && UniqueID::parse(key + prefix, id) &&
                readNumber(rows.getText(1), value) && value >= 0 && value <= WatchSettings::SILENT_MINUTES_MAX) {
                minutes[id] = value;
            }
        }
    } catch (const DatabaseException& e) {
        traceException(e);
        minutes.clear();
    }
    return minutes;
}

int32_t RuleSettings::vehicleSilentMinutes(AbstractSetup& setup, const UniqueID& vehicle) {
    const std::string key = vehicleKey(vehicle);
    ScopedLock lock(setup.getLock());
    try {
        const FormatableSQL sql("SELECT value FROM setup WHERE key = '%q';", key.c_str());
        RowSet rows(setup.getDatabase(), sql.getText());
        int32_t value = -1;
        if (rows.next() && readNumber(rows.getText(0), value) && value >= 0 &&
            value <= WatchSettings::SILENT_MINUTES_MAX) {
            return value;
        }
    } catch (const DatabaseException& e) {
        traceException(e);
    }
    return -1;
}

void RuleSettings::storeVehicleSilentMinutes(AbstractSetup& setup, const UniqueID& vehicle, int32_t minutes) {
    const std::string key = vehicleKey(vehicle);
    ScopedLock lock(setup.getLock());
    SetupDatabase& database = setup.getDatabase();
    if (minutes < 0) {
        const FormatableSQL sql("DELETE FROM setup WHERE key = '%q';", key.c_str());
        database.execute(sql.getText());
        return;
    }
    database.setInt(key.c_str(), minutes);
}

} // namespace velmora
