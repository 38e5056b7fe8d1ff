#pragma once

#include "db/SetupDatabase.h"
#include "foundation/thread/Mutex.h"

#include <cstdint>
#include <string>

namespace velmora {

/// A settings file: opens it and, when this call created it, has the concrete
/// class write its defaults. The lock is recursive; readers take it inside
/// getInt, writers hold it from begin() to commit(). open and close run
/// without it, at start-up and exit, when no other thread uses the store.
class AbstractSetup {
public:
    AbstractSetup() = default;
    AbstractSetup(const AbstractSetup&) = delete;
    AbstractSetup& operator=(const AbstractSetup&) = delete;
    virtual ~AbstractSetup() = default;

    /// Opens (creating when missing) the settings file at path; defaults are
    /// written only into a file this call created. Throws SystemException
    /// when existence cannot be checked, DatabaseException when the file
    /// cannot be opened.
    void open(const char* path);
    /// Closes the file; later reads throw until the next open.
    void close();
    /// The stored integer; a missing key is stored with defaultValue first.
    /// Throws DatabaseException.
    int32_t getInt(const char* key, int32_t defaultValue);
    /// The stored text; a missing key is stored with defaultValue first.
    /// Throws DatabaseException.
    std::string getString(const char* key, const char* defaultValue);

    Mutex& getLock() { return m_lock; }
    SetupDatabase& getDatabase() { return m_database; }

protected:
    /// Writes the entries of a new file.
    virtual void writeDefaults(SetupDatabase& database) = 0;
    /// Called after every successful open, before writeDefaults.
    virtual void onOpened(SetupDatabase& database) = 0;

private:
    Mutex m_lock;
    SetupDatabase m_database;
};

} // namespace velmora
