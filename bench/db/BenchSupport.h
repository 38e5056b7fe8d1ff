#pragma once

// Shared pieces of the persistence benchmarks: a scratch directory, the
// schema as the tracking database creates it, and a realistic record mix.

#include "db/DBManager.h"
#include "db/EventPager.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace velmora::bench {

class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline void execOrDie(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", error != nullptr ? error : "?");
        std::exit(1);
    }
}

/// The tables and indexes exactly as DBManager creates them.
inline void createSchema(sqlite3* db)
{
    execOrDie(db,
              "CREATE TABLE event_info (id INTEGER PRIMARY KEY AUTOINCREMENT,address TEXT,name "
              "TEXT,time DATETIME,event_type INTEGER,device_title TEXT, vehicle_id TEXT,foreign "
              "key(vehicle_id) references vehicle_info(id));"
              "CREATE UNIQUE INDEX event_info_idx ON event_info(id);"
              "CREATE TABLE vehicle_info (id TEXT PRIMARY KEY,name TEXT,edited_name TEXT,"
              "last_updated_time DATETIME,last_updated_latitude TEXT,last_updated_longitude TEXT, "
              "deleted INTEGER, company TEXT, maker TEXT, model TEXT,registration TEXT, driver "
              "TEXT, license TEXT, info1 TEXT, info2 TEXT, image_path TEXT);"
              "CREATE UNIQUE INDEX vehicle_info_idx ON vehicle_info(id);"
              "CREATE TABLE gps_data (id INTEGER PRIMARY KEY AUTOINCREMENT,gps_data TEXT,"
              "update_time DATETIME,vehicle_id TEXT,foreign key(vehicle_id) references "
              "vehicle_info(id));"
              "CREATE UNIQUE INDEX gps_data_idx ON gps_data(id);"
              "CREATE TABLE optional_info (id INTEGER PRIMARY KEY AUTOINCREMENT,key_info TEXT NOT "
              "NULL, value_info TEXT NOT NULL DEFAULT '', vehicle_id TEXT, foreign key(vehicle_id) "
              "references vehicle_info(id));"
              "CREATE UNIQUE INDEX optional_info_idx ON optional_info(id);");
    // The search indexes every opened file gets.
    execOrDie(db, EventPager::INDEX_SQL);
    execOrDie(db, DBManager::TRACK_INDEX_SQL);
}

/// A $GPRMC sentence as devices send it, up to the checksum.
inline const char* const kSentence =
    "$GPRMC,170509.00,A,3723.46587,N,12202.26957,W,12.5,54.7,310126,,,A";
inline const char* const kTime = "2026-01-31 17:05:09";

/// Record mix: every GPS message makes a vehicle UPDATE and a gps_data
/// INSERT; every tenth message also brings an event.
struct Mix {
    static constexpr int VEHICLES = 100;
    static constexpr int EVENT_EVERY = 10;
};

} // namespace velmora::bench
