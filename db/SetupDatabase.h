#pragma once

#include "db/Database.h"

#include <cstdint>
#include <set>
#include <string>

namespace velmora {

/// The settings table of setup.db: one row per case-insensitive key, values
/// of any type. Keys, key prefixes and values are always quoted or bound, so
/// no text can break or change a statement.
/// Every operation throws DatabaseException when its statement fails. Used
/// under the owner's lock (AbstractSetup).
class SetupDatabase : public Database {
public:
    /// Opens the file; a file without any table gets the setup table.
    /// Returns whether a table named exactly "setup" is there afterwards.
    bool open(const char* path, int busyTimeoutMs);

    /// The stored value as an integer; a missing key is stored with
    /// defaultValue first.
    int32_t getInt(const char* key, int32_t defaultValue);
    bool getBool(const char* key, bool defaultValue);
    void getString(const char* key, std::string& out, const char* defaultValue);
    /// Copies at most length stored bytes into buffer and sets length to the
    /// stored size. A missing key is stored with the buffer's first length
    /// bytes (the caller's default).
    void getBlob(const char* key, void* buffer, int32_t& length);

    /// Update, or insert when no row has the key.
    void setInt(const char* key, int32_t value);
    void setBool(const char* key, bool value);
    void setString(const char* key, const char* value);
    void setBlob(const char* key, const void* data, int32_t length);

    /// A plain insert fails for a key that exists; orReplace replaces it.
    void insertInt(const char* key, int32_t value, bool orReplace);
    void insertBool(const char* key, bool value, bool orReplace);
    void insertString(const char* key, const char* value, bool orReplace);
    void insertBlob(const char* key, const void* data, int32_t length, bool orReplace);

    void begin();
    void commit();

    /// Copies every entry into the setup table of another settings file.
    /// Throws when the file cannot be attached; false when the copy failed.
    bool exportTo(const char* path);
    /// Copies (replacing) every entry of another settings file whose key
    /// starts with none of excludedPrefixes. Throws when the file cannot be
    /// attached; false when the copy failed.
    bool importFrom(const char* path, const std::set<std::string>& excludedPrefixes);

private:
    void detach();
};

} // namespace velmora
