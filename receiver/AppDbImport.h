#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

class PgConnection;

/// Copies a desk's app.db into the store: vehicles, events, fixes and
/// alarms, the texts and numbers as app.db holds them (times read as
/// app.db's DATETIME texts, taken as UTC).
///
/// Every row copied names where it came from (an import origin, by default
/// the file's full path, and its id there), so importing the same file
/// again adds only what was added to it since: rows already in the store
/// are recognised, never copied twice; a vehicle the store knows keeps its
/// row. Events and fixes go in chunks of CHUNK rows, one transaction each,
/// so the change feed is never held back for long and an interrupted import
/// goes on where it stopped. Fixes are filed under the day of their device
/// time (1970-01-01 when they have none).
class AppDbImport {
public:
    static constexpr int CHUNK = 10000;

    struct Counts {
        int64_t vehicles = 0;
        int64_t events = 0;
        int64_t fixes = 0;
        int64_t alarms = 0;
    };

    /// store is open; origin "" names the import by the file's full path.
    AppDbImport(PgConnection& store, const std::string& appDbPath, const std::string& origin);

    /// Runs the import, telling progress lines as it goes. Answers what was
    /// added. Throws StoreException or DatabaseException (app.db missing or
    /// unreadable); what was committed before stays.
    Counts run(const std::function<void(const std::string&)>& progress);

private:
    int32_t originId();
    int64_t importVehicles();
    int64_t importEvents(int32_t origin, const std::function<void(const std::string&)>& progress);
    int64_t importFixes(int32_t origin, const std::function<void(const std::string&)>& progress);
    int64_t importAlarms(int32_t origin);

    PgConnection& m_store;
    std::string m_path;
    std::string m_origin;
};

} // namespace velmora
