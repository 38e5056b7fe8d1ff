#pragma once

#include "foundation/DateTime.h"
#include "foundation/UniqueID.h"

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace velmora {

/// One simulated vehicle: who it is and where it drives.
struct SimVehicle {
    std::string name;
    UniqueID id;
    std::map<std::string, std::string> info;
    double latitude = 0;
    double longitude = 0;
    /// Degrees clockwise from north; one of the four street directions.
    double heading = 0;
    double speedKmh = 0;
    double targetSpeedKmh = 0;
    /// Metres left to the next crossing.
    double toCrossing = 0;
    double movedAt = 0;
    double nextFix = 0;
    double nextEvent = 0;
    /// When the optional information goes next.
    double nextInfo = 0;
    /// Whether the first fix has gone: a console knows a vehicle only from
    /// its first fix, so nothing else is sent before it.
    bool fixSent = false;
    int32_t ordinal = 0;
};

/// One message the simulator sends, with what it means.
struct SimMessage {
    enum Kind { INFO, FIX, EVENT };
    Kind kind = FIX;
    size_t vehicle = 0;
    /// The datagram text.
    std::string text;
    int32_t eventType = 0;
    std::string title;
    /// Seconds since the simulation began.
    double at = 0;
    DateTime time;
    double latitude = 0;
    double longitude = 0;
    double speedKnots = 0;
    double course = 0;
};

/// Generates the traffic of a fleet of devices in simulated time: each
/// vehicle comes on line with a GPS fix, sends its optional information
/// (Company, Maker, Model, Registration, Driver, License) right after that
/// first fix and again every info interval, as recorders do, then fixes every
/// interval while it drives a street grid around the centre, and events of
/// kinds 0 to 13 at random.
/// The same seed gives the same names, ids and paths.
class FleetSimulator {
public:
    struct Options {
        size_t vehicles = 10;
        uint64_t seed = 1;
        double centreLatitude = 47.3769;
        double centreLongitude = 8.5417;
        double radiusKm = 4.0;
        double intervalSeconds = 5.0;
        double eventsPerMinute = 1.0;
        /// Seconds between two sendings of a vehicle's optional information;
        /// 0 sends it once only.
        double infoIntervalSeconds = 300.0;
        /// Unix seconds of the simulation's start; 0 means now.
        int64_t startEpoch = 0;
    };

    explicit FleetSimulator(const Options& options);

    /// The next message in simulated time order.
    SimMessage next();
    const SimVehicle& vehicle(size_t index) const { return m_vehicles.at(index); }
    size_t vehicleCount() const { return m_vehicles.size(); }
    const Options& getOptions() const { return m_options; }

    /// The "*hh" checksum of a sentence starting with "$": XOR of the bytes
    /// between "$" and the end, two upper-case hex digits.
    static std::string checksum(const std::string& sentence);
    /// Encodes a text field: a comma becomes the unit separator, and an
    /// empty text one space.
    static std::string wireText(const std::string& text);

private:
    double uniform();
    double uniform(double low, double high);
    double exponential(double mean);
    void makeVehicle(size_t index);
    void moveTo(SimVehicle& vehicle, double at);
    void turnAtCrossing(SimVehicle& vehicle);
    DateTime clockAt(double at, int* milliseconds = nullptr) const;
    std::string head(SimVehicle& vehicle, int32_t eventType, const std::string& title, uint32_t flags,
                     const DateTime& time);
    SimMessage infoMessage(size_t index);
    SimMessage fixMessage(size_t index);
    SimMessage eventMessage(size_t index);

    Options m_options;
    std::mt19937_64 m_random;
    double m_gridAngle = 0;
    std::vector<SimVehicle> m_vehicles;
};

} // namespace velmora
