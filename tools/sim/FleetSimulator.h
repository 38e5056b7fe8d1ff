#pragma once

#include "foundation/DateTime.h"
#include "foundation/UniqueID.h"

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace velmora {

/// One simulated vehicle: who it is and where it drives.
struct SimVehicle {
    /// What the vehicle is there to show: nothing special, the zone rules
    /// (it shuttles along a road through a place), the speeding rule (a
    /// minute above the speed, a minute below) or the silent rule (it stops
    /// sending).
    enum Role { ORDINARY, SHUTTLE, SPEEDER, SILENT };

    Role role = ORDINARY;
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
    /// Seconds after which it sends nothing more.
    double silentFrom = INFINITY;
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
///
/// So that each watch rule of the console can be seen without vehicles, the
/// first vehicles may take roles: a shuttle drives back and forth along a
/// straight east-west road through a place (a zone's centre), a speeder
/// spends a minute above a speed and a minute below it in turn, and a
/// silent vehicle stops sending after a while. Each role takes the next
/// vehicle, in that order; the fleet grows to hold them.
class FleetSimulator {
public:
    /// The shuttle's road: centred on the place, lengthMetres long, driven
    /// at speedKmh, starting from its west end.
    struct Shuttle {
        bool on = false;
        double latitude = 0;
        double longitude = 0;
        double lengthMetres = 2000.0;
        double speedKmh = 30.0;

        /// A road through a circle zone: out past its rim by the larger of
        /// its radius and 300 m on each side, driven at up to 30 km/h but
        /// slowly enough to be inside for a minute each time through, so
        /// the zone's dwell time (30 s by default) is passed inside and
        /// outside.
        static Shuttle throughCircle(double latitude, double longitude, double radiusMetres);
        /// A road of lengthMetres through a place, at 30 km/h.
        static Shuttle throughPoint(double latitude, double longitude, double lengthMetres);
    };

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
        /// A vehicle driving through a zone (off: none).
        Shuttle shuttle;
        /// A vehicle going 20 km/h above this speed a minute at a time;
        /// 0: none.
        double speedingKmh = 0;
        /// A vehicle that sends nothing after this many seconds; negative:
        /// none.
        double silentAfterSeconds = -1;
    };

    explicit FleetSimulator(const Options& options);

    /// The next message in simulated time order. When every vehicle has
    /// fallen silent there is none: the message's time is infinite and its
    /// text empty.
    SimMessage next();
    /// The index of the vehicle in role; -1 when no vehicle has it.
    int roleVehicle(SimVehicle::Role role) const;
    /// The speed a speeder keeps: above while the minute is even.
    static double speederKmh(double speedingKmh, double at);
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
    void shuttleTo(SimVehicle& vehicle, double at);
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
