#pragma once

#include "foundation/UniqueID.h"
#include "intake/VehicleAdmission.h"
#include "store/PgConnection.h"
#include "store/StoredAlarm.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {


/// What an operator changes at a desk that every desk sees: each call is
/// one transaction in the store, with its change feed entry and a notice,
/// so the other desks and the receiver follow it (FeedReader).
///
/// Where desks can race, the first writer wins: a step on an alarm is a
/// conditional UPDATE that takes the row only in the state the step needs
/// (not acknowledged, not closed), and a desk that comes second is told
/// the row as the winner left it. Texts are made clean UTF-8 first (the
/// server refuses anything else). Failures throw StoreException.
class DeskActions {
public:
    /// Who acts: the OS account and the desk (its host name).
    struct Operator {
        std::string user;
        std::string desk;
        /// The change feed's source: "user@desk".
        std::string source() const { return user + "@" + desk; }
    };

    /// What became of a step on an alarm.
    struct AlarmOutcome {
        enum Kind {
            DONE,       ///< taken; alarm is the row as it now is
            TAKEN,      ///< another desk acknowledged it first; alarm says who and when
            CLOSED,     ///< it was closed before (by alarm's closedBy on closedDesk)
            NEEDS_NOTE, ///< a priority 1 alarm closes only with a note
            FULL,       ///< its notes have no room for this one
            UNKNOWN,    ///< no such alarm
        };
        Kind kind = UNKNOWN;
        StoredAlarm alarm;
    };

    /// The operator fields of a vehicle that a save writes (VehicleEdit::fields).
    enum VehicleField : uint32_t {
        EDITED_NAME = 1,
        INFO = 2, ///< info1 and info2
        IMAGE = 4,
        DELETED = 8,
    };
    struct VehicleEdit {
        uint32_t fields = 0;
        std::string editedName;
        std::string info1;
        std::string info2;
        std::string imagePath;
        bool deleted = false;
    };

    /// An id the receiver refused, waiting for a desk's answer.
    using Candidate = VehicleAdmission::Candidate;
    /// Candidates shown at most.
    static constexpr int CANDIDATES_MAX = 1000;

    /// Acknowledges alarm id unless it is acknowledged or closed already.
    static AlarmOutcome acknowledge(PgConnection& connection, int64_t id, const Operator& by);
    /// Adds line (a whole note line, "time user: text") to the alarm's notes.
    static AlarmOutcome addNote(PgConnection& connection, int64_t id, const std::string& line, const Operator& by);
    /// Closes the alarm, with line as a last note when not empty;
    /// acknowledges it too when nobody had.
    static AlarmOutcome close(PgConnection& connection, int64_t id, const std::string& line, const Operator& by);

    /// Writes the fields of edit named in edit.fields; false when the
    /// vehicle is not in the store.
    static bool saveVehicle(PgConnection& connection, const UniqueID& vehicle, const VehicleEdit& edit,
                            const Operator& by);
    /// Deletes the vehicle for good with its fixes, events and information
    /// (its alarms stay, as at the single desk); false when it was gone.
    static bool deleteVehicle(PgConnection& connection, const UniqueID& vehicle, const Operator& by);
    /// A desk's answer to a refused id: admit or ignore; it leaves the list
    /// of every desk.
    static void decide(PgConnection& connection, const UniqueID& vehicle, bool admit, const Operator& by);
    /// The refused ids no desk has answered, most recently seen first.
    static std::vector<Candidate> loadCandidates(PgConnection& connection);

private:
    /// What a step that took no row met: the row as it now is.
    enum class Step { ACKNOWLEDGE, NOTE, CLOSE };
    static AlarmOutcome settle(PgConnection& connection, int64_t id, Step step);
    /// Runs one step's UPDATE in a transaction: DONE and announced when it
    /// took the row, else what settle finds.
    static AlarmOutcome take(PgConnection& connection, int64_t id, Step step, const std::string& sql,
                             const std::vector<PgConnection::Param>& params, const Operator& by);
};

} // namespace velmora
