#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

/// The kinds of alarm the queue knows, in one place: the device event kinds
/// (0 to 13, named in intake/EventTypeName) and the kinds the console's own
/// watch rules raise.
///
/// A device writes its event kind as a number of its own choosing; 0 to 13
/// are named today, 100 and 101 mark GPS fixes and vehicle information. The
/// rule kinds start at RULE_FIRST, far from both, so a recorder that gains
/// a few event kinds never lands on one. Rule kinds are never taken from
/// the network: an event a device sends with such a number is not an alarm
/// (AlarmBook::raise refuses it), so a forged datagram cannot raise
/// "Silent" for a vehicle that is talking.
class AlarmKinds {
public:
    static constexpr int32_t RULE_FIRST = 1000;
    /// A vehicle not heard for the silent time.
    static constexpr int32_t SILENT = 1000;
    /// A vehicle inside a zone for its dwell time, after being outside.
    static constexpr int32_t ZONE_ENTRY = 1001;
    /// A vehicle outside a zone for its dwell time, after being inside.
    static constexpr int32_t ZONE_EXIT = 1002;
    /// A vehicle above the speed limit for the speeding time.
    static constexpr int32_t SPEEDING = 1003;
    static constexpr int32_t RULE_COUNT = 4;

    /// Whether kind is one the watch rules raise.
    static bool isRuleKind(int32_t kind);
    /// The UTF-8 display name of a device kind (0 to 13) or a rule kind;
    /// "" for any other number.
    static const char* name(int32_t kind);
    /// The same name as UTF-16 text, for the windows.
    static const char16_t* wideName(int32_t kind);
    /// Every kind that can be an alarm, in the order the Setup window lists
    /// them: the device kinds, then the rule kinds.
    static std::vector<int32_t> all();
};

} // namespace velmora
