#include "store/StoreBatch.h"

#include "store/StoreText.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>

namespace velmora {

namespace {

/// The first bytes of a serialized batch: a format a later program can tell.
/// The second adds the alarms' notes; batches spooled in the first are
/// still read.
constexpr uint32_t MAGIC_1 = 0x56424131; // "VBA1"
constexpr uint32_t MAGIC = 0x56424132;   // "VBA2"

/// first, then second on a line of its own.
void joinLines(std::string& first, const std::string& second)
{
    if (second.empty()) {
        return;
    }
    if (!first.empty()) {
        first += '\n';
    }
    first += second;
}

class Writer {
public:
    explicit Writer(std::string& out) : m_out(out) {}
    void u32(uint32_t value) { m_out.append(reinterpret_cast<const char*>(&value), sizeof value); }
    void i32(int32_t value) { m_out.append(reinterpret_cast<const char*>(&value), sizeof value); }
    void i64(int64_t value) { m_out.append(reinterpret_cast<const char*>(&value), sizeof value); }
    void u64(uint64_t value) { m_out.append(reinterpret_cast<const char*>(&value), sizeof value); }
    void f64(double value) { m_out.append(reinterpret_cast<const char*>(&value), sizeof value); }
    void text(const std::string& value)
    {
        u32(static_cast<uint32_t>(value.size()));
        m_out.append(value);
    }
    void id(const UniqueID& value) { m_out.append(reinterpret_cast<const char*>(value.getBytes()), 16); }

private:
    std::string& m_out;
};

/// Every read fails once the bytes run short, so a damaged copy is never
/// half believed.
class Reader {
public:
    Reader(const void* data, size_t length)
        : m_data(static_cast<const uint8_t*>(data)), m_end(static_cast<const uint8_t*>(data) + length)
    {
    }
    template <typename T> bool plain(T& value)
    {
        if (static_cast<size_t>(m_end - m_data) < sizeof value) {
            return false;
        }
        std::memcpy(&value, m_data, sizeof value);
        m_data += sizeof value;
        return true;
    }
    bool text(std::string& value)
    {
        uint32_t length = 0;
        if (!plain(length) || static_cast<size_t>(m_end - m_data) < length) {
            return false;
        }
        value.assign(reinterpret_cast<const char*>(m_data), length);
        m_data += length;
        return true;
    }
    bool id(UniqueID& value)
    {
        if (m_end - m_data < 16) {
            return false;
        }
        value = UniqueID::fromBytes(m_data);
        m_data += 16;
        return true;
    }
    /// A count of items of at least minimum bytes each that the rest can hold.
    bool count(uint32_t& value, size_t minimum)
    {
        return plain(value) && static_cast<size_t>(m_end - m_data) / minimum >= value;
    }
    bool atEnd() const { return m_data == m_end; }

private:
    const uint8_t* m_data;
    const uint8_t* m_end;
};

} // namespace

StoreBatch::VehicleState& StoreBatch::vehicle(const UniqueID& id)
{
    const auto found = m_vehicleIndex.find(id);
    if (found != m_vehicleIndex.end()) {
        return vehicles[found->second];
    }
    m_vehicleIndex.emplace(id, vehicles.size());
    vehicles.emplace_back();
    vehicles.back().id = id;
    return vehicles.back();
}

void StoreBatch::raise(const AlarmRaise& alarm)
{
    for (AlarmRaise& held : alarms) {
        if (held.vehicle == alarm.vehicle && held.kind == alarm.kind) {
            held.count += alarm.count;
            held.last = std::max(held.last, alarm.last);
            joinLines(held.notes, alarm.notes);
            return;
        }
    }
    alarms.push_back(alarm);
}

void StoreBatch::append(StoreBatch&& later)
{
    firstNumber = getFirstNumber();
    number = later.number;
    const auto offset = static_cast<int32_t>(events.size());
    fixes.insert(fixes.end(), std::make_move_iterator(later.fixes.begin()), std::make_move_iterator(later.fixes.end()));
    events.insert(events.end(), std::make_move_iterator(later.events.begin()),
                  std::make_move_iterator(later.events.end()));
    newVehicles.insert(newVehicles.end(), std::make_move_iterator(later.newVehicles.begin()),
                       std::make_move_iterator(later.newVehicles.end()));
    for (VehicleState& state : later.vehicles) {
        VehicleState& held = vehicle(state.id);
        // The later values of the fields it names win.
        if ((state.fields & NAME) != 0) {
            held.name = std::move(state.name);
        }
        if ((state.fields & TIME) != 0) {
            held.time = state.time;
        }
        if ((state.fields & POSITION) != 0) {
            held.latitude = state.latitude;
            held.longitude = state.longitude;
        }
        for (int i = 0; i < INFO_COUNT; ++i) {
            if ((state.fields & (COMPANY << i)) != 0) {
                held.info[i] = std::move(state.info[i]);
            }
        }
        held.fields |= state.fields;
        held.described = held.described || state.described;
    }
    for (AlarmRaise& alarm : later.alarms) {
        if (alarm.event >= 0) {
            alarm.event += offset;
        }
        raise(alarm);
    }
    alarmNotes.insert(alarmNotes.end(), std::make_move_iterator(later.alarmNotes.begin()),
                      std::make_move_iterator(later.alarmNotes.end()));
}

bool StoreBatch::isEmpty() const
{
    return fixes.empty() && events.empty() && newVehicles.empty() && vehicles.empty() && alarms.empty() &&
           alarmNotes.empty();
}

size_t StoreBatch::getBytes() const
{
    size_t bytes = sizeof *this;
    for (const Fix& fix : fixes) {
        bytes += sizeof fix + fix.sentence.capacity();
    }
    for (const Event& event : events) {
        bytes += sizeof event + event.address.size() + event.name.size() + event.title.size();
    }
    for (const NewVehicle& vehicle : newVehicles) {
        bytes += sizeof vehicle + vehicle.name.size();
    }
    for (const VehicleState& state : vehicles) {
        bytes += sizeof state + 48 + state.name.size();
        for (const std::string& info : state.info) {
            bytes += info.size();
        }
    }
    for (const AlarmRaise& alarm : alarms) {
        bytes += sizeof alarm + alarm.vehicleName.size() + alarm.title.size() + alarm.address.size() +
                 alarm.notes.size();
    }
    for (const AlarmNote& note : alarmNotes) {
        bytes += sizeof note + note.text.size();
    }
    return bytes;
}

std::vector<int64_t> StoreBatch::getFixDays() const
{
    std::set<int64_t> days;
    for (const Fix& fix : fixes) {
        days.insert(StoreText::dayOfMicros(fix.received));
    }
    return std::vector<int64_t>(days.begin(), days.end());
}

int64_t StoreBatch::getOldestReceived() const
{
    int64_t oldest = 0;
    for (const Fix& fix : fixes) {
        oldest = oldest == 0 ? fix.received : std::min(oldest, fix.received);
    }
    for (const Event& event : events) {
        oldest = oldest == 0 ? event.received : std::min(oldest, event.received);
    }
    return oldest;
}

void StoreBatch::serialize(std::string& out) const
{
    out.clear();
    out.reserve(getBytes());
    Writer w(out);
    w.u32(MAGIC);
    w.u64(number);
    w.u64(firstNumber);
    w.u32(static_cast<uint32_t>(fixes.size()));
    for (const Fix& fix : fixes) {
        w.i64(fix.received);
        w.id(fix.vehicle);
        w.i64(fix.time);
        w.text(fix.sentence);
    }
    w.u32(static_cast<uint32_t>(events.size()));
    for (const Event& event : events) {
        w.i64(event.received);
        w.id(event.vehicle);
        w.text(event.address);
        w.text(event.name);
        w.i64(event.time);
        w.i32(event.kind);
        w.text(event.title);
    }
    w.u32(static_cast<uint32_t>(newVehicles.size()));
    for (const NewVehicle& vehicle : newVehicles) {
        w.id(vehicle.id);
        w.text(vehicle.name);
        w.i64(vehicle.time);
    }
    w.u32(static_cast<uint32_t>(vehicles.size()));
    for (const VehicleState& state : vehicles) {
        w.id(state.id);
        w.u32(state.fields);
        w.text(state.name);
        w.i64(state.time);
        w.f64(state.latitude);
        w.f64(state.longitude);
        for (const std::string& info : state.info) {
            w.text(info);
        }
        w.u32(state.described ? 1 : 0);
    }
    w.u32(static_cast<uint32_t>(alarms.size()));
    for (const AlarmRaise& alarm : alarms) {
        w.id(alarm.vehicle);
        w.text(alarm.vehicleName);
        w.i32(alarm.kind);
        w.i32(alarm.priority);
        w.text(alarm.title);
        w.text(alarm.address);
        w.i64(alarm.first);
        w.i64(alarm.last);
        w.i32(alarm.count);
        w.i32(alarm.event);
        w.text(alarm.notes);
    }
    w.u32(static_cast<uint32_t>(alarmNotes.size()));
    for (const AlarmNote& note : alarmNotes) {
        w.id(note.vehicle);
        w.i32(note.kind);
        w.text(note.text);
    }
}

bool StoreBatch::deserialize(const void* data, size_t length)
{
    *this = StoreBatch();
    Reader r(data, length);
    uint32_t magic = 0;
    uint32_t count = 0;
    bool ok = r.plain(magic) && (magic == MAGIC || magic == MAGIC_1) && r.plain(number) && r.plain(firstNumber) && r.count(count, 36);
    for (uint32_t i = 0; ok && i < count; ++i) {
        Fix& fix = fixes.emplace_back();
        ok = r.plain(fix.received) && r.id(fix.vehicle) && r.plain(fix.time) && r.text(fix.sentence);
    }
    ok = ok && r.count(count, 48);
    for (uint32_t i = 0; ok && i < count; ++i) {
        Event& event = events.emplace_back();
        ok = r.plain(event.received) && r.id(event.vehicle) && r.text(event.address) && r.text(event.name) &&
             r.plain(event.time) && r.plain(event.kind) && r.text(event.title);
    }
    ok = ok && r.count(count, 28);
    for (uint32_t i = 0; ok && i < count; ++i) {
        NewVehicle& vehicle = newVehicles.emplace_back();
        ok = r.id(vehicle.id) && r.text(vehicle.name) && r.plain(vehicle.time);
    }
    ok = ok && r.count(count, 76);
    for (uint32_t i = 0; ok && i < count; ++i) {
        UniqueID id;
        ok = r.id(id);
        if (!ok) {
            break;
        }
        VehicleState& state = vehicle(id);
        uint32_t described = 0;
        ok = r.plain(state.fields) && r.text(state.name) && r.plain(state.time) && r.plain(state.latitude) &&
             r.plain(state.longitude);
        for (std::string& info : state.info) {
            ok = ok && r.text(info);
        }
        ok = ok && r.plain(described);
        state.described = described != 0;
    }
    ok = ok && r.count(count, 60);
    for (uint32_t i = 0; ok && i < count; ++i) {
        AlarmRaise& alarm = alarms.emplace_back();
        ok = r.id(alarm.vehicle) && r.text(alarm.vehicleName) && r.plain(alarm.kind) && r.plain(alarm.priority) &&
             r.text(alarm.title) && r.text(alarm.address) && r.plain(alarm.first) && r.plain(alarm.last) &&
             r.plain(alarm.count) && r.plain(alarm.event) && (magic == MAGIC_1 || r.text(alarm.notes));
        ok = ok && alarm.event >= -1 && alarm.event < static_cast<int32_t>(events.size());
    }
    if (magic == MAGIC) {
        ok = ok && r.count(count, 24);
        for (uint32_t i = 0; ok && i < count; ++i) {
            AlarmNote& note = alarmNotes.emplace_back();
            ok = r.id(note.vehicle) && r.plain(note.kind) && r.text(note.text);
        }
    }
    ok = ok && r.atEnd();
    if (!ok) {
        *this = StoreBatch();
    }
    return ok;
}

} // namespace velmora
