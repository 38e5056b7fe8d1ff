#include "tools/sim/FleetSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace velmora {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double METRES_PER_DEGREE = 111320.0;
constexpr double KNOTS_PER_KMH = 1.0 / 1.852;
constexpr double BLOCK_MIN_METRES = 90.0;
constexpr double BLOCK_MAX_METRES = 260.0;
// The optional information follows the first fix this much later.
constexpr double INFO_AFTER_FIRST_FIX = 0.05;
// A shuttle through a circle goes at least this far past its rim, and spends
// about this long inside it.
constexpr double SHUTTLE_MARGIN_METRES = 300.0;
constexpr double SHUTTLE_INSIDE_SECONDS = 60.0;

const char* const KINDS[] = {"Truck", "Van", "Bus", "Taxi", "Tow", "Courier", "Ambulance", "Coach"};
const char* const QUARTERS[] = {"North", "Süd", "Harbour", "Łódź Road", "Østre", "Riverside", "Airport", "Old Town"};
const char* const COMPANIES[] = {"North Depot, Ltd.", "Alpen Transporte AG", "Cityline Buses", "Kraków Cargo",
                                 "Harbour Logistics", "Blue Cab Co."};
const char* const MAKERS[] = {"Mercedes-Benz", "Volvo", "Scania", "Iveco", "MAN", "Renault", "Ford", "Toyota"};
const char* const MODELS[] = {"Sprinter", "FH16", "R 450", "Daily", "TGX", "Master", "Transit", "Hiace"};
const char* const DRIVERS[] = {"Anna Keller", "Jonas Berg", "Marta Nowak", "Luis García", "Émile Durand",
                               "Sofia Rossi", "Night shift", "Ole Hansen"};

template <size_t N>
const char* pick(const char* const (&table)[N], uint64_t value)
{
    return table[value % N];
}

std::string formatted(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return std::string(buffer, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

/// ddmm.mmmm (or dddmm.mmmm) of an absolute angle, minutes rounded to 4 places.
std::string nmeaAngle(double degrees, int degreeDigits)
{
    double whole = std::floor(degrees);
    double minutes = std::round((degrees - whole) * 60.0 * 10000.0) / 10000.0;
    if (minutes >= 60.0) {
        whole += 1.0;
        minutes -= 60.0;
    }
    return formatted("%0*d%07.4f", degreeDigits, static_cast<int>(whole), minutes);
}

} // namespace

FleetSimulator::Shuttle FleetSimulator::Shuttle::throughCircle(double latitude, double longitude,
                                                               double radiusMetres)
{
    Shuttle shuttle;
    shuttle.on = true;
    shuttle.latitude = latitude;
    shuttle.longitude = longitude;
    shuttle.lengthMetres = 2.0 * (radiusMetres + std::max(radiusMetres, SHUTTLE_MARGIN_METRES));
    // A minute inside each time through, but no crawl below 5 km/h.
    shuttle.speedKmh = std::clamp(2.0 * radiusMetres / SHUTTLE_INSIDE_SECONDS * 3.6, 5.0, 30.0);
    return shuttle;
}

FleetSimulator::Shuttle FleetSimulator::Shuttle::throughPoint(double latitude, double longitude,
                                                              double lengthMetres)
{
    Shuttle shuttle;
    shuttle.on = true;
    shuttle.latitude = latitude;
    shuttle.longitude = longitude;
    shuttle.lengthMetres = lengthMetres;
    return shuttle;
}

FleetSimulator::FleetSimulator(const Options& options) : m_options(options), m_random(options.seed)
{
    if (m_options.startEpoch == 0) {
        m_options.startEpoch = static_cast<int64_t>(std::time(nullptr));
    }
    if (m_options.intervalSeconds <= 0) {
        m_options.intervalSeconds = 1.0;
    }
    std::vector<SimVehicle::Role> roles;
    if (m_options.shuttle.on && m_options.shuttle.lengthMetres > 0 && m_options.shuttle.speedKmh > 0) {
        roles.push_back(SimVehicle::SHUTTLE);
    }
    if (m_options.speedingKmh > 0) {
        roles.push_back(SimVehicle::SPEEDER);
    }
    if (m_options.silentAfterSeconds >= 0) {
        roles.push_back(SimVehicle::SILENT);
    }
    m_options.vehicles = std::max(m_options.vehicles, roles.size());
    m_gridAngle = uniform(0.0, 90.0);
    m_vehicles.resize(m_options.vehicles);
    for (size_t i = 0; i < m_vehicles.size(); ++i) {
        makeVehicle(i);
    }
    for (size_t i = 0; i < roles.size(); ++i) {
        SimVehicle& v = m_vehicles[i];
        v.role = roles[i];
        if (v.role == SimVehicle::SHUTTLE) {
            shuttleTo(v, v.movedAt);
        } else if (v.role == SimVehicle::SPEEDER) {
            v.targetSpeedKmh = speederKmh(m_options.speedingKmh, v.movedAt);
            v.speedKmh = v.targetSpeedKmh;
        } else {
            v.silentFrom = m_options.silentAfterSeconds;
        }
    }
}

int FleetSimulator::roleVehicle(SimVehicle::Role role) const
{
    for (size_t i = 0; i < m_vehicles.size(); ++i) {
        if (m_vehicles[i].role == role) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

double FleetSimulator::speederKmh(double speedingKmh, double at)
{
    const bool above = static_cast<int64_t>(std::floor(at / 60.0)) % 2 == 0;
    if (above) {
        return speedingKmh + 20.0;
    }
    return speedingKmh > 40.0 ? speedingKmh - 20.0 : speedingKmh / 2.0;
}

void FleetSimulator::shuttleTo(SimVehicle& v, double at)
{
    // Back and forth along the road: out to the east end, back to the west.
    const Shuttle& road = m_options.shuttle;
    const double metresPerSecond = road.speedKmh / 3.6;
    const double leg = road.lengthMetres / metresPerSecond;
    const double phase = std::fmod(std::max(at, 0.0), 2.0 * leg);
    const bool eastward = phase < leg;
    const double along = eastward ? phase * metresPerSecond : road.lengthMetres - (phase - leg) * metresPerSecond;
    const double east = along - road.lengthMetres / 2.0;
    v.latitude = road.latitude;
    double longitude = road.longitude + east / (METRES_PER_DEGREE * std::cos(road.latitude * PI / 180.0));
    // A road across the antimeridian stays on the map's longitudes.
    if (longitude >= 180.0) {
        longitude -= 360.0;
    } else if (longitude < -180.0) {
        longitude += 360.0;
    }
    v.longitude = longitude;
    v.heading = eastward ? 90.0 : 270.0;
    v.speedKmh = road.speedKmh;
    v.targetSpeedKmh = road.speedKmh;
    v.movedAt = at;
}

double FleetSimulator::uniform() { return static_cast<double>(m_random() >> 11) * 0x1.0p-53; }

double FleetSimulator::uniform(double low, double high) { return low + (high - low) * uniform(); }

double FleetSimulator::exponential(double mean) { return -mean * std::log(1.0 - uniform()); }

void FleetSimulator::makeVehicle(size_t index)
{
    SimVehicle& v = m_vehicles[index];
    uint8_t bytes[16];
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(m_random());
    }
    bytes[7] = static_cast<uint8_t>((bytes[7] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    v.id = UniqueID::fromBytes(bytes);
    const uint64_t r = m_random();
    // Some names carry a comma or non-ASCII letters, as real fleets' do.
    if (index % 5 == 3) {
        v.name = formatted("%s %02zu, %s", pick(KINDS, r), index + 1, pick(QUARTERS, r >> 8));
    } else {
        v.name = formatted("%s %02zu", pick(KINDS, r), index + 1);
    }
    v.info["Company"] = pick(COMPANIES, r >> 16);
    v.info["Maker"] = pick(MAKERS, r >> 24);
    v.info["Model"] = pick(MODELS, r >> 32);
    v.info["Registration"] = formatted("ZH %05u", static_cast<unsigned>((r >> 40) % 100000));
    v.info["Driver"] = pick(DRIVERS, r >> 48);
    v.info["License"] = formatted("L-%06u", static_cast<unsigned>((r >> 20) % 1000000));

    const double radiusMetres = m_options.radiusKm * 1000.0 * std::sqrt(uniform()) * 0.8;
    const double bearing = uniform(0.0, 2 * PI);
    v.latitude = m_options.centreLatitude + radiusMetres * std::cos(bearing) / METRES_PER_DEGREE;
    v.longitude = m_options.centreLongitude +
                  radiusMetres * std::sin(bearing) / (METRES_PER_DEGREE * std::cos(v.latitude * PI / 180.0));
    v.heading = std::fmod(m_gridAngle + 90.0 * static_cast<double>(m_random() % 4), 360.0);
    v.targetSpeedKmh = uniform(20.0, 55.0);
    v.speedKmh = v.targetSpeedKmh;
    v.toCrossing = uniform(BLOCK_MIN_METRES, BLOCK_MAX_METRES);
    // Devices come on line over the first interval, not all at once, each
    // with a fix.
    const double onlineAt = uniform(0.0, m_options.intervalSeconds);
    v.movedAt = onlineAt;
    v.nextFix = onlineAt;
    v.fixSent = false;
    v.nextInfo = onlineAt + std::min(INFO_AFTER_FIRST_FIX, m_options.intervalSeconds / 2);
    v.nextEvent = m_options.eventsPerMinute > 0 ? onlineAt + exponential(60.0 / m_options.eventsPerMinute)
                                                : INFINITY;
    v.ordinal = 0;
}

void FleetSimulator::turnAtCrossing(SimVehicle& v)
{
    v.toCrossing = uniform(BLOCK_MIN_METRES, BLOCK_MAX_METRES);
    const double north = (v.latitude - m_options.centreLatitude) * METRES_PER_DEGREE;
    const double east =
        (v.longitude - m_options.centreLongitude) * METRES_PER_DEGREE * std::cos(v.latitude * PI / 180.0);
    const double away = std::hypot(north, east);
    double choice = uniform();
    if (away > m_options.radiusKm * 1000.0) {
        // Outside the area: take the street direction that heads most nearly home.
        double best = v.heading;
        double bestScore = 2.0;
        for (int k = 0; k < 4; ++k) {
            const double h = std::fmod(m_gridAngle + 90.0 * k, 360.0);
            const double score = (north * std::cos(h * PI / 180.0) + east * std::sin(h * PI / 180.0)) / away;
            if (score < bestScore) {
                bestScore = score;
                best = h;
            }
        }
        v.heading = best;
    } else if (choice < 0.2) {
        v.heading = std::fmod(v.heading + 270.0, 360.0);
    } else if (choice < 0.4) {
        v.heading = std::fmod(v.heading + 90.0, 360.0);
    }
    // A new block, a new pace; now and then a red light.
    v.targetSpeedKmh = uniform() < 0.1 ? 0.0 : uniform(20.0, 60.0);
    if (v.role == SimVehicle::SPEEDER) {
        // The speeder's pace is its role's, lights or not.
        v.targetSpeedKmh = speederKmh(m_options.speedingKmh, v.movedAt);
    }
}

void FleetSimulator::moveTo(SimVehicle& v, double at)
{
    if (v.role == SimVehicle::SHUTTLE) {
        shuttleTo(v, at);
        return;
    }
    if (v.role == SimVehicle::SPEEDER) {
        v.targetSpeedKmh = speederKmh(m_options.speedingKmh, at);
    }
    double dt = at - v.movedAt;
    v.movedAt = at;
    // Speed follows its target gently (about 2 m/s per second).
    const double change = 7.0 * dt;
    if (v.speedKmh < v.targetSpeedKmh) {
        v.speedKmh = std::min(v.targetSpeedKmh, v.speedKmh + change);
    } else {
        v.speedKmh = std::max(v.targetSpeedKmh, v.speedKmh - change);
    }
    if (v.speedKmh <= 0.0) {
        // Waiting at a light; it turns green by the next fix.
        v.targetSpeedKmh = uniform(20.0, 50.0);
        return;
    }
    double metres = v.speedKmh / 3.6 * dt;
    while (metres > 0) {
        const double step = std::min(metres, v.toCrossing);
        const double h = v.heading * PI / 180.0;
        v.latitude += step * std::cos(h) / METRES_PER_DEGREE;
        v.longitude += step * std::sin(h) / (METRES_PER_DEGREE * std::cos(v.latitude * PI / 180.0));
        metres -= step;
        v.toCrossing -= step;
        if (v.toCrossing <= 0) {
            turnAtCrossing(v);
            if (v.targetSpeedKmh <= 0.0) {
                v.speedKmh = 0.0;
                break;
            }
        }
    }
}

DateTime FleetSimulator::clockAt(double at, int* milliseconds) const
{
    const double whole = std::floor(at);
    const time_t seconds = static_cast<time_t>(m_options.startEpoch + static_cast<int64_t>(whole));
    if (milliseconds != nullptr) {
        *milliseconds = std::min(999, static_cast<int>((at - whole) * 1000.0));
    }
    tm parts{};
    gmtime_r(&seconds, &parts);
    return DateTime(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
}

std::string FleetSimulator::checksum(const std::string& sentence)
{
    unsigned value = 0;
    for (size_t i = sentence.empty() || sentence[0] != '$' ? 0 : 1; i < sentence.size(); ++i) {
        value ^= static_cast<unsigned char>(sentence[i]);
    }
    return formatted("*%02X", value & 0xFF);
}

std::string FleetSimulator::wireText(const std::string& text)
{
    if (text.empty()) {
        return " ";
    }
    std::string wire = text;
    std::replace(wire.begin(), wire.end(), ',', '\x1F');
    return wire;
}

std::string FleetSimulator::head(SimVehicle& v, int32_t eventType, const std::string& title, uint32_t flags,
                                 const DateTime& time)
{
    const int32_t ordinal = v.ordinal++;
    return formatted("%s,%d,%d, ,%s,%u,%d,%d, ,0, ,%s", wireText(v.name).c_str(), eventType, ordinal,
                     wireText(title).c_str(), flags, time.getDate().getValue(), time.getTime().getValue(),
                     v.id.toText().c_str());
}

SimMessage FleetSimulator::infoMessage(size_t index)
{
    SimVehicle& v = m_vehicles[index];
    SimMessage m;
    m.kind = SimMessage::INFO;
    m.vehicle = index;
    m.at = v.nextInfo;
    moveTo(v, m.at);
    m.time = clockAt(m.at);
    m.eventType = 101;
    m.text = head(v, 101, "", 0, m.time) + ",x," + std::to_string(v.info.size());
    for (const auto& [key, value] : v.info) {
        m.text += "," + key + "," + wireText(value);
    }
    m.latitude = v.latitude;
    m.longitude = v.longitude;
    v.nextInfo = m_options.infoIntervalSeconds > 0 ? v.nextInfo + m_options.infoIntervalSeconds : INFINITY;
    return m;
}

SimMessage FleetSimulator::fixMessage(size_t index)
{
    SimVehicle& v = m_vehicles[index];
    SimMessage m;
    m.kind = SimMessage::FIX;
    m.vehicle = index;
    m.at = v.nextFix;
    moveTo(v, m.at);
    int millis = 0;
    m.time = clockAt(m.at, &millis);
    m.eventType = 100;
    m.latitude = v.latitude;
    m.longitude = v.longitude;
    m.speedKnots = std::round(v.speedKmh * KNOTS_PER_KMH * 100.0) / 100.0;
    m.course = std::round(v.heading * 100.0) / 100.0;
    const Time& t = m.time.getTime();
    const Date& d = m.time.getDate();
    std::string sentence = formatted(
        "$GPRMC,%02d%02d%02d.%03d,A,%s,%c,%s,%c,%.2f,%.2f,%02d%02d%02d,,,A", t.getHour(), t.getMinute(),
        t.getSecond(), millis, nmeaAngle(std::fabs(v.latitude), 2).c_str(), v.latitude < 0 ? 'S' : 'N',
        nmeaAngle(std::fabs(v.longitude), 3).c_str(), v.longitude < 0 ? 'W' : 'E', m.speedKnots, m.course,
        d.getDay(), d.getMonth(), d.getYear() % 100);
    m.text = head(v, 100, "GPS", 0, m.time) + "," + sentence + checksum(sentence);
    v.nextFix += m_options.intervalSeconds;
    v.fixSent = true;
    return m;
}

SimMessage FleetSimulator::eventMessage(size_t index)
{
    SimVehicle& v = m_vehicles[index];
    SimMessage m;
    m.kind = SimMessage::EVENT;
    m.vehicle = index;
    m.at = v.nextEvent;
    moveTo(v, m.at);
    m.time = clockAt(m.at);
    m.eventType = static_cast<int32_t>(m_random() % 14);
    const unsigned channel = static_cast<unsigned>(m_random() % 4) + 1;
    switch (m.eventType) {
    case 0:
    case 3:
        m.title = formatted("IN%u", channel);
        break;
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
        m.title = "HDD1";
        break;
    case 9:
    case 10:
        m.title = "Archive";
        break;
    case 11:
        m.title = "G-Sensor";
        break;
    case 12:
        m.title = "FAN";
        break;
    case 13:
        m.title = "PANIC";
        break;
    default:
        m.title = formatted("CAM%u", channel);
        break;
    }
    m.latitude = v.latitude;
    m.longitude = v.longitude;
    m.text = head(v, m.eventType, m.title, 1u << (channel - 1), m.time);
    v.nextEvent += exponential(60.0 / m_options.eventsPerMinute);
    return m;
}

SimMessage FleetSimulator::next()
{
    size_t best = 0;
    double bestAt = INFINITY;
    int what = -1;
    // A silent vehicle's messages after it fell silent never come.
    auto due = [](const SimVehicle& v, double at) { return at < v.silentFrom ? at : INFINITY; };
    for (size_t i = 0; i < m_vehicles.size(); ++i) {
        const SimVehicle& v = m_vehicles[i];
        if (due(v, v.nextFix) < bestAt) {
            best = i;
            bestAt = v.nextFix;
            what = 1;
        }
        if (!v.fixSent) {
            continue;
        }
        if (due(v, v.nextInfo) < bestAt) {
            best = i;
            bestAt = v.nextInfo;
            what = 0;
        }
        if (due(v, v.nextEvent) < bestAt) {
            best = i;
            bestAt = v.nextEvent;
            what = 2;
        }
    }
    if (what == 0) {
        return infoMessage(best);
    }
    if (what == 2) {
        return eventMessage(best);
    }
    if (what == 1) {
        return fixMessage(best);
    }
    SimMessage none;
    none.at = INFINITY;
    return none;
}

} // namespace velmora
