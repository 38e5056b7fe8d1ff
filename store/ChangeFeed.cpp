#include "store/ChangeFeed.h"

#include "store/PgConnection.h"
#include "store/PgTransaction.h"

#include <unistd.h>

namespace velmora {

void ChangeFeed::append(PgConnection& connection, const std::string& kind, const std::string& key,
                        const std::string& source)
{
    connection.query("INSERT INTO change_feed (kind, key, source) VALUES ($1, $2, $3)", {kind, key, source});
}

void ChangeFeed::notify(PgConnection& connection, const std::string& payload)
{
    connection.query("SELECT pg_notify($1, $2)", {CHANNEL, payload.substr(0, 1000)});
}

int64_t ChangeFeed::prune(PgConnection& connection, int keepDays)
{
    PgTransaction transaction(connection);
    // Everything below the newest pruned transaction goes, so the recorded
    // bound tells a reader exactly whether it missed entries.
    const PgResult bound = connection.query(
        "SELECT MAX(tx) FROM change_feed WHERE at < now() - make_interval(days => $1::int)", {keepDays});
    if (bound.isNull(0, 0)) {
        return 0;
    }
    const int64_t below = bound.getInt64(0, 0) + 1;
    const PgResult deleted = connection.query("DELETE FROM change_feed WHERE tx < $1", {below});
    connection.query("UPDATE feed_state SET pruned_below = GREATEST(pruned_below, $1)", {below});
    transaction.commit();
    return deleted.getAffectedRows();
}

std::string ChangeFeed::sourceName(const std::string& program)
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return program + "@" + host;
}

} // namespace velmora
