#include "intake/VehicleAdmission.h"

#include "intake/CallbackInfo.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace velmora {

namespace {

constexpr int SLOTS = 60;

int64_t systemSteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

size_t VehicleAdmission::IdHash::operator()(const UniqueID& id) const {
    // The ids are random or device-made GUIDs: their bytes are spread well.
    uint64_t low = 0;
    uint64_t high = 0;
    std::memcpy(&low, id.getBytes(), sizeof low);
    std::memcpy(&high, id.getBytes() + sizeof low, sizeof high);
    return static_cast<size_t>(low ^ (high * 0x9E3779B97F4A7C15ull));
}

VehicleAdmission::VehicleAdmission()
    : m_steadyMs(systemSteadyMs), m_wallSeconds([] { return std::time(nullptr); }) {}

void VehicleAdmission::setClocks(std::function<int64_t()> steadyMs, std::function<std::time_t()> wallSeconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_steadyMs = std::move(steadyMs);
    m_wallSeconds = std::move(wallSeconds);
}

void VehicleAdmission::setRules(const Rules& rules) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules = rules;
    m_rules.newPerMinute = std::max(0, rules.newPerMinute);
    m_rules.fleetLimit = std::max(0, rules.fleetLimit);
}

VehicleAdmission::Rules VehicleAdmission::getRules() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rules;
}

void VehicleAdmission::setKnown(const std::vector<UniqueID>& ids) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known.clear();
    m_known.insert(ids.begin(), ids.end());
    for (const UniqueID& id : ids) {
        dropCandidate(id);
    }
}

void VehicleAdmission::admit(const UniqueID& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known.insert(id);
    m_ignored.erase(id);
    dropCandidate(id);
}

void VehicleAdmission::ignore(const UniqueID& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    dropCandidate(id);
    // A bounded list: past it the oldest ignored ids may be listed again.
    if (m_ignored.size() >= MAX_IGNORED) {
        m_ignored.erase(m_ignored.begin());
    }
    m_ignored.insert(id);
}

void VehicleAdmission::forget(const UniqueID& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known.erase(id);
}

bool VehicleAdmission::isKnown(const UniqueID& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_known.count(id) != 0;
}

size_t VehicleAdmission::getKnownCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_known.size();
}

VehicleAdmission::Verdict VehicleAdmission::check(const CallbackInfo& message) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const UniqueID& id = message.getVehicleID();
    if (m_known.count(id) != 0) {
        return KNOWN;
    }
    const int64_t now = m_steadyMs();
    Sender& sender = senderOf(message.getAddress());
    // Only a fix makes a vehicle; anything else of an unknown id would be
    // dropped by the console anyway.
    if (message.getEventType() != CallbackInfo::EVENT_GPS || m_ignored.count(id) != 0) {
        countRefusal(sender, now);
        return REFUSED;
    }
    bool admitted = false;
    if (m_rules.mode == OPEN && m_known.size() < static_cast<size_t>(m_rules.fleetLimit)) {
        auto& times = sender.admittedAt;
        times.erase(std::remove_if(times.begin(), times.end(), [now](int64_t at) { return now - at >= MINUTE_MS; }),
                    times.end());
        if (times.size() < static_cast<size_t>(m_rules.newPerMinute)) {
            times.push_back(now);
            admitted = true;
        }
    }
    if (!admitted) {
        countRefusal(sender, now);
        noteCandidate(message);
        return REFUSED;
    }
    m_known.insert(id);
    ++m_admittedTotal;
    dropCandidate(id);
    return NEW;
}

void VehicleAdmission::dropCandidate(const UniqueID& id) {
    const auto found = m_candidateIndex.find(id);
    if (found != m_candidateIndex.end()) {
        m_candidates.erase(found->second);
        m_candidateIndex.erase(found);
    }
}

VehicleAdmission::Sender& VehicleAdmission::senderOf(const std::string& address) {
    const auto found = m_senderIndex.find(address);
    if (found != m_senderIndex.end()) {
        m_senders.splice(m_senders.begin(), m_senders, found->second);
        return m_senders.front();
    }
    if (m_senders.size() >= MAX_SENDERS) {
        m_senderIndex.erase(m_senders.back().address);
        m_senders.pop_back();
    }
    m_senders.emplace_front();
    m_senders.front().address = address;
    m_senderIndex.emplace(address, m_senders.begin());
    return m_senders.front();
}

void VehicleAdmission::countRefusal(Sender& sender, int64_t nowMs) {
    ++m_refusedTotal;
    const int64_t second = nowMs / 1000;
    const int slot = static_cast<int>(second % SLOTS);
    if (sender.slotSecond[slot] != second) {
        sender.slotSecond[slot] = second;
        sender.refusedSlots[slot] = 0;
    }
    if (sender.refusedSlots[slot] < UINT32_MAX) {
        ++sender.refusedSlots[slot];
    }
}

uint64_t VehicleAdmission::refusedInLastMinute(const Sender& sender, int64_t nowMs) {
    const int64_t second = nowMs / 1000;
    uint64_t count = 0;
    for (int slot = 0; slot < SLOTS; ++slot) {
        if (second - sender.slotSecond[slot] < SLOTS) {
            count += sender.refusedSlots[slot];
        }
    }
    return count;
}

void VehicleAdmission::noteCandidate(const CallbackInfo& message) {
    const UniqueID& id = message.getVehicleID();
    const std::time_t now = m_wallSeconds();
    const auto found = m_candidateIndex.find(id);
    if (found != m_candidateIndex.end()) {
        m_candidates.splice(m_candidates.begin(), m_candidates, found->second);
    } else {
        if (m_candidates.size() >= MAX_CANDIDATES) {
            m_candidateIndex.erase(m_candidates.back().id);
            m_candidates.pop_back();
        }
        m_candidates.emplace_front();
        m_candidates.front().id = id;
        m_candidates.front().firstSeen = now;
        m_candidateIndex.emplace(id, m_candidates.begin());
    }
    Candidate& candidate = m_candidates.front();
    candidate.address = message.getAddress();
    candidate.name = message.getVehicleName();
    candidate.lastSeen = now;
    ++candidate.messages;
}

std::vector<VehicleAdmission::Candidate> VehicleAdmission::getCandidates() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<Candidate>(m_candidates.begin(), m_candidates.end());
}

VehicleAdmission::Refusals VehicleAdmission::getRecentRefusals() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = m_steadyMs();
    Refusals refusals;
    for (const Sender& sender : m_senders) {
        const uint64_t count = refusedInLastMinute(sender, now);
        refusals.count += count;
        if (count > refusals.topSenderCount) {
            refusals.topSenderCount = count;
            refusals.topSender = sender.address;
        }
    }
    return refusals;
}

uint64_t VehicleAdmission::getRefusedTotal() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refusedTotal;
}

uint64_t VehicleAdmission::getAdmittedTotal() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_admittedTotal;
}

} // namespace velmora
