#pragma once

#include "receiver/Batcher.h"
#include "receiver/FleetCache.h"
#include "receiver/ReceiverCounters.h"
#include "receiver/ReceiverIntake.h"
#include "receiver/Spool.h"
#include "receiver/StoreWriter.h"
#include "receiver/StoreWriterDelegate.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

/// The headless receiver put together: the callback port and admission
/// (ReceiverIntake), the device rules and batching (Batcher), the store
/// writer with its spool (StoreWriter, Spool). Admission rules, alarm
/// priorities and the watch rules' settings come from the store's shared
/// settings, the known fleet, open alarms and zones from its tables, and
/// all of them follow its change feed.
///
/// Used by one owner thread: open, start, stop, counterLine.
class Receiver : public StoreWriterDelegate {
public:
    struct Options {
        std::string conninfo;
        int port = 10111;
        std::string spoolPath;
        int64_t spoolLimitBytes = Spool::DEFAULT_LIMIT_BYTES;
    };
    /// How long stop() may take to write what was taken.
    static constexpr int64_t STOP_BUDGET_MS = 1500;

    explicit Receiver(const Options& options);
    ~Receiver() override;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    /// Opens the spool and the port, and starts the threads (the store is
    /// reached in the background; it may be away). false with the reason in
    /// problem when the spool or the port cannot be opened.
    bool start(std::string& problem);
    /// Stops taking datagrams, writes what was taken to the store (or the
    /// spool) within STOP_BUDGET_MS, and ends the threads.
    void stop();
    int getBoundPort() const { return m_intake.getBoundPort(); }
    /// The admission rules in force.
    SharedSettings::Admission getAdmission() const { return m_intake.getRules(); }

    /// The minute line's counters: "received=... stored_fixes=... ...".
    std::string counterLine();
    const ReceiverCounters& getCounters() const { return m_counters; }
    const Spool& getSpool() const { return m_spool; }

    void onStoreLoaded(const Snapshot& snapshot) override;
    void onVehiclesChanged(const std::vector<StoredVehicle>& changed, const std::vector<UniqueID>& deleted) override;
    void onOpenAlarms(const std::vector<StoredAlarm>& open) override;
    void onSettings(const SharedSettings::Values& settings) override;
    void onZones(const std::vector<Zone>& zones) override;
    void onDecisions(const std::vector<std::pair<UniqueID, std::string>>& decisions) override;
    void onBatchStored(uint64_t number) override;
    std::vector<ReceiverIntake::Candidate> getCandidates() override;

private:
    void applyDecisions(const std::vector<std::pair<UniqueID, std::string>>& decisions);
    /// Judges by the copy the spool file keeps until the store answers.
    void loadCache();

    Options m_options;
    ReceiverCounters m_counters;
    Spool m_spool;
    FleetCache m_cache;
    ReceiverIntake m_intake;
    std::unique_ptr<StoreWriter> m_writer;
    std::unique_ptr<Batcher> m_batcher;
    bool m_started = false;
};

} // namespace velmora
