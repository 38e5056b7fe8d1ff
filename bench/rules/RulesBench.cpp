// Fixes per vehicle through the watch rules with 1,000 zones, the zone index
// against a linear scan over every zone (the same rules, Lookup::Linear) in
// the same run. Every fix is timed on its own; the scan runs a sample of the
// vehicles, one of every 20 groups of ten, which holds every kind of track.
//
// The fleet: 10,000 vehicles, a fix every 5 s for 15 minutes, on a grid of
// zones (circles and hexagons of 200 to 300 m, 3 km apart) lying across the
// antimeridian at 50°N. Each vehicle's track is one of ten kinds, and the
// alarms it must raise follow from the kind and its zone's settings alone:
//
//   0-2  visit: crosses its zone at 18 km/h (a minute or more inside) and
//        parks 1.2 km past it: an entry and an exit as the zone alarms, and
//        a speeding episode where the zone's limit is 15 km/h
//   3    drive-by: crosses a zone without a limit of its own at 90 km/h,
//        under 30 s inside: nothing
//   4    parked inside from its first fix: nothing
//   5    parked on a circle's rim, its fixes 4 m in and out by turns: nothing
//   6    speeder on a road between the zones: 120 km/h from 100 s to 200 s
//        (the limit is 100), 60 km/h otherwise: one episode
//   7    drives a road between the zones at 50 km/h and falls silent at
//        120 s: one Silent alarm 10 minutes after its last fix
//   8-9  drives a road between the zones at 50 km/h: nothing
//
// rules: vehicles= zones= fixes= p99_us_per_fix= baseline_linear_us_per_fix=
//        alarms_expected= alarms_raised= mean_us_per_fix= speedup=

#include "rules/AlarmRequest.h"
#include "rules/GeoPoint.h"
#include "rules/WatchRules.h"
#include "rules/Zone.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int VEHICLES = 10000;
constexpr int COLUMNS = 40;
constexpr int ROWS = 25;
constexpr int ZONES = COLUMNS * ROWS;
constexpr double SPACING = 3000.0;
constexpr int SECONDS = 900;
constexpr int FIX_EVERY = 5;
constexpr int TICK_EVERY = 10;
constexpr int SILENT_FROM = 120;
constexpr int LIMIT_KMH = 100;
constexpr double KNOTS_PER_KMH = 1.0 / 1.852;
const GeoPoint ORIGIN{50.0, 180.0};
constexpr std::time_t START = 1796839200;

/// metres north and east of ORIGIN, on the rules' sphere.
GeoPoint at(double north, double east) {
    const double metresPerDegree = GeoPoint::EARTH_RADIUS * std::numbers::pi / 180.0;
    const double latitude = ORIGIN.latitude + north / metresPerDegree;
    const double longitude =
        ORIGIN.longitude + east / (metresPerDegree * std::cos(latitude * std::numbers::pi / 180.0));
    return {latitude, GeoPoint::normalLongitude(longitude)};
}

struct ZonePlan {
    double north;
    double east;
    double size;
    bool polygon;
    bool onEntry;
    bool onExit;
    bool limited;
};

ZonePlan zonePlan(int k) {
    ZonePlan z;
    z.north = (k / COLUMNS - ROWS / 2) * SPACING;
    z.east = (k % COLUMNS - COLUMNS / 2) * SPACING;
    z.size = 200.0 + (k * 37 % 101);
    z.polygon = k % 4 == 3;
    z.onEntry = k % 3 != 2;
    z.onExit = k % 3 != 0;
    z.limited = k % 7 == 0;
    return z;
}

Zone makeZone(int k) {
    const ZonePlan p = zonePlan(k);
    Zone zone;
    if (p.polygon) {
        // A hexagon with corners east and west of its centre.
        std::vector<GeoPoint> corners;
        for (int i = 0; i < 6; ++i) {
            const double a = i * std::numbers::pi / 3.0;
            corners.push_back(at(p.north + p.size * std::sin(a), p.east + p.size * std::cos(a)));
        }
        zone = Zone::polygon(k + 1, "Zone " + std::to_string(k + 1), corners);
    } else {
        zone = Zone::circle(k + 1, "Zone " + std::to_string(k + 1), at(p.north, p.east), p.size);
    }
    zone.setAlarmOnEntry(p.onEntry);
    zone.setAlarmOnExit(p.onExit);
    zone.setSpeedLimitKmh(p.limited ? 15 : 0);
    return zone;
}

struct Track {
    int kind;
    int zone;
};

Track trackOf(int vehicle) {
    Track t{vehicle % 10, vehicle * 7919 % ZONES};
    if (t.kind == 3 && zonePlan(t.zone).limited) {
        t.zone = (t.zone + 1) % ZONES;
    }
    if (t.kind == 5 && zonePlan(t.zone).polygon) {
        t.zone = (t.zone + 1) % ZONES;
    }
    return t;
}

/// The alarms a track must raise, from its kind and its zone's settings.
int expectedAlarms(const Track& t) {
    const ZonePlan z = zonePlan(t.zone);
    switch (t.kind) {
    case 0:
    case 1:
    case 2:
        return (z.onEntry ? 1 : 0) + (z.onExit ? 1 : 0) + (z.limited ? 1 : 0);
    case 6:
    case 7:
        return 1;
    default:
        return 0;
    }
}

/// Where the vehicle is at second s, and how fast it goes.
void positionAt(const Track& t, int s, GeoPoint& place, double& kmh) {
    const ZonePlan z = zonePlan(t.zone);
    switch (t.kind) {
    case 0:
    case 1:
    case 2: {
        const double east = std::min(-1200.0 + 5.0 * s, 1200.0);
        place = at(z.north, z.east + east);
        kmh = east < 1200.0 ? 18.0 : 0.0;
        return;
    }
    case 3: {
        const double east = std::min(-1200.0 + 25.0 * s, 1200.0);
        place = at(z.north, z.east + east);
        kmh = east < 1200.0 ? 90.0 : 0.0;
        return;
    }
    case 4:
        place = at(z.north + 20.0 * std::cos(s), z.east + 20.0 * std::sin(s));
        kmh = 0.0;
        return;
    case 5:
        place = at(z.north, z.east + z.size + ((s / FIX_EVERY) % 2 == 0 ? -4.0 : 4.0));
        kmh = 0.0;
        return;
    default: {
        // A road halfway between two rows of zones, starting halfway between
        // two columns.
        const double north = z.north + SPACING / 2;
        const double start = z.east + SPACING / 2;
        double east = start + 50.0 / 3.6 * s;
        kmh = 50.0;
        if (t.kind == 6) {
            const double fast = std::clamp(s - 100.0, 0.0, 100.0);
            east = start + 60.0 / 3.6 * s + (120.0 - 60.0) / 3.6 * fast;
            kmh = s >= 100 && s < 200 ? 120.0 : 60.0;
        }
        place = at(north, east);
        return;
    }
    }
}

struct Run {
    std::vector<uint32_t> nanos;
    uint64_t raised = 0;
    double tickMs = 0;
};

/// Every fix of the chosen vehicles through rules, in time order, with the
/// silent check every TICK_EVERY seconds.
Run drive(WatchRules& rules, const std::vector<int>& vehicles, const std::vector<UniqueID>& ids) {
    Run run;
    WatchRules::Requests out;
    auto count = [&run, &out] {
        for (const AlarmRequest& r : out) {
            if (r.step == AlarmRequest::RAISE) {
                ++run.raised;
            }
        }
        out.clear();
    };
    std::vector<Track> tracks;
    for (int v : vehicles) {
        tracks.push_back(trackOf(v));
    }
    double tickNanos = 0;
    int ticks = 0;
    for (int s = 0; s <= SECONDS; s += FIX_EVERY) {
        for (size_t i = 0; i < vehicles.size(); ++i) {
            if (tracks[i].kind == 7 && s >= SILENT_FROM) {
                continue;
            }
            GeoPoint place;
            double kmh = 0;
            positionAt(tracks[i], s, place, kmh);
            const auto begin = Clock::now();
            rules.fix(ids[static_cast<size_t>(vehicles[i])], START + s, place, kmh * KNOTS_PER_KMH, out);
            const auto end = Clock::now();
            run.nanos.push_back(
                static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - begin).count()));
            count();
        }
        if (s % TICK_EVERY == 0) {
            const auto begin = Clock::now();
            rules.tick(START + s, out);
            tickNanos += std::chrono::duration<double, std::nano>(Clock::now() - begin).count();
            ++ticks;
            count();
        }
    }
    run.tickMs = tickNanos / ticks / 1e6;
    return run;
}

double mean(const std::vector<uint32_t>& nanos) {
    double sum = 0;
    for (uint32_t n : nanos) {
        sum += n;
    }
    return nanos.empty() ? 0 : sum / static_cast<double>(nanos.size()) / 1000.0;
}

double p99(std::vector<uint32_t> nanos) {
    if (nanos.empty()) {
        return 0;
    }
    const size_t k = nanos.size() * 99 / 100;
    std::nth_element(nanos.begin(), nanos.begin() + static_cast<std::ptrdiff_t>(k), nanos.end());
    return nanos[k] / 1000.0;
}

} // namespace

int main() {
    std::vector<Zone> zones;
    for (int k = 0; k < ZONES; ++k) {
        zones.push_back(makeZone(k));
    }
    std::vector<UniqueID> ids;
    for (int v = 0; v < VEHICLES; ++v) {
        uint8_t bytes[16] = {};
        std::memcpy(bytes, &v, sizeof v);
        bytes[15] = 0x5A;
        ids.push_back(UniqueID::fromBytes(bytes));
    }
    WatchSettings settings;
    settings.speedLimitKmh = LIMIT_KMH;

    std::vector<int> all;
    std::vector<int> sample;
    uint64_t expected = 0;
    uint64_t expectedSample = 0;
    for (int v = 0; v < VEHICLES; ++v) {
        all.push_back(v);
        expected += static_cast<uint64_t>(expectedAlarms(trackOf(v)));
        if ((v / 10) % 20 == 0) {
            sample.push_back(v);
            expectedSample += static_cast<uint64_t>(expectedAlarms(trackOf(v)));
        }
    }

    WatchRules indexed(WatchRules::Lookup::Index);
    indexed.setSettings(settings);
    if (indexed.setZones(zones) != zones.size()) {
        std::fprintf(stderr, "bench_rules: a zone was refused\n");
        return 1;
    }
    const Run fast = drive(indexed, all, ids);

    WatchRules linear(WatchRules::Lookup::Linear);
    linear.setSettings(settings);
    linear.setZones(zones);
    const Run slow = drive(linear, sample, ids);

    const double fastMean = mean(fast.nanos);
    const double slowMean = mean(slow.nanos);
    std::printf("index: fixes=%zu mean_us=%.3f p99_us=%.3f tick_ms=%.3f\n", fast.nanos.size(), fastMean,
                p99(fast.nanos), fast.tickMs);
    std::printf("linear: vehicles=%zu fixes=%zu mean_us=%.3f p99_us=%.3f alarms_expected=%llu alarms_raised=%llu\n",
                sample.size(), slow.nanos.size(), slowMean, p99(slow.nanos),
                static_cast<unsigned long long>(expectedSample), static_cast<unsigned long long>(slow.raised));
    std::printf("rules: vehicles=%d zones=%d fixes=%zu p99_us_per_fix=%.3f baseline_linear_us_per_fix=%.3f "
                "alarms_expected=%llu alarms_raised=%llu mean_us_per_fix=%.3f speedup=%.1f\n",
                VEHICLES, ZONES, fast.nanos.size(), p99(fast.nanos), slowMean,
                static_cast<unsigned long long>(expected), static_cast<unsigned long long>(fast.raised), fastMean,
                fastMean > 0 ? slowMean / fastMean : 0.0);
    return fast.raised == expected && slow.raised == expectedSample ? 0 : 1;
}
