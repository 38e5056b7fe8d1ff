#pragma once

#include <cstdint>

namespace velmora {

/// The operator's settings of the watch rules that hold for the whole
/// fleet; a vehicle may have its own silent time and a zone its own limit.
struct WatchSettings {
    static constexpr int32_t SILENT_MINUTES_DEFAULT = 10;
    static constexpr int32_t SILENT_MINUTES_MAX = 10080;
    static constexpr int32_t SPEEDING_SECONDS_DEFAULT = 10;
    static constexpr int32_t SPEEDING_SECONDS_MAX = 3600;
    static constexpr int32_t SPEED_LIMIT_MAX = 1000;

    /// Minutes without a message before a vehicle is Silent; 0 never.
    int32_t silentMinutes = SILENT_MINUTES_DEFAULT;
    /// km/h; 0 is no limit outside zones with a limit of their own.
    int32_t speedLimitKmh = 0;
    /// Seconds above the limit before an episode counts.
    int32_t speedingSeconds = SPEEDING_SECONDS_DEFAULT;

    bool operator==(const WatchSettings& other) const = default;
};

} // namespace velmora
