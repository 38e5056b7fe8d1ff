#include "receiver/Batcher.h"

#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"
#include "receiver/ReceiverIntake.h"
#include "receiver/Spool.h"
#include "store/StoreText.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace velmora {

namespace {

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Batcher::Batcher(ReceiverIntake& intake, Spool& numbers, std::function<void(StoreBatch&&)> deliver)
    : m_intake(intake), m_numbers(numbers), m_deliver(std::move(deliver))
{
}

Batcher::~Batcher()
{
    finish();
}

void Batcher::start()
{
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { run(); });
    }
}

void Batcher::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finishing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void Batcher::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_one();
}

void Batcher::post(std::function<void(DeviceRules&)> change)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posted.push_back(std::move(change));
        m_woken = true;
    }
    m_changed.notify_one();
}

DeviceRules::Counters Batcher::getCounters() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters;
}

bool Batcher::runPosted()
{
    std::vector<std::function<void(DeviceRules&)>> posted;
    bool finishing = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        posted.swap(m_posted);
        finishing = m_finishing;
    }
    for (auto& change : posted) {
        change(m_rules);
    }
    return finishing;
}

void Batcher::handOver(StoreBatch& batch)
{
    batch.number = m_numbers.takeNumber();
    m_rules.handedOver(batch.number);
    m_deliver(std::move(batch));
    batch = StoreBatch();
}

void Batcher::run()
{
    std::vector<std::unique_ptr<CallbackInfo>> taken;
    taken.reserve(TAKE);
    StoreBatch batch;
    int64_t batchStarted = 0;
    int64_t lastFlush = steadyMs();
    std::time_t lastTick = 0;
    for (;;) {
        const bool finishing = runPosted();
        taken.clear();
        m_intake.take(taken, TAKE);
        const int64_t now = steadyMs();
        const int64_t received = StoreText::nowMicros();
        const std::time_t wallNow = std::time(nullptr);
        for (const auto& message : taken) {
            m_rules.apply(*message, received, wallNow, batch);
            if (batchStarted == 0 && !batch.isEmpty()) {
                batchStarted = now;
            }
            if (batch.getMessageCount() >= MAX_MESSAGES) {
                handOver(batch);
                batchStarted = 0;
            }
        }
        // The watch rules' silent check, once a second (the loop wakes at
        // least every 200 ms).
        if (wallNow != lastTick && !finishing) {
            lastTick = wallNow;
            m_rules.tick(wallNow, received, batch);
            if (batchStarted == 0 && !batch.isEmpty()) {
                batchStarted = now;
            }
        }
        const bool last = finishing && taken.empty();
        const bool due = !batch.isEmpty() && (now - batchStarted >= MAX_AGE_MS || last);
        // Each vehicle's waiting position is written within about
        // POSITION_FLUSH_MS, a share with every batch, so no batch carries
        // the whole fleet's.
        const size_t pending = m_rules.getPendingCount();
        if (pending > 0 && (due || last || now - lastFlush >= POSITION_FLUSH_MS / 5)) {
            const int64_t since = std::max<int64_t>(now - lastFlush, 1);
            const size_t share = last ? pending
                                      : std::max<size_t>(1, static_cast<size_t>((static_cast<int64_t>(pending) * since +
                                                                                 POSITION_FLUSH_MS - 1) /
                                                                                POSITION_FLUSH_MS));
            m_rules.flushPositions(batch, share);
            lastFlush = now;
            if (batchStarted == 0) {
                batchStarted = now;
            }
        }
        if (!batch.isEmpty() && (now - batchStarted >= MAX_AGE_MS || last)) {
            handOver(batch);
            batchStarted = 0;
        }
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_counters = m_rules.getCounters();
            if (last && m_posted.empty()) {
                return;
            }
            if (!taken.empty() || m_finishing) {
                continue;
            }
            // Nothing queued: sleep until a message, a post, or the batch's
            // or the positions' time comes.
            int64_t until = now + 200;
            if (batchStarted != 0) {
                until = std::min(until, batchStarted + MAX_AGE_MS);
            }
            if (m_rules.getPendingCount() > 0) {
                until = std::min(until, lastFlush + POSITION_FLUSH_MS / 5);
            }
            m_changed.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(until - now, 1)),
                               [this] { return m_woken || m_finishing; });
            m_woken = false;
        }
    }
}

} // namespace velmora
