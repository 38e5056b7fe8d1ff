#pragma once

#include "foundation/UniqueID.h"
#include "store/UniqueIdHash.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <string>
#include <vector>

namespace velmora {

/// What one write of the receiver stores, in one transaction: fixes and
/// events, new vehicles, changes of vehicles and alarms raised, each value
/// already in the form the store holds (texts cut and clean, times as UTC
/// seconds or microseconds, StoreText::NO_TIME for none).
///
/// number orders the batches of one receiver and makes a write that is
/// repeated (replayed from the spool after an answer was lost) a no-op.
/// A batch travels to the spool as bytes (serialize) and back.
/// A plain value: one thread at a time.
class StoreBatch {
public:
    struct Fix {
        int64_t received = 0; ///< when the receiver took it, UTC microseconds
        UniqueID vehicle;
        int64_t time = 0;     ///< the device's time, UTC seconds, or NO_TIME
        std::string sentence;
    };
    struct Event {
        int64_t received = 0;
        UniqueID vehicle;
        std::string address;
        std::string name;
        int64_t time = 0;
        int32_t kind = 0;
        std::string title;
    };
    struct NewVehicle {
        UniqueID id;
        std::string name;
        int64_t time = 0;
    };
    /// The fields of VehicleState::fields that a state sets.
    enum Field : uint32_t {
        NAME = 1,
        TIME = 2,
        POSITION = 4,
        COMPANY = 8,
        MAKER = 16,
        MODEL = 32,
        REGISTRATION = 64,
        DRIVER = 128,
        LICENSE = 256,
    };
    static constexpr int INFO_COUNT = 6;
    /// A stored vehicle's new values: only the fields named are written.
    struct VehicleState {
        UniqueID id;
        uint32_t fields = 0;
        std::string name;
        int64_t time = 0;
        double latitude = 0;
        double longitude = 0;
        /// Company, Maker, Model, Registration, Driver, License.
        std::string info[INFO_COUNT];
        /// Whether a desk shows what changed (name, information), so the
        /// change goes into the feed; positions and times reach desks as fixes.
        bool described = false;
    };
    /// An alarm kind from one vehicle, count times in this batch: opens an
    /// alarm, or counts on the vehicle's open alarm of that kind.
    struct AlarmRaise {
        UniqueID vehicle;
        std::string vehicleName;
        int32_t kind = 0;
        int32_t priority = 0;
        std::string title;
        std::string address;
        int64_t first = 0; ///< UTC seconds
        int64_t last = 0;
        int32_t count = 0;
        /// The event that raised it, an index into events; -1 for none.
        int32_t event = -1;
        /// Lines added to the alarm's notes (a watch rule's), one per line;
        /// "" adds none.
        std::string notes;
    };
    /// A line added to the notes of the vehicle's open alarm of kind (a
    /// watch rule's: "heard again", "speeding ended"); none when no alarm of
    /// the kind is open.
    struct AlarmNote {
        UniqueID vehicle;
        int32_t kind = 0;
        std::string text;
    };

    uint64_t number = 0;
    /// The first number this batch stands for: batches handed over one
    /// after another may be written as one (append); 0 means number.
    uint64_t firstNumber = 0;
    std::vector<Fix> fixes;
    std::vector<Event> events;
    std::vector<NewVehicle> newVehicles;
    std::vector<VehicleState> vehicles;
    std::vector<AlarmRaise> alarms;
    /// Written after alarms, so a note may follow the raise of its alarm.
    std::vector<AlarmNote> alarmNotes;

    /// The state of vehicle id in this batch, made empty when missing.
    VehicleState& vehicle(const UniqueID& id);
    /// Counts one more alarm event of vehicle and kind, merging with one
    /// already in the batch (their notes joined, in order).
    void raise(const AlarmRaise& alarm);

    /// Takes later's rows into this batch, which then stands for both:
    /// later must follow it (a higher number).
    void append(StoreBatch&& later);
    uint64_t getFirstNumber() const { return firstNumber != 0 ? firstNumber : number; }

    bool isEmpty() const;
    /// Fixes and events: the rows that make a batch due.
    size_t getMessageCount() const { return fixes.size() + events.size(); }
    /// About the bytes the batch holds (memory bounds and the spool's).
    size_t getBytes() const;
    /// The days (since 1970, UTC) of the fixes' receive times.
    std::vector<int64_t> getFixDays() const;
    /// The oldest receive time among fixes and events; 0 when none.
    int64_t getOldestReceived() const;

    /// The bytes of the batch (replacing out's content).
    void serialize(std::string& out) const;
    /// Reads bytes made by serialize; false (the batch then empty) when
    /// they are damaged or of another format.
    bool deserialize(const void* data, size_t length);

private:
    std::unordered_map<UniqueID, size_t, UniqueIdHash, UniqueIdEqual> m_vehicleIndex;
};

} // namespace velmora
