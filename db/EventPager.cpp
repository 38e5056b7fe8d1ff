#include "db/EventPager.h"

#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/RowSet.h"
#include "foundation/thread/ScopedLock.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace velmora {

namespace {

// Integers in SQL text: std::to_string never groups digits or follows the
// user's locale.
std::string number(int64_t value)
{
    return std::to_string(value);
}

int64_t idOf(const RowSet& rows)
{
    const char* text = rows.getText(0);
    int64_t id = 0;
    if (text != nullptr)
        std::from_chars(text, text + std::strlen(text), id);
    return id;
}

Database& openDatabase()
{
    Database& database = DBManager::getInstance().getDatabase();
    if (!database.isOpen())
        throw DatabaseException(VELMORA_THROW_SITE("DatabaseException"), SQLITE_MISUSE, "no database is open");
    return database;
}

} // namespace

void EventPager::clear()
{
    m_where.clear();
    m_count = 0;
    m_loadedPage = 0;
    m_firstId = 0;
    m_lastId = 0;
}

int EventPager::search(const char* condition)
{
    clear();
    const bool all = condition == nullptr || condition[0] == '\0';
    const std::string parenthesised = all ? std::string() : "(" + std::string(condition) + ")";
    ScopedLock lock(DBManager::getLock());
    Database& database = openDatabase();
    // The newest id and the count in one statement, so in one read
    // transaction: the lock keeps this process's writer out, but another
    // process (a second console, a tool) may commit at any time, and a count
    // read after the newest id would then take rows the pages never show.
    // Without an id bound the plain count stays SQLite's fast b-tree count.
    int64_t newest = 0;
    int count = 0;
    {
        const std::string sql = "SELECT (SELECT MAX(id) FROM event_info), (SELECT COUNT(*) FROM event_info " +
                                (all ? std::string() : "WHERE " + parenthesised + " ") + ");";
        RowSet rows(database, sql.c_str());
        if (rows.next()) {
            newest = idOf(rows);
            count = rows.getInt(1);
        }
    }
    m_where = "WHERE " + (all ? std::string() : parenthesised + " AND ") + "id <= " + number(newest) + " ";
    m_count = count;
    return m_count;
}

int EventPager::getPageCount() const
{
    return (m_count + PAGE_SIZE - 1) / PAGE_SIZE;
}

void EventPager::select(const std::string& extra, const std::string& order, std::vector<EventLog>& rows,
                        int64_t& firstId, int64_t& lastId)
{
    const std::string sql = "SELECT * FROM event_info " + m_where + extra + order + ";";
    ScopedLock lock(DBManager::getLock());
    RowSet cursor(openDatabase(), sql.c_str());
    bool first = true;
    while (cursor.next()) {
        rows.emplace_back();
        rows.back().readRow(cursor);
        // The record keeps a 32-bit id; the keyset needs the row's own.
        const int64_t id = idOf(cursor);
        if (first)
            firstId = id;
        lastId = id;
        first = false;
    }
}

void EventPager::loadPage(int page, std::vector<EventLog>& rows)
{
    rows.clear();
    if (m_where.empty() || page < 1 || page > getPageCount())
        return;
    const int64_t start = static_cast<int64_t>(page - 1) * PAGE_SIZE;
    const int64_t size = std::min<int64_t>(PAGE_SIZE, m_count - start);
    const int64_t after = m_count - start - size; // rows behind this page
    const std::string limit = "LIMIT " + number(size);

    bool reversed = false;
    int64_t firstId = 0;
    int64_t lastId = 0;
    if (m_loadedPage > 0 && page == m_loadedPage + 1) {
        select("AND id > " + number(m_lastId) + " ", "ORDER BY id " + limit, rows, firstId, lastId);
    } else if (m_loadedPage > 0 && page == m_loadedPage - 1) {
        select("AND id < " + number(m_firstId) + " ", "ORDER BY id DESC " + limit, rows, firstId, lastId);
        reversed = true;
    } else if (start <= after) {
        select("", "ORDER BY id " + limit + " OFFSET " + number(start), rows, firstId, lastId);
    } else {
        // Nearer the end: count back from the newest row instead of
        // stepping over every row in front.
        select("", "ORDER BY id DESC " + limit + " OFFSET " + number(after), rows, firstId, lastId);
        reversed = true;
    }
    if (reversed) {
        std::reverse(rows.begin(), rows.end());
        std::swap(firstId, lastId);
    }

    if (rows.empty()) {
        m_loadedPage = 0;
    } else {
        m_loadedPage = page;
        m_firstId = firstId;
        m_lastId = lastId;
    }
}

bool EventPager::forEach(int chunkSize, const std::function<bool(const std::vector<EventLog>&)>& visitor)
{
    if (m_where.empty())
        return true;
    chunkSize = std::max(1, chunkSize);
    std::vector<EventLog> chunk;
    chunk.reserve(static_cast<size_t>(chunkSize));
    std::string after;
    int64_t walked = -1;
    for (;;) {
        chunk.clear();
        int64_t firstId = 0;
        int64_t lastId = 0;
        select(after, "ORDER BY id LIMIT " + number(chunkSize), chunk, firstId, lastId);
        if (chunk.empty())
            return true;
        // Every run must start past the last one; a run that does not
        // would be handed over again and again.
        if (firstId <= walked)
            return false;
        walked = lastId;
        if (!visitor(chunk))
            return false;
        if (static_cast<int>(chunk.size()) < chunkSize)
            return true;
        after = "AND id > " + number(lastId) + " ";
    }
}

void EventPager::readAfter(int64_t afterId, int count, std::vector<EventLog>& rows, int64_t& lastId)
{
    rows.clear();
    if (m_where.empty())
        return;
    int64_t firstId = 0;
    select("AND id > " + number(afterId) + " ", "ORDER BY id LIMIT " + number(std::max(1, count)), rows, firstId,
           lastId);
}

void EventPager::ensureIndex()
{
    ScopedLock lock(DBManager::getLock());
    Database& database = DBManager::getInstance().getDatabase();
    if (database.isOpen())
        database.execute(INDEX_SQL);
}

} // namespace velmora
