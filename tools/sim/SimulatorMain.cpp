// velmora-sim: sends the traffic of a simulated fleet of devices to a console.

#include "foundation/Exception.h"
#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/SocketAddress.h"
#include "tools/sim/FleetSimulator.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int) { g_interrupted = 1; }

const char* const USAGE =
    "Usage: velmora-sim [options]\n"
    "Sends the UDP messages of a simulated fleet of vehicle recorders to a Velmora console,\n"
    "so that a console can be tried without vehicles.\n"
    "\n"
    "Each vehicle comes on line with a GPS fix ($GPRMC) and sends one every --interval\n"
    "seconds while it drives a street grid around the centre at town speeds. Right after\n"
    "its first fix, and again every --info-interval seconds, it sends its optional\n"
    "information (Company, Maker, Model, Registration, Driver, License); events of kinds\n"
    "0 to 13 come at random. Nothing precedes a vehicle's first fix: the console knows a\n"
    "vehicle only from it.\n"
    "\n"
    "Options:\n"
    "  --host HOST             console address (default 127.0.0.1)\n"
    "  --port PORT             console callback port (default 10111)\n"
    "  --vehicles N            number of vehicles (default 10)\n"
    "  --interval SECONDS      seconds between two fixes of one vehicle (default 5)\n"
    "  --events-per-minute R   mean events per vehicle and minute (default 1; 0 = none)\n"
    "  --info-interval SECONDS seconds between two sendings of a vehicle's optional\n"
    "                          information (default 300; 0 = once, after the first fix)\n"
    "  --duration SECONDS      stop after this many seconds (default: until Ctrl-C)\n"
    "  --count N               stop after N messages\n"
    "  --rate R                messages per second overall, stamped in simulated time;\n"
    "                          0 = as fast as possible (default: real time, following\n"
    "                          --interval and --events-per-minute; replay: 100)\n"
    "  --seed N                seed of names, ids and paths (default 1; same seed, same fleet)\n"
    "  --center LAT,LON        centre of the area in degrees (default 47.3769,8.5417)\n"
    "  --radius KM             radius of the area (default 4)\n"
    "  --replay FILE           send each line of FILE as one datagram instead (line ends\n"
    "                          removed; --rate, --count and --duration apply)\n"
    "  --print                 write each message to standard output instead of sending\n"
    "  --quiet                 no progress lines, only the summary\n"
    "  --help                  this text\n"
    "\n"
    "To see the console's watch rules at work, the first vehicles can take roles:\n"
    "  --zone-circle LAT,LON,RADIUS\n"
    "                          one vehicle drives back and forth along an east-west road\n"
    "                          through the centre of a circle zone of RADIUS metres, out\n"
    "                          past its rim by the radius (at least 300 m) each way, at up\n"
    "                          to 30 km/h and slowly enough (down to 5 km/h) to spend a\n"
    "                          minute inside each time through: zone entries and exits\n"
    "  --zone-line LAT,LON[,METRES]\n"
    "                          the same along a road of METRES (default 2000) centred on\n"
    "                          a place, at 30 km/h, for a polygon zone around it\n"
    "  --speeding KMH          one vehicle drives 20 km/h above KMH for a minute, then a\n"
    "                          minute below it, in turn: speeding episodes\n"
    "  --silent-after SECONDS  one vehicle sends nothing more after SECONDS: a silent\n"
    "                          vehicle (the console's default is 10 minutes)\n"
    "Roles take the first vehicles in that order (the fleet grows to hold them); their\n"
    "names are printed at the start.\n"
    "\n"
    "Progress is printed once a second and a summary at the end, e.g.\n"
    "  sim: 12s sent=240 fixes=200 events=20 info=20 errors=0 (20.0/s)\n";

struct Settings {
    std::string host = "127.0.0.1";
    int port = 10111;
    FleetSimulator::Options fleet;
    double duration = -1;
    long long count = -1;
    double rate = -1;
    std::string replay;
    bool print = false;
    bool quiet = false;
};

[[noreturn]] void fail(const char* what, const char* value)
{
    std::fprintf(stderr, "velmora-sim: %s: '%s' (see --help)\n", what, value);
    std::exit(2);
}

double toDouble(const char* option, const char* text)
{
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value == value)) {
        fail(option, text);
    }
    return value;
}

long long toInteger(const char* option, const char* text, long long low, long long high)
{
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) {
        fail(option, text);
    }
    return value;
}

/// Two or three numbers separated by commas.
std::vector<double> numbers(const char* option, const char* text, size_t least, size_t most)
{
    std::vector<double> values;
    std::string rest = text;
    for (;;) {
        const size_t comma = rest.find(',');
        values.push_back(toDouble(option, rest.substr(0, comma).c_str()));
        if (comma == std::string::npos) {
            break;
        }
        rest.erase(0, comma + 1);
    }
    if (values.size() < least || values.size() > most) {
        fail(option, text);
    }
    return values;
}

void checkPlace(const char* option, const char* text, const std::vector<double>& n)
{
    if (std::abs(n[0]) > 89 || std::abs(n[1]) > 180) {
        fail(option, text);
    }
}

Settings parseArguments(int argc, char** argv)
{
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        }
        if (option == "--print") {
            s.print = true;
            continue;
        }
        if (option == "--quiet") {
            s.quiet = true;
            continue;
        }
        if (i + 1 >= argc) {
            fail("missing value or unknown option", argv[i]);
        }
        const char* value = argv[++i];
        const char* name = option.c_str();
        if (option == "--host") {
            s.host = value;
        } else if (option == "--port") {
            s.port = static_cast<int>(toInteger(name, value, 1, 65535));
        } else if (option == "--vehicles") {
            s.fleet.vehicles = static_cast<size_t>(toInteger(name, value, 1, 100000));
        } else if (option == "--interval") {
            s.fleet.intervalSeconds = toDouble(name, value);
            if (s.fleet.intervalSeconds <= 0) {
                fail(name, value);
            }
        } else if (option == "--events-per-minute") {
            s.fleet.eventsPerMinute = toDouble(name, value);
            if (s.fleet.eventsPerMinute < 0) {
                fail(name, value);
            }
        } else if (option == "--info-interval") {
            s.fleet.infoIntervalSeconds = toDouble(name, value);
            if (s.fleet.infoIntervalSeconds < 0) {
                fail(name, value);
            }
        } else if (option == "--duration") {
            s.duration = toDouble(name, value);
        } else if (option == "--count") {
            s.count = toInteger(name, value, 0, 1LL << 62);
        } else if (option == "--rate") {
            s.rate = toDouble(name, value);
            if (s.rate < 0) {
                fail(name, value);
            }
        } else if (option == "--seed") {
            s.fleet.seed = static_cast<uint64_t>(toInteger(name, value, 0, 1LL << 62));
        } else if (option == "--center" || option == "--centre") {
            const char* comma = std::strchr(value, ',');
            if (comma == nullptr) {
                fail(name, value);
            }
            s.fleet.centreLatitude = toDouble(name, std::string(value, comma).c_str());
            s.fleet.centreLongitude = toDouble(name, comma + 1);
            if (std::abs(s.fleet.centreLatitude) > 85 || std::abs(s.fleet.centreLongitude) > 180) {
                fail(name, value);
            }
        } else if (option == "--radius") {
            s.fleet.radiusKm = toDouble(name, value);
            if (s.fleet.radiusKm <= 0) {
                fail(name, value);
            }
        } else if (option == "--replay") {
            s.replay = value;
        } else if (option == "--zone-circle") {
            const std::vector<double> n = numbers(name, value, 3, 3);
            checkPlace(name, value, n);
            if (!(n[2] > 0 && n[2] <= 1000000)) {
                fail(name, value);
            }
            s.fleet.shuttle = FleetSimulator::Shuttle::throughCircle(n[0], n[1], n[2]);
        } else if (option == "--zone-line") {
            const std::vector<double> n = numbers(name, value, 2, 3);
            checkPlace(name, value, n);
            const double length = n.size() == 3 ? n[2] : 2000.0;
            if (!(length > 0 && length <= 1000000)) {
                fail(name, value);
            }
            s.fleet.shuttle = FleetSimulator::Shuttle::throughPoint(n[0], n[1], length);
        } else if (option == "--speeding") {
            s.fleet.speedingKmh = toDouble(name, value);
            if (!(s.fleet.speedingKmh > 0 && s.fleet.speedingKmh <= 1000)) {
                fail(name, value);
            }
        } else if (option == "--silent-after") {
            s.fleet.silentAfterSeconds = toDouble(name, value);
            if (s.fleet.silentAfterSeconds < 0) {
                fail(name, value);
            }
        } else {
            fail("unknown option", argv[i - 1]);
        }
    }
    return s;
}

using Clock = std::chrono::steady_clock;

class Sender {
public:
    explicit Sender(const Settings& settings) : m_settings(settings)
    {
        if (!settings.print) {
            m_address = SocketAddress(settings.host.c_str(), settings.port);
            m_socket.create();
        }
    }
    ~Sender()
    {
        try {
            m_socket.close();
        } catch (const Exception&) {
        }
    }

    void send(const std::string& text, SimMessage::Kind kind)
    {
        if (m_settings.print) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
        } else {
            try {
                int count = 0;
                // A full send queue is waited out briefly rather than dropped.
                if (!m_socket.sendTo(text.data(), text.size(), m_address, 1000, count)) {
                    ++m_errors;
                    return;
                }
            } catch (const Exception& e) {
                if (m_errors++ == 0) {
                    std::fprintf(stderr, "velmora-sim: send failed: %s\n", e.getMessage());
                }
                return;
            }
        }
        ++m_sent;
        ++m_byKind[kind];
    }

    void progress(const char* prefix, double seconds) const
    {
        std::fprintf(m_settings.print ? stderr : stdout,
                     "sim: %s%.0fs sent=%lld fixes=%lld events=%lld info=%lld errors=%lld (%.1f/s)\n", prefix,
                     seconds, m_sent, m_byKind[SimMessage::FIX], m_byKind[SimMessage::EVENT],
                     m_byKind[SimMessage::INFO], m_errors, seconds > 0 ? static_cast<double>(m_sent) / seconds : 0.0);
        std::fflush(m_settings.print ? stderr : stdout);
    }

    long long sent() const { return m_sent; }
    long long attempts() const { return m_sent + m_errors; }
    long long errors() const { return m_errors; }

private:
    const Settings& m_settings;
    DatagramSocket m_socket;
    SocketAddress m_address;
    long long m_sent = 0;
    long long m_errors = 0;
    long long m_byKind[3] = {0, 0, 0};
};

/// Sleeps until the wall-clock moment due, or until an interruption.
void waitUntil(Clock::time_point due)
{
    while (!g_interrupted) {
        const auto now = Clock::now();
        if (now >= due) {
            return;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(due - now, std::chrono::milliseconds(100)));
    }
}

/// Names the vehicles that have roles, so the operator knows whom to watch.
void describeRoles(const FleetSimulator& fleet, std::FILE* out)
{
    const FleetSimulator::Options& o = fleet.getOptions();
    if (int i = fleet.roleVehicle(SimVehicle::SHUTTLE); i >= 0) {
        std::fprintf(out, "sim: %s drives an east-west road of %.0f m through %.6f,%.6f at %.1f km/h\n",
                     fleet.vehicle(static_cast<size_t>(i)).name.c_str(), o.shuttle.lengthMetres, o.shuttle.latitude,
                     o.shuttle.longitude, o.shuttle.speedKmh);
    }
    if (int i = fleet.roleVehicle(SimVehicle::SPEEDER); i >= 0) {
        std::fprintf(out, "sim: %s drives at %.0f km/h and %.0f km/h a minute each in turn\n",
                     fleet.vehicle(static_cast<size_t>(i)).name.c_str(), FleetSimulator::speederKmh(o.speedingKmh, 0),
                     FleetSimulator::speederKmh(o.speedingKmh, 60));
    }
    if (int i = fleet.roleVehicle(SimVehicle::SILENT); i >= 0) {
        std::fprintf(out, "sim: %s falls silent after %.0f s\n", fleet.vehicle(static_cast<size_t>(i)).name.c_str(),
                     o.silentAfterSeconds);
    }
    std::fflush(out);
}

int run(const Settings& settings)
{
    Sender sender(settings);
    const auto start = Clock::now();
    auto nextProgress = start + std::chrono::seconds(1);
    const bool quiet = settings.quiet;
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    auto finished = [&] {
        return g_interrupted || (settings.count >= 0 && sender.attempts() >= settings.count) ||
               (settings.duration >= 0 && elapsed() >= settings.duration);
    };
    auto pace = [&](long long index, double simulatedAt, double rate) {
        std::chrono::duration<double> offset(rate > 0 ? static_cast<double>(index) / rate : simulatedAt);
        if (rate != 0) {
            auto due = start + std::chrono::duration_cast<Clock::duration>(offset);
            if (settings.duration >= 0) {
                due = std::min(due, start + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(settings.duration)));
            }
            waitUntil(due);
        }
        if (!quiet && Clock::now() >= nextProgress) {
            sender.progress("", elapsed());
            nextProgress += std::chrono::seconds(1);
        }
    };

    if (!settings.replay.empty()) {
        std::ifstream in(settings.replay, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "velmora-sim: cannot read %s: %s\n", settings.replay.c_str(), std::strerror(errno));
            return 1;
        }
        const double rate = settings.rate < 0 ? 100.0 : settings.rate;
        std::string line;
        long long index = 0;
        while (!finished() && std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            pace(index++, 0.0, rate);
            if (finished()) {
                break;
            }
            sender.send(line, SimMessage::EVENT);
        }
    } else {
        FleetSimulator fleet(settings.fleet);
        if (!quiet) {
            describeRoles(fleet, settings.print ? stderr : stdout);
        }
        long long index = 0;
        while (!finished()) {
            SimMessage message = fleet.next();
            if (std::isinf(message.at)) {
                // Every vehicle has fallen silent: wait for the end.
                while (!finished()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                break;
            }
            pace(index++, message.at, settings.rate);
            if (finished()) {
                break;
            }
            sender.send(message.text, message.kind);
        }
    }
    sender.progress("done in ", elapsed());
    return sender.errors() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const Settings settings = parseArguments(argc, argv);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    try {
        return run(settings);
    } catch (const Exception& e) {
        std::fprintf(stderr, "velmora-sim: %s\n", e.getMessage());
        return 1;
    }
}
