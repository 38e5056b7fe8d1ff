#pragma once

#include "foundation/UniqueID.h"
#include "intake/CallbackServerDelegate.h"
#include "store/SharedSettings.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class CallbackInfo;
class CallbackServerImpl;
class IntakeGate;
class IntakeQueue;
class VehicleAdmission;

/// The receiver's intake: the callback port, the admission of new vehicle
/// ids and the bounded hand-over to the batching thread. The one place the
/// receiver uses the intake's classes, so it follows them when they change.
///
/// The server thread parses each datagram, asks the admission and queues
/// what is admitted; wake() tells the taker. Everything else is thread-safe.
class ReceiverIntake : public CallbackServerDelegate {
public:
    /// Messages (and bytes) the known vehicles' lane of the hand-over holds
    /// before it drops (and counts) one: a few
    /// commits' worth at full rate; beyond that the socket's receive queue
    /// holds the flood.
    static constexpr size_t QUEUE_CAPACITY = 65536;
    static constexpr size_t QUEUE_BYTES = 64u << 20;

    /// A refused id that keeps sending, for the desks' New vehicles list.
    struct Candidate {
        UniqueID id;
        std::string address;
        std::string name;
        std::time_t firstSeen = 0;
        std::time_t lastSeen = 0;
        uint64_t messages = 0;
    };

    /// wake is called on the server thread when the taker should look.
    explicit ReceiverIntake(std::function<void()> wake);
    ~ReceiverIntake() override;
    ReceiverIntake(const ReceiverIntake&) = delete;
    ReceiverIntake& operator=(const ReceiverIntake&) = delete;

    /// Opens the port (0: any free one) and starts receiving; false with
    /// the reason in problem when it cannot be opened.
    bool start(int port, std::string& problem);
    /// Stops receiving and closes the port; what was queued stays to be taken.
    void stop();
    int getBoundPort() const;

    /// Moves up to most queued messages, oldest first, to out.
    size_t take(std::vector<std::unique_ptr<CallbackInfo>>& out, size_t most);

    void setRules(const SharedSettings::Admission& rules);
    SharedSettings::Admission getRules() const;
    /// The fleet's ids: their messages pass.
    void setKnown(const std::vector<UniqueID>& ids);
    void admit(const UniqueID& id);
    void ignore(const UniqueID& id);
    void forget(const UniqueID& id);
    std::vector<Candidate> getCandidates() const;

    uint64_t getReceived() const { return m_received.load(); }
    uint64_t getRefused() const;
    uint64_t getDropped() const;

    void onCallback(const CallbackInfo& info) override;
    void onError(const char* message) override;

private:
    std::function<void()> m_wake;
    std::unique_ptr<VehicleAdmission> m_admission;
    std::unique_ptr<IntakeQueue> m_queue;
    std::unique_ptr<IntakeGate> m_gate;
    std::unique_ptr<CallbackServerImpl> m_server;
    std::atomic<uint64_t> m_received{0};
    mutable std::mutex m_errorMutex;
    std::string m_startError;
};

} // namespace velmora
