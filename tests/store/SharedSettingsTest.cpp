// The watch rules' shared settings as the store keeps them: texts in, the
// values the receiver runs by out; what is missing, unreadable or out of
// range reads as its default.

#include "store/SharedSettings.h"
#include "rules/AlarmKinds.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

const char* const VEHICLE = "00112233-4455-6677-8899-aabbccddee01";

UniqueID vehicle()
{
    UniqueID id;
    UniqueID::parse(VEHICLE, id);
    return id;
}

} // namespace

TEST(SharedSettingsTest, WatchSettingsFromTheirTexts)
{
    const std::string own = std::string(SharedSettings::KEY_VEHICLE_SILENT_PREFIX) + VEHICLE;
    struct Row {
        const char* label;
        std::map<std::string, std::string> texts;
        WatchSettings watch;
        std::map<UniqueID, int32_t> silent;
    };
    const Row rows[] = {
        {"nothing stored: the defaults", {}, WatchSettings{10, 0, 10}, {}},
        {"stored values",
         {{SharedSettings::KEY_SILENT_MINUTES, "0"},
          {SharedSettings::KEY_SPEED_LIMIT, "80"},
          {SharedSettings::KEY_SPEEDING_SECONDS, "3600"}},
         WatchSettings{0, 80, 3600},
         {}},
        {"out of range or unreadable: the defaults",
         {{SharedSettings::KEY_SILENT_MINUTES, "10081"},
          {SharedSettings::KEY_SPEED_LIMIT, "-1"},
          {SharedSettings::KEY_SPEEDING_SECONDS, "5,5"}},
         WatchSettings{10, 0, 10},
         {}},
        {"a vehicle's own minutes", {{own, "25"}}, WatchSettings{}, {{vehicle(), 25}}},
        {"a vehicle's own 0 is never", {{own, "0"}}, WatchSettings{}, {{vehicle(), 0}}},
        {"negative, too large, no number: none of its own",
         {{own, "-1"},
          {std::string(SharedSettings::KEY_VEHICLE_SILENT_PREFIX) + "00112233-4455-6677-8899-aabbccddee02", "10081"},
          {std::string(SharedSettings::KEY_VEHICLE_SILENT_PREFIX) + "00112233-4455-6677-8899-aabbccddee03", "1e3"}},
         WatchSettings{},
         {}},
        {"a key naming no vehicle", {{std::string(SharedSettings::KEY_VEHICLE_SILENT_PREFIX) + "truck", "5"}},
         WatchSettings{}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const SharedSettings::Values values = SharedSettings::fromTexts(row.texts);
        EXPECT_EQ(values.watch, row.watch);
        EXPECT_EQ(values.vehicleSilentMinutes, row.silent);
        // What is read writes back to the same values.
        const SharedSettings::Values again = SharedSettings::fromTexts(SharedSettings::toTexts(values));
        EXPECT_EQ(again.watch, values.watch);
        EXPECT_EQ(again.vehicleSilentMinutes, values.vehicleSilentMinutes);
        EXPECT_EQ(again.priorities, values.priorities);
    }
    // The rule kinds are alarms by default: Silent 2, the others 3; a desk
    // may make one a plain event.
    const AlarmBook::Priorities defaults = SharedSettings::fromTexts({}).priorities;
    EXPECT_EQ(defaults.at(AlarmKinds::SILENT), 2);
    EXPECT_EQ(defaults.at(AlarmKinds::ZONE_ENTRY), 3);
    EXPECT_EQ(defaults.at(AlarmKinds::ZONE_EXIT), 3);
    EXPECT_EQ(defaults.at(AlarmKinds::SPEEDING), 3);
    EXPECT_EQ(SharedSettings::fromTexts({{"setup/AlarmPriority/1003", "0"}}).priorities.count(AlarmKinds::SPEEDING),
              0u);
}
