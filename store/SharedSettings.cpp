#include "store/SharedSettings.h"

#include "store/ChangeFeed.h"
#include "store/PgConnection.h"
#include "store/PgTransaction.h"

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
    return {{13, 1}, {11, 2}};
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
    for (int32_t kind = 0; kind < EVENT_KINDS; ++kind) {
        const auto known = fallback.find(kind);
        const int32_t byDefault = known == fallback.end() ? 0 : known->second;
        const int32_t priority = numberOr(stored, KEY_ALARM_PRIORITY_PREFIX + std::to_string(kind), byDefault, 0,
                                          AlarmBook::PRIORITY_MAX);
        if (priority > 0) {
            values.priorities[kind] = priority;
        }
    }
    values.fixRetentionDays = numberOr(stored, KEY_FIX_RETENTION_DAYS, 0, 0, RETENTION_MAX_DAYS);
    return values;
}

std::map<std::string, std::string> SharedSettings::toTexts(const Values& values)
{
    std::map<std::string, std::string> texts;
    texts[KEY_ADMISSION_MODE] = values.admission.knownOnly ? "1" : "0";
    texts[KEY_NEW_PER_MINUTE] = std::to_string(values.admission.newPerMinute);
    texts[KEY_FLEET_LIMIT] = std::to_string(values.admission.fleetLimit);
    for (int32_t kind = 0; kind < EVENT_KINDS; ++kind) {
        const auto found = values.priorities.find(kind);
        texts[KEY_ALARM_PRIORITY_PREFIX + std::to_string(kind)] =
            std::to_string(found == values.priorities.end() ? 0 : found->second);
    }
    texts[KEY_FIX_RETENTION_DAYS] = std::to_string(values.fixRetentionDays);
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
    PgTransaction transaction(connection);
    for (const auto& [key, value] : toTexts(values)) {
        write(connection, key, value, changedBy);
    }
    ChangeFeed::notify(connection, "settings");
    transaction.commit();
}

} // namespace velmora
