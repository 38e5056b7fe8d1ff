#pragma once

// Device messages for the intake benchmarks, made by the fleet simulator.

#include "tools/sim/FleetSimulator.h"

#include <string>
#include <vector>

namespace velmora {

/// GPS messages of exactly `size` bytes: simulated fixes whose first aux
/// field is widened with blanks to reach the size.
inline std::vector<std::string> gpsMessagesOfSize(size_t count, size_t size)
{
    FleetSimulator::Options options;
    options.vehicles = 50;
    options.seed = 11;
    options.startEpoch = 1767225600;
    options.eventsPerMinute = 0;
    FleetSimulator fleet(options);
    std::vector<std::string> messages;
    while (messages.size() < count) {
        SimMessage m = fleet.next();
        if (m.kind != SimMessage::FIX || m.text.size() > size) {
            continue;
        }
        const size_t at = m.text.find(", ,0, ,");
        if (at == std::string::npos) {
            continue;
        }
        m.text.insert(at + 1, size - m.text.size(), ' ');
        messages.push_back(m.text);
    }
    return messages;
}

/// The simulator's own mix: optional information, fixes and events.
inline std::vector<std::string> mixedMessages(size_t count)
{
    FleetSimulator::Options options;
    options.vehicles = 40;
    options.seed = 5;
    options.startEpoch = 1767225600;
    options.eventsPerMinute = 2;
    FleetSimulator fleet(options);
    std::vector<std::string> messages;
    while (messages.size() < count) {
        messages.push_back(fleet.next().text);
    }
    return messages;
}

} // namespace velmora
