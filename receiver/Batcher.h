#pragma once

#include "receiver/DeviceRules.h"
#include "store/StoreBatch.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

class ReceiverIntake;
class Spool;

/// The receiver's batching thread, "Store Batcher": takes the admitted
/// messages from the intake, runs the device rules on them and cuts
/// batches: a batch is handed on once it is 50 ms old or holds 4,000 fixes
/// and events, whichever comes first, numbered in hand-over order.
/// Each vehicle's position and time joins a batch within about 5 s, a share
/// of the fleet's with every batch. Once a second the watch rules check for
/// silent vehicles (DeviceRules::tick).
///
/// The rules' state (fleet, alarms, priorities) belongs to this thread;
/// other threads change it through post(). start, finish and post may be
/// called from any thread; wake from the intake's.
class Batcher {
public:
    static constexpr size_t MAX_MESSAGES = 4000;
    static constexpr int64_t MAX_AGE_MS = 50;
    static constexpr int64_t POSITION_FLUSH_MS = 5000;
    /// Messages taken from the intake at once.
    static constexpr size_t TAKE = 512;

    /// numbers hands out batch numbers; deliver takes each batch (on this
    /// thread).
    Batcher(ReceiverIntake& intake, Spool& numbers, std::function<void(StoreBatch&&)> deliver);
    ~Batcher();
    Batcher(const Batcher&) = delete;
    Batcher& operator=(const Batcher&) = delete;

    void start();
    /// Takes what the intake still holds (stop the port first), hands the
    /// last batch over and ends the thread.
    void finish();
    /// Something was queued.
    void wake();
    /// Runs change on the batching thread before the next message.
    void post(std::function<void(DeviceRules&)> change);
    DeviceRules::Counters getCounters() const;

private:
    void run();
    void handOver(StoreBatch& batch);
    bool runPosted();

    ReceiverIntake& m_intake;
    Spool& m_numbers;
    std::function<void(StoreBatch&&)> m_deliver;
    DeviceRules m_rules;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_woken = false;
    bool m_finishing = false;
    std::vector<std::function<void(DeviceRules&)>> m_posted;
    DeviceRules::Counters m_counters;
    std::thread m_thread;
};

} // namespace velmora
