#include "store/SharedSettings.h"

#include "store/ChangeFeed.h"
#include "store/PgConnection.h"
#include "store/PgTransaction.h"
#include "rules/AlarmKinds.h"

#include <charconv>
#include <map>

namespace velmora {

namespace {

/// The whole text as a number; false for anything else.
bool readNumber(const std::string& text, int32_t& value)
{
    const char* end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, value);
    return read.ec == std::errc() && read.ptr == end;
}

int32_t numberOr(const std::map<std::string, std::string>& values, const std::string& key, int32_t fallback,
                 int32_t lowest, int32_t highest)
{
    const auto found = values.find(key);
    int32_t value = fallback;
    if (found == values.end() || !readNumber(found->second, value) || value < lowest || value > highest) {
        return fallback;
    }
    return value;
}

} // namespace

AlarmBook::Priorities SharedSettings::defaultPriorities()
{
    return {{13, 1},
            {11, 2},
            {AlarmKinds::SILENT, 2},
            {AlarmKinds::ZONE_ENTRY, 3},
            {AlarmKinds::ZONE_EXIT, 3},
            {AlarmKinds::SPEEDING, 3}};
}

SharedSettings::Values SharedSettings::load(PgConnection& connection)
{
    const PgResult rows = connection.execute("SELECT key, value FROM shared_setting");
    std::map<std::string, std::string> stored;
    for (int row = 0; row < rows.getRowCount(); ++row) {
        stored[rows.getString(row, 0)] = rows.getString(row, 1);
    }
    return fromTexts(stored);
}

SharedSettings::Values SharedSettings::fromTexts(const std::map<std::string, std::string>& stored)
{
    Values values;
    const Admission defaults;
    values.admission.knownOnly = numberOr(stored, KEY_ADMISSION_MODE, 0, 0, 1) == 1;
    values.admission.newPerMinute =
        numberOr(stored, KEY_NEW_PER_MINUTE, defaults.newPerMinute, PER_MINUTE_MIN, PER_MINUTE_MAX);
    values.admission.fleetLimit =
        numberOr(stored, KEY_FLEET_LIMIT, defaults.fleetLimit, FLEET_LIMIT_MIN, FLEET_LIMIT_MAX);
    const AlarmBook::Priorities fallback = defaultPriorities();
    for (const int32_t kind : AlarmKinds::all()) {
        const auto known = fallback.find(kind);
        const int32_t byDefault = known == fallback.end() ? 0 : known->second;
        const int32_t priority = numberOr(stored, KEY_ALARM_PRIORITY_PREFIX + std::to_string(kind), byDefault, 0,
                                          AlarmBook::PRIORITY_MAX);
        if (priority > 0) {
            values.priorities[kind] = priority;
        }
    }
    values.fixRetentionDays = numberOr(stored, KEY_FIX_RETENTION_DAYS, 0, 0, RETENTION_MAX_DAYS);
    const WatchSettings watch;
    values.watch.silentMinutes =
        numberOr(stored, KEY_SILENT_MINUTES, watch.silentMinutes, 0, WatchSettings::SILENT_MINUTES_MAX);
    values.watch.speedLimitKmh =
        numberOr(stored, KEY_SPEED_LIMIT, watch.speedLimitKmh, 0, WatchSettings::SPEED_LIMIT_MAX);
    values.watch.speedingSeconds =
        numberOr(stored, KEY_SPEEDING_SECONDS, watch.speedingSeconds, 0, WatchSettings::SPEEDING_SECONDS_MAX);
    // A vehicle's own silent minutes; a key naming no id, or a value out of
    // range (a negative one is "none of its own"), is no setting.
    const std::string prefix = KEY_VEHICLE_SILENT_PREFIX;
    for (auto it = stored.lower_bound(prefix); it != stored.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        UniqueID id;
        int32_t minutes = -1;
        if (UniqueID::parse(it->first.c_str() + prefix.size(), id) && readNumber(it->second, minutes) &&
            minutes >= 0 && minutes <= WatchSettings::SILENT_MINUTES_MAX) {
            values.vehicleSilentMinutes[id] = minutes;
        }
    }
    return values;
}

std::map<std::string, std::string> SharedSettings::toTexts(const Values& values)
{
    std::map<std::string, std::string> texts;
    texts[KEY_ADMISSION_MODE] = values.admission.knownOnly ? "1" : "0";
    texts[KEY_NEW_PER_MINUTE] = std::to_string(values.admission.newPerMinute);
    texts[KEY_FLEET_LIMIT] = std::to_string(values.admission.fleetLimit);
    for (const int32_t kind : AlarmKinds::all()) {
        const auto found = values.priorities.find(kind);
        texts[KEY_ALARM_PRIORITY_PREFIX + std::to_string(kind)] =
            std::to_string(found == values.priorities.end() ? 0 : found->second);
    }
    texts[KEY_FIX_RETENTION_DAYS] = std::to_string(values.fixRetentionDays);
    texts[KEY_SILENT_MINUTES] = std::to_string(values.watch.silentMinutes);
    texts[KEY_SPEED_LIMIT] = std::to_string(values.watch.speedLimitKmh);
    texts[KEY_SPEEDING_SECONDS] = std::to_string(values.watch.speedingSeconds);
    for (const auto& [id, minutes] : values.vehicleSilentMinutes) {
        texts[KEY_VEHICLE_SILENT_PREFIX + id.toText()] = std::to_string(minutes);
    }
    return texts;
}

void SharedSettings::write(PgConnection& connection, const std::string& key, const std::string& value,
                           const std::string& changedBy)
{
    connection.query("INSERT INTO shared_setting (key, value, changed_by) VALUES ($1, $2, $3) "
                     "ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value, changed = now(), "
                     "changed_by = EXCLUDED.changed_by",
                     {key, value, changedBy});
    ChangeFeed::append(connection, ChangeFeed::SETTING, key, changedBy);
}

void SharedSettings::store(PgConnection& connection, const Values& values, const std::string& changedBy)
{
    const std::string vehiclePrefix = KEY_VEHICLE_SILENT_PREFIX;
    PgTransaction transaction(connection);
    for (const auto& [key, value] : toTexts(values)) {
        if (key.compare(0, vehiclePrefix.size(), vehiclePrefix) != 0) {
            write(connection, key, value, changedBy);
        }
    }
    ChangeFeed::notify(connection, "settings");
    transaction.commit();
}

void SharedSettings::storeVehicleSilentMinutes(PgConnection& connection, const UniqueID& vehicle, int32_t minutes,
                                               const std::string& changedBy)
{
    const std::string key = KEY_VEHICLE_SILENT_PREFIX + vehicle.toText();
    PgTransaction transaction(connection);
    if (minutes >= 0) {
        write(connection, key, std::to_string(minutes), changedBy);
    } else {
        connection.query("DELETE FROM shared_setting WHERE key = $1", {key});
        ChangeFeed::append(connection, ChangeFeed::SETTING, key, changedBy);
    }
    ChangeFeed::notify(connection, "settings");
    transaction.commit();
}

} // namespace velmora
