#include "receiver/FleetCache.h"

#include "db/DatabaseException.h"
#include "db/RowSet.h"
#include "db/Statement.h"
#include "foundation/Trace.h"

#include <map>

namespace velmora {

namespace {

const char* const SCHEMA_SQL =
    "CREATE TABLE IF NOT EXISTS fleet (id TEXT PRIMARY KEY, name TEXT NOT NULL, edited_name TEXT NOT NULL, "
    "deleted INTEGER NOT NULL, company TEXT NOT NULL, maker TEXT NOT NULL, model TEXT NOT NULL, "
    "registration TEXT NOT NULL, driver TEXT NOT NULL, license TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS shared_setting (key TEXT PRIMARY KEY, value TEXT NOT NULL);";

std::string textAt(const RowSet& rows, int column)
{
    const char* text = rows.getText(column);
    return text != nullptr ? text : "";
}

/// Runs body in one transaction; a failure is traced and rolled back.
template <typename Body> void inTransaction(Database& database, Body body)
{
    try {
        database.execute("BEGIN IMMEDIATE;");
        body();
        database.execute("COMMIT;");
    } catch (const DatabaseException& e) {
        traceException(e);
        try {
            database.execute("ROLLBACK;");
        } catch (const DatabaseException&) {
            // Nothing was open.
        }
    }
}

} // namespace

void FleetCache::open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_database.open(path.c_str(), 5000);
    m_database.execute("PRAGMA synchronous = NORMAL;");
    m_database.execute(SCHEMA_SQL);
}

void FleetCache::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_database.close();
}

std::vector<StoredVehicle> FleetCache::loadFleet()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<StoredVehicle> vehicles;
    try {
        RowSet rows(m_database, "SELECT id, name, edited_name, deleted, company, maker, model, registration, driver, "
                                "license FROM fleet;");
        while (rows.next()) {
            StoredVehicle vehicle;
            if (!UniqueID::parse(textAt(rows, 0).c_str(), vehicle.id)) {
                continue;
            }
            vehicle.name = textAt(rows, 1);
            vehicle.editedName = textAt(rows, 2);
            vehicle.deleted = rows.getInt(3) != 0;
            vehicle.company = textAt(rows, 4);
            vehicle.maker = textAt(rows, 5);
            vehicle.model = textAt(rows, 6);
            vehicle.registration = textAt(rows, 7);
            vehicle.driver = textAt(rows, 8);
            vehicle.license = textAt(rows, 9);
            vehicles.push_back(std::move(vehicle));
        }
    } catch (const DatabaseException& e) {
        traceException(e);
    }
    return vehicles;
}

bool FleetCache::loadSettings(SharedSettings::Values& values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::map<std::string, std::string> texts;
    try {
        RowSet rows(m_database, "SELECT key, value FROM shared_setting;");
        while (rows.next()) {
            texts[textAt(rows, 0)] = textAt(rows, 1);
        }
    } catch (const DatabaseException& e) {
        traceException(e);
    }
    if (texts.empty()) {
        return false;
    }
    values = SharedSettings::fromTexts(texts);
    return true;
}

void FleetCache::upsert(const std::vector<StoredVehicle>& vehicles)
{
    for (const StoredVehicle& vehicle : vehicles) {
        Statement statement(m_database,
                            "INSERT OR REPLACE INTO fleet (id, name, edited_name, deleted, company, maker, model, "
                            "registration, driver, license) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?);");
        const std::string id = vehicle.id.toText();
        statement.bindText(1, id.c_str());
        statement.bindText(2, vehicle.name.c_str());
        statement.bindText(3, vehicle.editedName.c_str());
        statement.bindInt(4, vehicle.deleted ? 1 : 0);
        statement.bindText(5, vehicle.company.c_str());
        statement.bindText(6, vehicle.maker.c_str());
        statement.bindText(7, vehicle.model.c_str());
        statement.bindText(8, vehicle.registration.c_str());
        statement.bindText(9, vehicle.driver.c_str());
        statement.bindText(10, vehicle.license.c_str());
        statement.execute();
    }
}

void FleetCache::saveFleet(const std::vector<StoredVehicle>& vehicles)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    inTransaction(m_database, [&] {
        m_database.execute("DELETE FROM fleet;");
        upsert(vehicles);
    });
}

void FleetCache::saveVehicles(const std::vector<StoredVehicle>& vehicles)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    inTransaction(m_database, [&] { upsert(vehicles); });
}

void FleetCache::saveNewVehicles(const std::vector<StoreBatch::NewVehicle>& vehicles)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    inTransaction(m_database, [&] {
        for (const StoreBatch::NewVehicle& vehicle : vehicles) {
            Statement statement(m_database, "INSERT OR IGNORE INTO fleet (id, name, edited_name, deleted, company, "
                                            "maker, model, registration, driver, license) "
                                            "VALUES (?, ?, '', 0, '', '', '', '', '', '');");
            const std::string id = vehicle.id.toText();
            statement.bindText(1, id.c_str());
            statement.bindText(2, vehicle.name.c_str());
            statement.execute();
        }
    });
}

void FleetCache::forgetVehicles(const std::vector<UniqueID>& ids)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    inTransaction(m_database, [&] {
        for (const UniqueID& id : ids) {
            Statement statement(m_database, "DELETE FROM fleet WHERE id = ?;");
            const std::string text = id.toText();
            statement.bindText(1, text.c_str());
            statement.execute();
        }
    });
}

void FleetCache::saveSettings(const SharedSettings::Values& values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    inTransaction(m_database, [&] {
        for (const auto& [key, value] : SharedSettings::toTexts(values)) {
            Statement statement(m_database, "INSERT OR REPLACE INTO shared_setting (key, value) VALUES (?, ?);");
            statement.bindText(1, key.c_str());
            statement.bindText(2, value.c_str());
            statement.execute();
        }
    });
}

} // namespace velmora
