#pragma once

#include "store/FeedReader.h"
#include "store/StoredVehicle.h"
#include "store/UniqueIdHash.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace velmora {

class FixFrames;
class IPageRunner;
class VehicleInfo;
class VehicleInfoContainer;

/// A desk's fleet as the store holds it: keeps the vehicle records (the
/// same VehicleInfoContainer the single desk fills from app.db, never
/// written back from here) and tells the page what came, changed, moved
/// or went.
///
/// Idempotent, as following the feed needs (a change may come twice): a
/// vehicle is taken as its row now is; a fix only when it is newer than
/// the last one shown for the vehicle; positions go through the frames
/// (FixFrames), one move per vehicle and frame. Events of known vehicles
/// go to the page's event list under the operator's name for the vehicle.
/// Window thread only.
class DeskFleet {
public:
    DeskFleet(IPageRunner& page, VehicleInfoContainer& vehicles, FixFrames& frames);

    /// The fleet of a snapshot: records made or brought up to date, those
    /// not in the store any more removed, the page told of each; then the
    /// fixes newer than the rows' positions, as the feed's are shown.
    void load(const std::vector<StoredVehicle>& vehicles, const std::vector<StoredFix>& recentFixes);
    /// What the feed says changed.
    void apply(const FeedReader::Changes& changes);

    uint64_t getFixesShown() const { return m_fixesShown; }
    uint64_t getEventsShown() const { return m_eventsShown; }

private:
    struct Shown {
        int64_t received = 0;
        int64_t id = 0;
    };
    void upsert(const StoredVehicle& stored, bool announce);
    void remove(const UniqueID& id);
    void showFix(const StoredFix& fix);
    void showEvent(const StoredEvent& event);

    IPageRunner& m_page;
    VehicleInfoContainer& m_vehicles;
    FixFrames& m_frames;
    std::unordered_map<UniqueID, Shown, UniqueIdHash, UniqueIdEqual> m_lastFix;
    uint64_t m_fixesShown = 0;
    uint64_t m_eventsShown = 0;
};

} // namespace velmora
