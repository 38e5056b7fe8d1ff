#include "receiver/ReceiverIntake.h"

#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackServerImpl.h"
#include "intake/IntakeGate.h"
#include "intake/IntakeQueue.h"
#include "intake/VehicleAdmission.h"

#include <cstdio>

namespace velmora {

ReceiverIntake::ReceiverIntake(std::function<void()> wake)
    : m_wake(std::move(wake)), m_admission(std::make_unique<VehicleAdmission>()),
      m_queue(std::make_unique<IntakeQueue>(IntakeQueue::Bounds{QUEUE_CAPACITY, QUEUE_BYTES},
                                            IntakeQueue::DEFAULT_UNREVIEWED)),
      m_gate(std::make_unique<IntakeGate>(*m_admission, *m_queue))
{
}

ReceiverIntake::~ReceiverIntake()
{
    stop();
}

bool ReceiverIntake::start(int port, std::string& problem)
{
    if (!m_server) {
        m_server = std::make_unique<CallbackServerImpl>(this);
    }
    {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        m_startError.clear();
    }
    m_server->start(port);
    if (m_server->getBoundPort() == 0) {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        problem = m_startError.empty() ? "the port cannot be opened" : m_startError;
        return false;
    }
    return true;
}

void ReceiverIntake::stop()
{
    if (m_server) {
        m_server->stop();
    }
}

int ReceiverIntake::getBoundPort() const
{
    return m_server ? m_server->getBoundPort() : 0;
}

size_t ReceiverIntake::take(std::vector<std::unique_ptr<CallbackInfo>>& out, size_t most)
{
    const size_t before = out.size();
    m_queue->takeBatch(out, most);
    return out.size() - before;
}

void ReceiverIntake::setRules(const SharedSettings::Admission& rules)
{
    VehicleAdmission::Rules applied;
    applied.mode = rules.knownOnly ? VehicleAdmission::KNOWN_ONLY : VehicleAdmission::OPEN;
    applied.newPerMinute = rules.newPerMinute;
    applied.fleetLimit = rules.fleetLimit;
    m_admission->setRules(applied);
}

SharedSettings::Admission ReceiverIntake::getRules() const
{
    const VehicleAdmission::Rules applied = m_admission->getRules();
    SharedSettings::Admission rules;
    rules.knownOnly = applied.mode == VehicleAdmission::KNOWN_ONLY;
    rules.newPerMinute = applied.newPerMinute;
    rules.fleetLimit = applied.fleetLimit;
    return rules;
}

void ReceiverIntake::setKnown(const std::vector<UniqueID>& ids)
{
    m_admission->setKnown(ids);
}

void ReceiverIntake::admit(const UniqueID& id)
{
    m_admission->admit(id);
}

void ReceiverIntake::ignore(const UniqueID& id)
{
    m_admission->ignore(id);
}

void ReceiverIntake::forget(const UniqueID& id)
{
    m_admission->forget(id);
}

std::vector<ReceiverIntake::Candidate> ReceiverIntake::getCandidates() const
{
    std::vector<Candidate> candidates;
    for (const VehicleAdmission::Candidate& held : m_admission->getCandidates()) {
        candidates.push_back({held.id, held.address, held.name, held.firstSeen, held.lastSeen, held.messages});
    }
    return candidates;
}

uint64_t ReceiverIntake::getRefused() const
{
    return m_admission->getRefusedTotal();
}

uint64_t ReceiverIntake::getDropped() const
{
    return m_queue->getDropped();
}

void ReceiverIntake::onCallback(const CallbackInfo& info)
{
    ++m_received;
    if (m_gate->offer(info).wake && m_wake) {
        m_wake();
    }
}

void ReceiverIntake::onError(const char* message)
{
    // The start's failure is answered by start(); every one is logged.
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_startError = message != nullptr ? message : "";
    std::fprintf(stderr, "velmora-receiver: callback port: %s\n", m_startError.c_str());
}

} // namespace velmora
