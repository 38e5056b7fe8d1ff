#pragma once

// Faults injected into the tracking database's own connection through
// SQLite's public hooks, so that the writer meets real SQLite failures:
//  - a statement whose text holds a marker is interrupted on a chosen run;
//    SQLite then rolls the whole open transaction back itself, as it does
//    for a full disk or an I/O error;
//  - a chosen BEGIN is refused by the authorizer ("not authorized").
// The hooks run on the writer thread under the manager lock; the counts are
// read once the writer is done (after shutdown) or under that lock.

#include "db/DBManager.h"
#include "foundation/thread/ScopedLock.h"

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

namespace velmora::test {

class StatementFaults {
public:
    /// Installs the hooks on the manager's open connection.
    StatementFaults()
    {
        ScopedLock lock(DBManager::getLock());
        m_handle = DBManager::getInstance().getDatabase().getHandle();
        sqlite3_trace_v2(m_handle, SQLITE_TRACE_STMT, &onStatement, this);
        // Asked after every virtual machine step, so that an interrupted
        // statement has not finished yet.
        sqlite3_progress_handler(m_handle, 1, &onProgress, this);
        sqlite3_set_authorizer(m_handle, &onAuthorize, this);
    }

    /// Takes the hooks off again, unless the connection is gone already.
    ~StatementFaults()
    {
        ScopedLock lock(DBManager::getLock());
        DBManager& manager = DBManager::getInstance();
        if (manager.getDatabase().isOpen() && manager.getDatabase().getHandle() == m_handle) {
            sqlite3_trace_v2(m_handle, 0, nullptr, nullptr);
            sqlite3_progress_handler(m_handle, 0, nullptr, nullptr);
            sqlite3_set_authorizer(m_handle, nullptr, nullptr);
        }
    }

    StatementFaults(const StatementFaults&) = delete;
    StatementFaults& operator=(const StatementFaults&) = delete;

    /// The statement holding marker is interrupted (and its transaction
    /// rolled back) on its run-th run, counted from 1; 0: on every run.
    void rollBackOn(const std::string& marker, int run)
    {
        ScopedLock lock(DBManager::getLock());
        m_rules.push_back({marker, run, 0});
    }
    /// The number-th BEGIN from now on (counted from 1) is refused.
    void refuseBegin(int number)
    {
        ScopedLock lock(DBManager::getLock());
        m_refusedBegins.push_back(number + m_begins);
    }
    /// Refuses every BEGIN from now on, whichever batch asks.
    void refuseEveryBegin()
    {
        ScopedLock lock(DBManager::getLock());
        m_refuseEveryBegin = true;
    }
    /// Every fault taken away; the hooks stay and only count.
    void clear()
    {
        ScopedLock lock(DBManager::getLock());
        m_rules.clear();
        m_refusedBegins.clear();
        m_refuseEveryBegin = false;
    }
    /// How many statements were interrupted so far.
    int getInterrupted() const { return m_interrupted; }

private:
    struct Rule {
        std::string marker;
        int run;
        int seen;
    };

    static int onStatement(unsigned, void* context, void*, void* text)
    {
        auto* self = static_cast<StatementFaults*>(context);
        const char* sql = static_cast<const char*>(text);
        self->m_interruptNow = false;
        for (Rule& rule : self->m_rules) {
            if (std::strstr(sql, rule.marker.c_str()) == nullptr)
                continue;
            ++rule.seen;
            if (rule.run == 0 || rule.run == rule.seen)
                self->m_interruptNow = true;
        }
        return 0;
    }

    static int onProgress(void* context)
    {
        auto* self = static_cast<StatementFaults*>(context);
        if (!self->m_interruptNow)
            return 0;
        self->m_interruptNow = false;
        ++self->m_interrupted;
        return 1;
    }

    static int onAuthorize(void* context, int action, const char* operation, const char*,
                           const char*, const char*)
    {
        auto* self = static_cast<StatementFaults*>(context);
        if (action != SQLITE_TRANSACTION || operation == nullptr ||
            std::strcmp(operation, "BEGIN") != 0)
            return SQLITE_OK;
        ++self->m_begins;
        if (self->m_refuseEveryBegin)
            return SQLITE_DENY;
        for (int refused : self->m_refusedBegins) {
            if (refused == self->m_begins)
                return SQLITE_DENY;
        }
        return SQLITE_OK;
    }

    sqlite3* m_handle = nullptr;
    std::vector<Rule> m_rules;
    std::vector<int> m_refusedBegins;
    int m_begins = 0;
    bool m_refuseEveryBegin = false;
    int m_interrupted = 0;
    bool m_interruptNow = false;
};

} // namespace velmora::test
