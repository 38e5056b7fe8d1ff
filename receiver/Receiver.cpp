#include "receiver/Receiver.h"

#include "db/DatabaseException.h"
#include "store/PgConnection.h"

#include <cstdio>
#include <map>
#include <memory>

namespace velmora {

Receiver::Receiver(const Options& options)
    : m_options(options), m_intake([this] {
          if (m_batcher) {
              m_batcher->wake();
          }
      })
{
}

Receiver::~Receiver()
{
    stop();
}

bool Receiver::start(std::string& problem)
{
    try {
        m_spool.open(m_options.spoolPath, m_options.spoolLimitBytes);
        m_cache.open(m_options.spoolPath);
    } catch (const DatabaseException& e) {
        problem = "the spool " + m_options.spoolPath + " cannot be opened: " + e.getMessage();
        return false;
    }
    m_writer = std::make_unique<StoreWriter>(m_options.conninfo, m_spool, m_counters, *this);
    m_batcher = std::make_unique<Batcher>(m_intake, m_spool, [this](StoreBatch&& batch) {
        if (!batch.newVehicles.empty()) {
            m_cache.saveNewVehicles(batch.newVehicles);
        }
        m_writer->submit(std::move(batch));
    });
    // The store's fleet, settings and alarms arrive with the writer's first
    // connect; until then the copy from the last run judges.
    loadCache();
    m_writer->start();
    m_batcher->start();
    if (!m_intake.start(m_options.port, problem)) {
        problem = "callback port " + std::to_string(m_options.port) + ": " + problem;
        m_batcher->finish();
        m_writer->finish(PgConnection::steadyNowMs());
        return false;
    }
    m_started = true;
    return true;
}

void Receiver::stop()
{
    if (!m_started) {
        return;
    }
    m_started = false;
    const int64_t deadline = PgConnection::steadyNowMs() + STOP_BUDGET_MS;
    m_intake.stop();
    m_batcher->finish();
    m_writer->finish(deadline);
    m_spool.close();
    m_cache.close();
}

void Receiver::loadCache()
{
    SharedSettings::Values settings;
    if (m_cache.loadSettings(settings)) {
        onSettings(settings);
    }
    auto vehicles = std::make_shared<std::vector<StoredVehicle>>(m_cache.loadFleet());
    std::vector<UniqueID> known;
    for (const StoredVehicle& vehicle : *vehicles) {
        known.push_back(vehicle.id);
    }
    m_intake.setKnown(known);
    m_batcher->post([vehicles](DeviceRules& rules) { rules.setFleet(*vehicles); });
}

void Receiver::onStoreLoaded(const Snapshot& snapshot)
{
    m_cache.saveFleet(snapshot.vehicles);
    m_cache.saveSettings(snapshot.settings);
    m_intake.setRules(snapshot.settings.admission);
    auto vehicles = std::make_shared<std::vector<StoredVehicle>>(snapshot.vehicles);
    auto alarms = std::make_shared<std::vector<StoredAlarm>>(snapshot.openAlarms);
    auto decisions = std::make_shared<std::vector<std::pair<UniqueID, std::string>>>(snapshot.decisions);
    const AlarmBook::Priorities priorities = snapshot.settings.priorities;
    auto settings = std::make_shared<SharedSettings::Values>(snapshot.settings);
    auto zones = std::make_shared<std::vector<Zone>>(snapshot.zones);
    m_batcher->post([this, vehicles, alarms, decisions, priorities, settings, zones](DeviceRules& rules) {
        // The rules keep the vehicles this receiver made that are not in
        // the store yet; the admission knows what the rules know.
        rules.setFleet(*vehicles);
        rules.setPriorities(priorities);
        rules.restoreAlarms(*alarms);
        rules.setWatchSettings(settings->watch, settings->vehicleSilentMinutes);
        rules.setZones(*zones);
        m_intake.setKnown(rules.getFleetIds());
        applyDecisions(*decisions);
    });
}

void Receiver::onBatchStored(uint64_t number)
{
    m_batcher->post([number](DeviceRules& rules) { rules.confirmed(number); });
}

void Receiver::onVehiclesChanged(const std::vector<StoredVehicle>& changed, const std::vector<UniqueID>& deleted)
{
    for (const UniqueID& id : deleted) {
        m_intake.forget(id);
    }
    m_cache.saveVehicles(changed);
    m_cache.forgetVehicles(deleted);
    m_batcher->post([changed, deleted](DeviceRules& rules) {
        for (const StoredVehicle& vehicle : changed) {
            rules.updateVehicle(vehicle);
        }
        for (const UniqueID& id : deleted) {
            rules.forgetVehicle(id);
        }
    });
}

void Receiver::onOpenAlarms(const std::vector<StoredAlarm>& open)
{
    m_batcher->post([open](DeviceRules& rules) { rules.restoreAlarms(open); });
}

void Receiver::onSettings(const SharedSettings::Values& settings)
{
    m_cache.saveSettings(settings);
    // The rules' part first: once the admission shows the new rules, the
    // priorities are queued ahead of any later message.
    const AlarmBook::Priorities priorities = settings.priorities;
    const WatchSettings watch = settings.watch;
    const std::map<UniqueID, int32_t> silentMinutes = settings.vehicleSilentMinutes;
    m_batcher->post([priorities, watch, silentMinutes](DeviceRules& rules) {
        rules.setPriorities(priorities);
        rules.setWatchSettings(watch, silentMinutes);
    });
    m_intake.setRules(settings.admission);
    std::fprintf(stderr,
                 "velmora-receiver: shared settings: new vehicles %s, %d a minute per sender, fleet limit %d; "
                 "%zu alarm kinds; silent after %d min, speed limit %d km/h\n",
                 settings.admission.knownOnly ? "known only" : "open", settings.admission.newPerMinute,
                 settings.admission.fleetLimit, settings.priorities.size(), settings.watch.silentMinutes,
                 settings.watch.speedLimitKmh);
}

void Receiver::onZones(const std::vector<Zone>& zones)
{
    auto held = std::make_shared<std::vector<Zone>>(zones);
    m_batcher->post([held](DeviceRules& rules) { rules.setZones(*held); });
    std::fprintf(stderr, "velmora-receiver: %zu zones\n", zones.size());
}

void Receiver::onDecisions(const std::vector<std::pair<UniqueID, std::string>>& decisions)
{
    applyDecisions(decisions);
}

void Receiver::applyDecisions(const std::vector<std::pair<UniqueID, std::string>>& decisions)
{
    for (const auto& [id, decision] : decisions) {
        if (decision == "admit") {
            m_intake.admit(id);
        } else if (decision == "ignore") {
            m_intake.ignore(id);
        }
    }
}

std::vector<ReceiverIntake::Candidate> Receiver::getCandidates()
{
    return m_intake.getCandidates();
}

std::string Receiver::counterLine()
{
    const DeviceRules::Counters rules = m_batcher ? m_batcher->getCounters() : DeviceRules::Counters();
    const ReceiverCounters& c = m_counters;
    const int64_t p99 = m_counters.takeLatencyP99();
    char line[1024];
    std::snprintf(line, sizeof line,
                  "received=%llu refused=%llu dropped=%llu fixes=%llu events=%llu new_vehicles=%llu "
                  "alarms_raised=%llu alarms_repeated=%llu stored_fixes=%llu stored_events=%llu batches=%llu "
                  "duplicates=%llu spooled=%llu replayed=%llu spool_batches=%zu spool_mb=%.1f spool_refused_rows=%llu "
                  "rejected_rows=%llu store=%s commit_p99_ms=%lld",
                  static_cast<unsigned long long>(m_intake.getReceived()),
                  static_cast<unsigned long long>(m_intake.getRefused()),
                  static_cast<unsigned long long>(m_intake.getDropped()),
                  static_cast<unsigned long long>(rules.fixes), static_cast<unsigned long long>(rules.events),
                  static_cast<unsigned long long>(rules.newVehicles),
                  static_cast<unsigned long long>(rules.alarmsRaised),
                  static_cast<unsigned long long>(rules.alarmsRepeated),
                  static_cast<unsigned long long>(c.storedFixes.load()),
                  static_cast<unsigned long long>(c.storedEvents.load()),
                  static_cast<unsigned long long>(c.storedBatches.load()),
                  static_cast<unsigned long long>(c.duplicateBatches.load()),
                  static_cast<unsigned long long>(c.spooledBatches.load()),
                  static_cast<unsigned long long>(c.replayedBatches.load()), m_spool.getCount(),
                  static_cast<double>(m_spool.getBytes()) / (1024.0 * 1024.0),
                  static_cast<unsigned long long>(c.refusedRows.load()),
                  static_cast<unsigned long long>(c.rejectedRows.load()), c.storeUp.load() ? "up" : "away",
                  static_cast<long long>(p99));
    return line;
}

} // namespace velmora
