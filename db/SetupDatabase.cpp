#include "db/SetupDatabase.h"

#include "db/DatabaseException.h"
#include "db/FormatableSQL.h"
#include "db/RowSet.h"
#include "db/Statement.h"
#include "foundation/Trace.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmora {

namespace {
const char* replaceWord(bool orReplace)
{
    return orReplace ? "OR REPLACE" : "";
}
} // namespace

bool SetupDatabase::open(const char* path, int busyTimeoutMs)
{
    Database::open(path, busyTimeoutMs);
    std::vector<std::string> names;
    getTableNames(names);
    if (names.empty()) {
        execute("CREATE TABLE setup(key text NOT NULL COLLATE NOCASE,value NOT NULL DEFAULT "
                "'',UNIQUE(key));");
        execute("CREATE UNIQUE INDEX setup_idx ON setup(key);");
        return true;
    }
    return std::find(names.begin(), names.end(), "setup") != names.end();
}

int32_t SetupDatabase::getInt(const char* key, int32_t defaultValue)
{
    FormatableSQL sql("SELECT value FROM setup WHERE key='%q';", key);
    RowSet rows(*this, sql.getText());
    if (rows.next())
        return rows.getInt(0);
    rows.close();
    insertInt(key, defaultValue, false);
    return defaultValue;
}

bool SetupDatabase::getBool(const char* key, bool defaultValue)
{
    return getInt(key, defaultValue ? 1 : 0) != 0;
}

void SetupDatabase::getString(const char* key, std::string& out, const char* defaultValue)
{
    FormatableSQL sql("SELECT value FROM setup WHERE key='%q';", key);
    RowSet rows(*this, sql.getText());
    if (rows.next()) {
        const char* text = rows.getText(0);
        out.assign(text != nullptr ? text : "");
        return;
    }
    rows.close();
    insertString(key, defaultValue, false);
    out.assign(defaultValue);
}

void SetupDatabase::getBlob(const char* key, void* buffer, int32_t& length)
{
    FormatableSQL sql("SELECT value FROM setup WHERE key='%q';", key);
    RowSet rows(*this, sql.getText());
    if (rows.next()) {
        const void* data = rows.getBlob(0);
        const int32_t stored = rows.getBytes(0);
        const int32_t copied = std::min(std::max(length, 0), stored);
        if (copied > 0)
            std::memcpy(buffer, data, static_cast<size_t>(copied));
        length = stored;
        return;
    }
    rows.close();
    insertBlob(key, buffer, length, false);
}

void SetupDatabase::setInt(const char* key, int32_t value)
{
    FormatableSQL sql("UPDATE setup SET value=%d WHERE key='%q'", value, key);
    execute(sql.getText());
    if (changes() == 0)
        insertInt(key, value, false);
}

void SetupDatabase::setBool(const char* key, bool value)
{
    setInt(key, value ? 1 : 0);
}

void SetupDatabase::setString(const char* key, const char* value)
{
    FormatableSQL sql("UPDATE setup SET value='%q' WHERE key='%q'", value, key);
    execute(sql.getText());
    if (changes() == 0)
        insertString(key, value, false);
}

void SetupDatabase::setBlob(const char* key, const void* data, int32_t length)
{
    FormatableSQL sql("UPDATE setup SET value=:value WHERE key='%q'", key);
    Statement statement(*this, sql.getText());
    statement.bindBlob(":value", data, length);
    statement.execute();
    statement.finalize();
    if (changes() == 0)
        insertBlob(key, data, length, false);
}

void SetupDatabase::insertInt(const char* key, int32_t value, bool orReplace)
{
    FormatableSQL sql("INSERT %s INTO setup VALUES ('%q', %d)", replaceWord(orReplace), key, value);
    execute(sql.getText());
}

void SetupDatabase::insertBool(const char* key, bool value, bool orReplace)
{
    insertInt(key, value ? 1 : 0, orReplace);
}

void SetupDatabase::insertString(const char* key, const char* value, bool orReplace)
{
    FormatableSQL sql("INSERT %s INTO setup VALUES ('%q', '%q')", replaceWord(orReplace), key,
                      value);
    execute(sql.getText());
}

void SetupDatabase::insertBlob(const char* key, const void* data, int32_t length, bool orReplace)
{
    FormatableSQL sql("INSERT %s INTO setup VALUES ('%q', :value)", replaceWord(orReplace), key);
    Statement statement(*this, sql.getText());
    statement.bindBlob(":value", data, length);
    statement.execute();
    statement.finalize();
}

void SetupDatabase::begin()
{
    execute("BEGIN;");
}

void SetupDatabase::commit()
{
    execute("COMMIT;");
}

void SetupDatabase::detach()
{
    try {
        execute("DETACH DATABASE db;");
    } catch (const DatabaseException& e) {
        traceException(e);
    }
}

bool SetupDatabase::exportTo(const char* path)
{
    // The path is quoted: a folder name with an apostrophe must not break
    // (or change) the statement.
    FormatableSQL attach("ATTACH DATABASE '%q' AS db;", path);
    execute(attach.getText());
    bool copied = true;
    try {
        execute("INSERT INTO db.setup SELECT * FROM main.setup;");
    } catch (const DatabaseException& e) {
        traceException(e);
        copied = false;
    }
    detach();
    return copied;
}

bool SetupDatabase::importFrom(const char* path, const std::set<std::string>& excludedPrefixes)
{
    std::string sql("INSERT OR REPLACE INTO main.setup SELECT * FROM db.setup");
    bool first = true;
    for (const std::string& prefix : excludedPrefixes) {
        sql += first ? " WHERE " : " AND ";
        // Quoted like a key, so an apostrophe cannot end the pattern early.
        FormatableSQL condition("key NOT LIKE '%q%%'", prefix.c_str());
        if (condition.getText() == nullptr)
            return false; // out of memory, before anything was attached
        sql += condition.getText();
        first = false;
    }
    sql += ";";
    FormatableSQL attach("ATTACH DATABASE '%q' AS db;", path);
    execute(attach.getText());
    bool copied = true;
    try {
        execute(sql.c_str());
    } catch (const DatabaseException& e) {
        traceException(e);
        copied = false;
    }
    detach();
    return copied;
}

} // namespace velmora
