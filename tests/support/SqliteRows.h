#pragma once

// Reads and writes of an SQLite file through a connection of the test's own
// (raw SQLite, independent of the layer under test).

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {

using Rows = std::vector<std::vector<std::string>>;
/// The text NULL columns read as in Rows.
inline const char* const kNull = "<NULL>";

/// Every row of sql on the file at path; columns as text, NULL as kNull.
inline Rows queryRows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path);
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(message + " in " + sql);
    }
    Rows rows;
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            row.emplace_back(text != nullptr ? text : kNull);
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (result != SQLITE_DONE) {
        throw std::runtime_error("step failed in " + sql);
    }
    return rows;
}

/// The columns of the first row joined by "|", or "<none>".
inline std::string queryText(const std::string& path, const std::string& sql) {
    const Rows rows = queryRows(path, sql);
    if (rows.empty()) {
        return "<none>";
    }
    std::string text;
    for (size_t i = 0; i < rows.front().size(); ++i) {
        text += (i == 0 ? "" : "|") + rows.front()[i];
    }
    return text;
}

inline long long queryCount(const std::string& path, const std::string& sql) {
    return std::stoll(queryText(path, sql));
}

/// The single value of a one-row, one-column query.
inline std::string queryValue(const std::string& path, const std::string& sql) {
    const Rows rows = queryRows(path, sql);
    if (rows.size() != 1 || rows[0].size() != 1) {
        throw std::runtime_error("not a single value: " + sql);
    }
    return rows[0][0];
}

/// Runs sql (any number of statements) on the file at path, creating it.
inline void executeSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    char* error = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (result != SQLITE_OK) {
        throw std::runtime_error(message);
    }
}

} // namespace velmora::test
