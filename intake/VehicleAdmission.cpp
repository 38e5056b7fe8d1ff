#include "intake/VehicleAdmission.h"

#include "intake/CallbackInfo.h"

#include <algorithm>
#include <chrono>

namespace velmora {

namespace {

constexpr int SLOTS = 60;

int64_t systemSteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void VehicleAdmission::RefusalSlots::add(int64_t nowMs)
{
    const int64_t second = nowMs / 1000;
    const int slot = static_cast<int>(second % SLOTS);
    if (seconds[slot] != second) {
        seconds[slot] = second;
        counts[slot] = 0;
    }
    if (counts[slot] < UINT32_MAX) {
        ++counts[slot];
    }
}

uint64_t VehicleAdmission::RefusalSlots::inLastMinute(int64_t nowMs) const
{
    // The current second and the 59 before it.
    const int64_t second = nowMs / 1000;
    uint64_t count = 0;
    for (int slot = 0; slot < SLOTS; ++slot) {
        if (second - seconds[slot] < SLOTS) {
            count += counts[slot];
        }
    }
    return count;
}

VehicleAdmission::VehicleAdmission()
    : m_steadyMs(systemSteadyMs), m_wallSeconds([] { return std::time(nullptr); })
{
}

void VehicleAdmission::setClocks(std::function<int64_t()> steadyMs, std::function<std::time_t()> wallSeconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_steadyMs = std::move(steadyMs);
    m_wallSeconds = std::move(wallSeconds);
}

void VehicleAdmission::setRules(const Rules& rules)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules = rules;
    m_rules.newPerMinute = std::max(0, rules.newPerMinute);
    m_rules.fleetLimit = std::max(0, rules.fleetLimit);
    m_rules.unreviewedLimit = std::max(0, rules.unreviewedLimit);
    m_rules.allNewPerMinute = std::max(0, rules.allNewPerMinute);
}

VehicleAdmission::Rules VehicleAdmission::getRules() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rules;
}

void VehicleAdmission::setKnown(const std::vector<UniqueID>& ids)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known.clear();
    m_known.reserve(ids.size());
    m_known.insert(ids.begin(), ids.end());
    m_unreviewed.clear();
    m_unreviewedBySender.clear();
    for (const UniqueID& id : ids) {
        dropCandidate(id);
    }
}

void VehicleAdmission::admit(const UniqueID& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known.insert(id);
    m_ignored.erase(id);
    dropUnreviewed(id);
    dropCandidate(id);
}

void VehicleAdmission::review(const UniqueID& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    dropUnreviewed(id);
}

void VehicleAdmission::ignore(const UniqueID& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    dropCandidate(id);
    // A bounded list: past it the oldest ignored ids may be listed again.
    if (m_ignored.size() >= MAX_IGNORED) {
        m_ignored.erase(m_ignored.begin());
    }
    m_ignored.insert(id);
}

void VehicleAdmission::forget(const UniqueID& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known.erase(id);
    dropUnreviewed(id);
}

bool VehicleAdmission::isKnown(const UniqueID& id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_known.count(id) != 0;
}

bool VehicleAdmission::isUnreviewed(const UniqueID& id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unreviewed.count(id) != 0;
}

size_t VehicleAdmission::getKnownCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_known.size();
}

size_t VehicleAdmission::getUnreviewedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unreviewed.size();
}

VehicleAdmission::Verdict VehicleAdmission::check(const CallbackInfo& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!message.hasVehicleID()) {
        const int64_t now = m_steadyMs();
        ++m_malformedTotal;
        countRefusal(senderOf(message.getAddress(), now), now);
        return REFUSED;
    }
    const UniqueID& id = message.getVehicleID();
    if (m_known.count(id) != 0) {
        return !m_unreviewed.empty() && m_unreviewed.count(id) != 0 ? UNREVIEWED : KNOWN;
    }
    const int64_t now = m_steadyMs();
    Sender* sender = senderOf(message.getAddress(), now);
    // Only a fix makes a vehicle; anything else of an unknown id would be
    // dropped by the console anyway.
    if (message.getEventType() != CallbackInfo::EVENT_GPS || m_ignored.count(id) != 0) {
        countRefusal(sender, now);
        return REFUSED;
    }
    if (sender == nullptr || !mayAdmit(*sender, now)) {
        countRefusal(sender, now);
        noteCandidate(message, now);
        return REFUSED;
    }
    sender->admittedAt.push_back(now);
    m_recentAdmissions.push_back(now);
    m_known.insert(id);
    m_unreviewed.emplace(id, message.getAddress());
    m_unreviewedBySender[message.getAddress()].insert(id);
    ++m_admittedTotal;
    dropCandidate(id);
    return NEW;
}

bool VehicleAdmission::mayAdmit(Sender& sender, int64_t nowMs)
{
    if (m_rules.mode != OPEN || m_known.size() >= static_cast<size_t>(m_rules.fleetLimit) ||
        m_unreviewed.size() >= static_cast<size_t>(m_rules.unreviewedLimit)) {
        return false;
    }
    // Both lists are in time order: what left the minute is at the front.
    auto& times = sender.admittedAt;
    times.erase(times.begin(),
                std::find_if(times.begin(), times.end(), [nowMs](int64_t at) { return nowMs - at < MINUTE_MS; }));
    while (!m_recentAdmissions.empty() && nowMs - m_recentAdmissions.front() >= MINUTE_MS) {
        m_recentAdmissions.pop_front();
    }
    return times.size() < static_cast<size_t>(m_rules.newPerMinute) &&
           m_recentAdmissions.size() < static_cast<size_t>(m_rules.allNewPerMinute);
}

void VehicleAdmission::dropUnreviewed(const UniqueID& id)
{
    const auto found = m_unreviewed.find(id);
    if (found == m_unreviewed.end()) {
        return;
    }
    const auto sender = m_unreviewedBySender.find(found->second);
    if (sender != m_unreviewedBySender.end()) {
        sender->second.erase(id);
        if (sender->second.empty()) {
            m_unreviewedBySender.erase(sender);
        }
    }
    m_unreviewed.erase(found);
}

VehicleAdmission::Sender* VehicleAdmission::senderOf(const std::string& address, int64_t nowMs)
{
    // Every call is a sender's admission or refusal: the list stays in
    // order of last activity.
    const auto found = m_senderIndex.find(address);
    if (found != m_senderIndex.end()) {
        m_senders.splice(m_senders.begin(), m_senders, found->second);
        m_senders.front().lastActiveMs = nowMs;
        return &m_senders.front();
    }
    if (m_senders.size() >= MAX_SENDERS) {
        // Only a sender quiet for a minute leaves: one that is still
        // counted keeps its allowance used, whoever else comes.
        if (nowMs - m_senders.back().lastActiveMs < MINUTE_MS) {
            return nullptr;
        }
        m_senderIndex.erase(m_senders.back().address);
        m_senders.pop_back();
    }
    m_senders.emplace_front();
    Sender& sender = m_senders.front();
    sender.address = address;
    sender.lastActiveMs = nowMs;
    m_senderIndex.emplace(address, m_senders.begin());
    return &sender;
}

void VehicleAdmission::countRefusal(Sender* sender, int64_t nowMs)
{
    ++m_refusedTotal;
    (sender != nullptr ? sender->refusals : m_unlisted).add(nowMs);
}

void VehicleAdmission::rank(const Listed& listed)
{
    const Rank key{listed.candidate.messages, listed.order};
    m_ranks.emplace(key, listed.candidate.id);
    m_senderRanks[listed.candidate.address].emplace(key, listed.candidate.id);
}

void VehicleAdmission::unrank(const Listed& listed)
{
    const Rank key{listed.candidate.messages, listed.order};
    m_ranks.erase(key);
    const auto sender = m_senderRanks.find(listed.candidate.address);
    if (sender != m_senderRanks.end()) {
        sender->second.erase(key);
        if (sender->second.empty()) {
            m_senderRanks.erase(sender);
        }
    }
}

void VehicleAdmission::dropCandidate(const UniqueID& id)
{
    const auto found = m_candidateIndex.find(id);
    if (found != m_candidateIndex.end()) {
        unrank(*found->second);
        m_candidates.erase(found->second);
        m_candidateIndex.erase(found);
    }
}

void VehicleAdmission::noteCandidate(const CallbackInfo& message, int64_t nowMs)
{
    const UniqueID& id = message.getVehicleID();
    const std::string& address = message.getAddress();
    const auto found = m_candidateIndex.find(id);
    if (found == m_candidateIndex.end()) {
        // A new id takes a place only from one that is worth less: seen
        // once, or not seen for a long while.
        const Listed* victim = nullptr;
        const auto mine = m_senderRanks.find(address);
        if (mine != m_senderRanks.end() && mine->second.size() >= MAX_CANDIDATES_PER_SENDER) {
            victim = &*m_candidateIndex.at(mine->second.begin()->second);
        } else if (m_candidates.size() >= MAX_CANDIDATES) {
            victim = nowMs - m_candidates.back().lastSeenMs >= CANDIDATE_STALE_MS
                         ? &m_candidates.back()
                         : &*m_candidateIndex.at(m_ranks.begin()->second);
        }
        if (victim != nullptr) {
            if (victim->candidate.messages > 1 && nowMs - victim->lastSeenMs < CANDIDATE_STALE_MS) {
                return;
            }
            dropCandidate(UniqueID(victim->candidate.id));
        }
        m_candidates.emplace_front();
        Listed& listed = m_candidates.front();
        listed.candidate.id = id;
        listed.candidate.firstSeen = m_wallSeconds();
        m_candidateIndex.emplace(id, m_candidates.begin());
    } else {
        unrank(*found->second);
        m_candidates.splice(m_candidates.begin(), m_candidates, found->second);
    }
    Listed& listed = m_candidates.front();
    listed.candidate.address = address;
    listed.candidate.name = message.getVehicleName();
    listed.candidate.lastSeen = m_wallSeconds();
    ++listed.candidate.messages;
    listed.order = ++m_sightings;
    listed.lastSeenMs = nowMs;
    rank(listed);
}

std::vector<UniqueID> VehicleAdmission::unreviewedOf(const std::string& address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_unreviewedBySender.find(address);
    if (found == m_unreviewedBySender.end()) {
        return {};
    }
    return std::vector<UniqueID>(found->second.begin(), found->second.end());
}

std::vector<VehicleAdmission::UnreviewedSender> VehicleAdmission::getUnreviewedSenders() const
{
    std::vector<UnreviewedSender> senders;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        senders.reserve(m_unreviewedBySender.size());
        for (const auto& [address, ids] : m_unreviewedBySender) {
            senders.push_back({address, ids.size()});
        }
    }
    // Addresses come in order; the sort keeps it among equal counts.
    std::stable_sort(senders.begin(), senders.end(),
                     [](const UnreviewedSender& a, const UnreviewedSender& b) { return a.vehicles > b.vehicles; });
    return senders;
}

std::vector<VehicleAdmission::Candidate> VehicleAdmission::getCandidates() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Candidate> candidates;
    candidates.reserve(m_candidates.size());
    for (const Listed& listed : m_candidates) {
        candidates.push_back(listed.candidate);
    }
    return candidates;
}

VehicleAdmission::Refusals VehicleAdmission::getRecentRefusals() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t now = m_steadyMs();
    Refusals refusals;
    refusals.count = m_unlisted.inLastMinute(now);
    for (const Sender& sender : m_senders) {
        const uint64_t count = sender.refusals.inLastMinute(now);
        refusals.count += count;
        if (count > refusals.topSenderCount) {
            refusals.topSenderCount = count;
            refusals.topSender = sender.address;
        }
    }
    return refusals;
}

uint64_t VehicleAdmission::getRefusedTotal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refusedTotal;
}

uint64_t VehicleAdmission::getAdmittedTotal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_admittedTotal;
}

uint64_t VehicleAdmission::getMalformedTotal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_malformedTotal;
}

size_t VehicleAdmission::getSenderCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_senders.size();
}

} // namespace velmora
