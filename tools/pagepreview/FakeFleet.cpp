#include "tools/pagepreview/FakeFleet.h"

#include "mapview/MapCommands.h"
#include "mapview/TrackHistory.h"

#include <cmath>
#include <numbers>

namespace velmora {

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }

struct Seed {
    const char* name;
    double latitude;
    double longitude;
    double course;
    double speed;
    const char* driver;
    const char* company;
    const char* registration;
};

const Seed kSeeds[] = {
    {"Truck 07 Lyon", 46.3061, 4.8316, 355, 48.2, "Camille Laurent", "Rhône Freight", "FR-417-KX"},
    {"Van 12 Paris", 48.8566, 2.3522, 80, 21.5, "Hugo Martin", "Seine Logistics", "FR-208-PL"},
    {"Truck 03 Berlin", 52.5200, 13.4050, 200, 35.0, "Jonas Weber", "Spree Cargo", "B-VL 3031"},
    {"Reefer 21 Munich", 48.1351, 11.5820, 135, 40.1, "Lena Huber", "Isar Kühltransporte", "M-VL 2104"},
    {"Bus 44 Milan", 45.4642, 9.1900, 270, 18.3, "Marco Rossi", "Lombardia Linee", "MI 448 TR"},
    {"Truck 15 Madrid", 40.4168, -3.7038, 45, 52.0, "Lucía García", "Meseta Transportes", "4815 KLM"},
    {"Van 02 Vienna", 48.2082, 16.3738, 300, 12.7, "Anna Gruber", "Donau Express", "W-20317B"},
    {"Truck 09 Warsaw", 52.2297, 21.0122, 90, 44.9, "Piotr Nowak", "Wisła Trans", "WX 90912"},
    {"Tanker 05 Rotterdam", 51.9244, 4.4777, 160, 30.0, "Sanne de Vries", "Maas Bulk", "BX-505-T"},
    {"Van 31 Zurich", 47.3769, 8.5417, 20, 15.2, "Nico Meier", "Limmat Kurier", "ZH 31770"},
    {"Truck 11 Prague", 50.0755, 14.4378, 240, 38.6, "Jan Novák", "Vltava Cargo", "1AB 1111"},
    {"Truck 08 Barcelona", 41.3874, 2.1686, 330, 47.3, "Marta Puig", "Costa Transit", "0810 BCN"},
};

QString idFor(int n) {
    return QStringLiteral("{6B29FC40-CA47-1067-B31D-00DD0106%1}").arg(n, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

FakeFleet::FakeFleet() {
    int n = 0;
    for (const Seed& seed : kSeeds) {
        m_members.push_back({idFor(++n), QString::fromUtf8(seed.name), seed.latitude, seed.longitude, seed.course,
                             seed.speed});
    }
}

QStringList FakeFleet::fleetCommands() const {
    QStringList lines;
    lines << MapCommands::resetTimeout(10);
    size_t i = 0;
    for (const Member& m : m_members) {
        const Seed& seed = kSeeds[i++];
        MapCommands::Vehicle v;
        v.id = utf8(m.id);
        v.name = utf8(m.name);
        v.lastUpdatedTime = "2026-01-31 17:05:09";
        v.lastUpdatedLatitude = utf8(MapCommands::number(m.latitude));
        v.lastUpdatedLongitude = utf8(MapCommands::number(m.longitude));
        v.driver = seed.driver;
        v.company = seed.company;
        v.registration = seed.registration;
        v.license = "C+E";
        v.maker = i % 2 ? "Volvo" : "Scania";
        v.model = i % 2 ? "FH 500" : "R 450";
        v.info1 = "Depot " + std::to_string(i);
        v.info2 = "Route " + std::to_string(100 + i);
        lines << MapCommands::insertVehicle(1, v);
    }
    lines << MapCommands::sortVehicleList();
    for (const Member& m : m_members) {
        lines << MapCommands::moveTo(m.latitude, m.longitude, m.speed, 17, 5, 9, m.course, utf8(m.id));
    }
    return lines;
}

QStringList FakeFleet::trackCommands(size_t index, int count) const {
    QStringList lines;
    if (index >= m_members.size() || count < 2) {
        return lines;
    }
    const Member& m = m_members[index];
    // A gently winding road from about 130 km behind the vehicle, bearing
    // the member's course.
    const double rad = m.course * std::numbers::pi / 180.0;
    for (int k = 0; k < count; ++k) {
        double t = 1.0 - static_cast<double>(k) / (count - 1); // 1 .. 0: distance back
        double back = t * 1.2;
        double wiggle = 0.08 * std::sin(t * 9.0);
        double lat = m.latitude - back * std::cos(rad) + wiggle * std::sin(rad);
        double lon = m.longitude - (back * std::sin(rad) - wiggle * std::cos(rad)) / std::cos(m.latitude * std::numbers::pi / 180.0);
        lines << MapCommands::moveTo(lat, lon, m.speed, 16, k / 60, k % 60, m.course, utf8(m.id));
    }
    return lines;
}

QStringList FakeFleet::historyCommands(size_t index) const {
    if (index >= m_members.size()) {
        return {};
    }
    const Member& m = m_members[index];
    std::vector<MapCommands::TrackFix> fixes;
    const int count = 540;
    int64_t t = TrackHistory::parseTimeText("2026-01-31 13:10:00").value_or(0);
    double lat = m.latitude - 0.9, lon = m.longitude - 0.35;
    double heading = 20.0;
    for (int k = 0; k < count; ++k) {
        if (k == count / 2) {
            // The lunch stop, with the recorder off while the truck was
            // moved across the yard and out of the other gate.
            t += 45 * 60;
            lat += 0.03;
            lon += 0.05;
        }
        const double kmh = 55.0 + 30.0 * std::sin(k / 23.0);
        heading += 2.5 * std::sin(k / 31.0);
        const double km = kmh * 20.0 / 3600.0;
        const double rad = heading * std::numbers::pi / 180.0;
        lat += km / 111.0 * std::cos(rad);
        lon += km / (111.0 * std::cos(lat * std::numbers::pi / 180.0)) * std::sin(rad);
        MapCommands::TrackFix fix;
        fix.latitude = lat;
        fix.longitude = lon;
        fix.course = std::fmod(heading + 360.0, 360.0);
        fix.speed = kmh / 1.852;
        fix.time = TrackHistory::timeText(t);
        fixes.push_back(fix);
        t += 20;
    }
    return TrackHistory::commands(fixes);
}

QStringList FakeFleet::eventCommands() const {
    const char* time = "2026-01-31 17:05:09";
    QStringList lines;
    lines << MapCommands::updateEventInfo(1, utf8(m_members[4].name), time, "Rear door", utf8(m_members[4].id));
    lines << MapCommands::updateEventInfo(11, utf8(m_members[5].name), time, " ", utf8(m_members[5].id));
    lines << MapCommands::updateEventInfo(2, utf8(m_members[2].name), time, "Camera 3", utf8(m_members[2].id));
    lines << MapCommands::updateEventInfo(8, utf8(m_members[8].name), time, "Disk 1", utf8(m_members[8].id));
    lines << MapCommands::updateEventInfo(13, utf8(m_members[0].name), time, "Panic button", utf8(m_members[0].id));
    lines << MapCommands::updateEventInfo(0, utf8(m_members[3].name), time, "Temp sensor", utf8(m_members[3].id));
    return lines;
}

} // namespace velmora
