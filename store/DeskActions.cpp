#include "store/DeskActions.h"

#include "rules/AlarmBook.h"
#include "store/ChangeFeed.h"
#include "store/FleetReader.h"
#include "store/PgConnection.h"
#include "store/PgTransaction.h"
#include "store/StoreText.h"

namespace velmora {

namespace {

const std::string RETURNING = std::string(" RETURNING ") + FleetReader::ALARM_COLUMNS;

// An alarm step: the UPDATE runs only while the row is in the state the
// step needs. A desk that comes second waits for the first one's commit
// (the row lock), finds the condition false and takes nothing.
const std::string ACKNOWLEDGE_SQL =
    "UPDATE alarm_info SET acknowledged = now(), acknowledged_by = $2, acknowledged_desk = $3 "
    "WHERE id = $1 AND closed IS NULL AND acknowledged IS NULL" +
    RETURNING;

const std::string NOTE_SQL =
    "UPDATE alarm_info SET notes = CASE WHEN notes = '' THEN $2 ELSE notes || E'\\n' || $2 END "
    "WHERE id = $1 AND closed IS NULL AND octet_length(notes) + octet_length($2) + 1 <= " +
    std::to_string(AlarmBook::NOTES_MAX) + RETURNING;

// SET reads the row's old values: a close acknowledges only an alarm
// nobody acknowledged.
const std::string CLOSE_SQL =
    "UPDATE alarm_info SET "
    "notes = CASE WHEN $4 = '' THEN notes WHEN notes = '' THEN $4 ELSE notes || E'\\n' || $4 END, "
    "acknowledged_by = CASE WHEN acknowledged IS NULL THEN $2 ELSE acknowledged_by END, "
    "acknowledged_desk = CASE WHEN acknowledged IS NULL THEN $3 ELSE acknowledged_desk END, "
    "acknowledged = COALESCE(acknowledged, now()), "
    "closed = now(), closed_by = $2, closed_desk = $3 "
    "WHERE id = $1 AND closed IS NULL AND (priority <> 1 OR notes <> '' OR $4 <> '') "
    "AND octet_length(notes) + octet_length($4) + 1 <= " +
    std::to_string(AlarmBook::NOTES_MAX) + RETURNING;

const char* const SAVE_VEHICLE_SQL =
    "UPDATE vehicle_info SET "
    "edited_name = CASE WHEN $2::int & 1 <> 0 THEN $3 ELSE edited_name END, "
    "info1 = CASE WHEN $2::int & 2 <> 0 THEN $4 ELSE info1 END, "
    "info2 = CASE WHEN $2::int & 2 <> 0 THEN $5 ELSE info2 END, "
    "image_path = CASE WHEN $2::int & 4 <> 0 THEN $6 ELSE image_path END, "
    "deleted = CASE WHEN $2::int & 8 <> 0 THEN $7::boolean ELSE deleted END "
    "WHERE id = $1";

void announce(PgConnection& connection, const char* kind, const std::string& key, const DeskActions::Operator& by)
{
    ChangeFeed::append(connection, kind, key, by.source());
    ChangeFeed::notify(connection, kind);
}

} // namespace

DeskActions::AlarmOutcome DeskActions::settle(PgConnection& connection, int64_t id, Step step)
{
    // Read after the UPDATE, in the same transaction: the row as the
    // desk that came first left it.
    AlarmOutcome outcome;
    const std::vector<StoredAlarm> rows = FleetReader::loadAlarms(connection, {id});
    if (rows.empty()) {
        return outcome;
    }
    outcome.alarm = rows.front();
    const Alarm& alarm = outcome.alarm.alarm;
    if (alarm.closed != 0) {
        outcome.kind = AlarmOutcome::CLOSED;
    } else if (step == Step::CLOSE && alarm.priority == 1 && alarm.notes.empty()) {
        outcome.kind = AlarmOutcome::NEEDS_NOTE;
    } else if (step == Step::ACKNOWLEDGE) {
        outcome.kind = AlarmOutcome::TAKEN;
    } else {
        outcome.kind = AlarmOutcome::FULL;
    }
    return outcome;
}

DeskActions::AlarmOutcome DeskActions::take(PgConnection& connection, int64_t id, Step step, const std::string& sql,
                                            const std::vector<PgConnection::Param>& params, const Operator& by)
{
    PgTransaction transaction(connection);
    const PgResult taken = connection.query(sql, params);
    AlarmOutcome outcome;
    if (taken.getRowCount() == 0) {
        outcome = settle(connection, id, step);
    } else {
        outcome.kind = AlarmOutcome::DONE;
        outcome.alarm = FleetReader::alarmAt(taken, 0);
        announce(connection, ChangeFeed::ALARM, std::to_string(id), by);
    }
    transaction.commit();
    return outcome;
}

DeskActions::AlarmOutcome DeskActions::acknowledge(PgConnection& connection, int64_t id, const Operator& by)
{
    return take(connection, id, Step::ACKNOWLEDGE, ACKNOWLEDGE_SQL,
                {id, StoreText::clean(by.user), StoreText::clean(by.desk)}, by);
}

DeskActions::AlarmOutcome DeskActions::addNote(PgConnection& connection, int64_t id, const std::string& line,
                                               const Operator& by)
{
    return take(connection, id, Step::NOTE, NOTE_SQL, {id, StoreText::clean(line)}, by);
}

DeskActions::AlarmOutcome DeskActions::close(PgConnection& connection, int64_t id, const std::string& line,
                                             const Operator& by)
{
    return take(connection, id, Step::CLOSE, CLOSE_SQL,
                {id, StoreText::clean(by.user), StoreText::clean(by.desk), StoreText::clean(line)}, by);
}

bool DeskActions::saveVehicle(PgConnection& connection, const UniqueID& vehicle, const VehicleEdit& edit,
                              const Operator& by)
{
    PgTransaction transaction(connection);
    const std::string id = vehicle.toText();
    const PgResult saved = connection.query(
        SAVE_VEHICLE_SQL,
        {id, static_cast<int64_t>(edit.fields), StoreText::clean(edit.editedName), StoreText::clean(edit.info1),
         StoreText::clean(edit.info2), StoreText::clean(edit.imagePath), edit.deleted ? "true" : "false"});
    if (saved.getAffectedRows() == 0) {
        return false;
    }
    announce(connection, ChangeFeed::VEHICLE, id, by);
    transaction.commit();
    return true;
}

bool DeskActions::deleteVehicle(PgConnection& connection, const UniqueID& vehicle, const Operator& by)
{
    PgTransaction transaction(connection);
    const std::string id = vehicle.toText();
    const PgResult gone = connection.query("DELETE FROM vehicle_info WHERE id = $1", {id});
    if (gone.getAffectedRows() == 0) {
        return false;
    }
    connection.query("DELETE FROM gps_data WHERE vehicle_id = $1", {id});
    connection.query("DELETE FROM event_info WHERE vehicle_id = $1", {id});
    connection.query("DELETE FROM optional_info WHERE vehicle_id = $1", {id});
    announce(connection, ChangeFeed::VEHICLE_DELETED, id, by);
    transaction.commit();
    return true;
}

void DeskActions::decide(PgConnection& connection, const UniqueID& vehicle, bool admit, const Operator& by)
{
    PgTransaction transaction(connection);
    const std::string id = vehicle.toText();
    connection.query("INSERT INTO admission_decision (vehicle_id, decision, decided_by) VALUES ($1, $2, $3) "
                     "ON CONFLICT (vehicle_id) DO UPDATE SET decision = EXCLUDED.decision, "
                     "decided_by = EXCLUDED.decided_by, decided_at = now()",
                     {id, admit ? "admit" : "ignore", StoreText::clean(by.source())});
    connection.query("DELETE FROM admission_candidate WHERE vehicle_id = $1", {id});
    ChangeFeed::append(connection, ChangeFeed::ADMISSION, id, by.source());
    ChangeFeed::append(connection, ChangeFeed::CANDIDATES, "", by.source());
    ChangeFeed::notify(connection, ChangeFeed::ADMISSION);
    transaction.commit();
}

std::vector<DeskActions::Candidate> DeskActions::loadCandidates(PgConnection& connection)
{
    const PgResult rows = connection.execute(
        "SELECT c.vehicle_id, c.address, c.name, COALESCE(floor(extract(epoch FROM c.first_seen))::bigint, 0), "
        "COALESCE(floor(extract(epoch FROM c.last_seen))::bigint, 0), c.messages FROM admission_candidate c "
        "WHERE NOT EXISTS (SELECT 1 FROM admission_decision d WHERE d.vehicle_id = c.vehicle_id) "
        "ORDER BY c.last_seen DESC NULLS LAST LIMIT " +
        std::to_string(CANDIDATES_MAX));
    std::vector<Candidate> candidates;
    for (int row = 0; row < rows.getRowCount(); ++row) {
        Candidate candidate;
        if (!UniqueID::parse(rows.getText(row, 0), candidate.id)) {
            continue;
        }
        candidate.address = rows.getString(row, 1);
        candidate.name = rows.getString(row, 2);
        candidate.firstSeen = static_cast<std::time_t>(rows.getInt64(row, 3));
        candidate.lastSeen = static_cast<std::time_t>(rows.getInt64(row, 4));
        candidate.messages = static_cast<uint64_t>(rows.getInt64(row, 5));
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

} // namespace velmora
