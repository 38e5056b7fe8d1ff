#include "store/PgConnection.h"

#include "foundation/Trace.h"
#include "store/StoreException.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace velmora {

namespace {

/// Longest single poll: an abortAt() from another thread is seen this soon.
constexpr int SLICE_MS = 50;

/// The server's notices (a shutdown's FATAL, warnings) go to the trace,
/// never straight to standard error as libpq would have them.
void traceNotice(void*, const char* message)
{
    trace("PgConnection: %s", message);
}

std::string errorText(pg_conn* conn)
{
    const char* text = conn != nullptr ? PQerrorMessage(conn) : nullptr;
    return text != nullptr && *text != '\0' ? text : "no answer from the store";
}

} // namespace

PgConnection::~PgConnection()
{
    close();
}

int64_t PgConnection::steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PgConnection::clearAbort()
{
    m_abortAtMs.store(INT64_MAX);
}

int64_t PgConnection::deadlineIn(int milliseconds) const
{
    return std::min(steadyNowMs() + std::max(milliseconds, 0), m_abortAtMs.load());
}

void PgConnection::open(const std::string& conninfo, const std::string& applicationName, int timeoutMs)
{
    close();
    // The connection string goes in as dbname with expansion on, so both
    // "host=... dbname=..." and "postgresql://..." work; the fallback name
    // gives way to one the string sets itself.
    const char* keys[] = {"dbname", "fallback_application_name", "client_encoding", nullptr};
    const char* values[] = {conninfo.c_str(), applicationName.c_str(), "UTF8", nullptr};
    m_conn = PQconnectStartParams(keys, values, 1);
    if (m_conn == nullptr) {
        throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::CONNECTION,
                             "no memory for a connection");
    }
    if (PQstatus(m_conn) == CONNECTION_BAD) {
        failLink(errorText(m_conn));
    }
    PQsetNoticeProcessor(m_conn, traceNotice, nullptr);
    const int64_t deadline = deadlineIn(timeoutMs);
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            failLink(errorText(m_conn));
        }
        // The socket may change between attempts (several hosts, SSL retry).
        if (waitSocket(state == PGRES_POLLING_READING, state == PGRES_POLLING_WRITING, deadline) == Wait::TIMED_OUT) {
            failLink("the store did not answer within " + std::to_string(timeoutMs / 1000) + " s");
        }
        state = PQconnectPoll(m_conn);
    }
    if (PQsetnonblocking(m_conn, 1) != 0) {
        failLink(errorText(m_conn));
    }
    // Times are written with their zone and read back in UTC, whatever the
    // server's or the role's setting.
    execute("SET TimeZone = 'UTC'");
}

void PgConnection::close()
{
    if (m_conn != nullptr) {
        PQfinish(m_conn);
        m_conn = nullptr;
    }
}

void PgConnection::requireOpen() const
{
    if (m_conn == nullptr) {
        throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::CONNECTION,
                             "not connected to the store");
    }
}

void PgConnection::failLink(const std::string& what)
{
    close();
    throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::CONNECTION, what);
}

PgConnection::Wait PgConnection::waitSocket(bool forRead, bool forWrite, int64_t deadlineMs)
{
    for (;;) {
        const int64_t now = steadyNowMs();
        const int64_t limit = std::min(deadlineMs, m_abortAtMs.load());
        if (now >= limit) {
            return Wait::TIMED_OUT;
        }
        const int socket = PQsocket(m_conn);
        if (socket < 0) {
            failLink(errorText(m_conn));
        }
        pollfd entry{};
        entry.fd = socket;
        entry.events = static_cast<short>((forRead ? POLLIN : 0) | (forWrite ? POLLOUT : 0));
        const int slice = static_cast<int>(std::min<int64_t>(limit - now, SLICE_MS));
        const int ready = ::poll(&entry, 1, slice);
        if (ready > 0) {
            return Wait::READY;
        }
        if (ready < 0 && errno != EINTR) {
            failLink(std::string("waiting for the store: ") + std::strerror(errno));
        }
    }
}

void PgConnection::flushOut(int64_t deadlineMs)
{
    for (;;) {
        const int state = PQflush(m_conn);
        if (state == 0) {
            return;
        }
        if (state < 0) {
            failLink(errorText(m_conn));
        }
        // The server may be waiting for us to read before it reads more.
        if (waitSocket(true, true, deadlineMs) == Wait::TIMED_OUT) {
            failLink("the store took no data for " + std::to_string(m_callTimeoutMs / 1000) + " s");
        }
        if (PQconsumeInput(m_conn) == 0) {
            failLink(errorText(m_conn));
        }
    }
}

PgResult PgConnection::collect(int64_t deadlineMs)
{
    PgResult last;
    std::string failure;
    std::string sqlState;
    for (;;) {
        while (PQisBusy(m_conn) != 0) {
            if (waitSocket(true, false, deadlineMs) == Wait::TIMED_OUT) {
                failLink("no answer from the store within " + std::to_string(m_callTimeoutMs / 1000) + " s");
            }
            if (PQconsumeInput(m_conn) == 0) {
                failLink(errorText(m_conn));
            }
        }
        pg_result* result = PQgetResult(m_conn);
        if (result == nullptr) {
            break;
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COPY_IN) {
            // The data comes next; no other answer follows until it ends.
            return PgResult(result);
        }
        if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_NONFATAL_ERROR) {
            if (failure.empty()) {
                const char* message = PQresultErrorMessage(result);
                const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
                failure = message != nullptr && *message != '\0' ? message : errorText(m_conn);
                sqlState = state != nullptr ? state : "";
            }
            PQclear(result);
            continue;
        }
        last = PgResult(result);
    }
    if (!failure.empty()) {
        if (PQstatus(m_conn) == CONNECTION_BAD) {
            failLink(failure);
        }
        throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::STATEMENT, failure, sqlState);
    }
    if (PQstatus(m_conn) == CONNECTION_BAD) {
        failLink(errorText(m_conn));
    }
    return last;
}

PgResult PgConnection::execute(const std::string& sql)
{
    requireOpen();
    const int64_t deadline = deadlineIn(m_callTimeoutMs);
    if (PQsendQuery(m_conn, sql.c_str()) == 0) {
        failLink(errorText(m_conn));
    }
    flushOut(deadline);
    return collect(deadline);
}

PgResult PgConnection::query(const std::string& sql, const std::vector<Param>& params)
{
    requireOpen();
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const Param& param : params) {
        values.push_back(param.isNull() ? nullptr : param.getText().c_str());
    }
    const int64_t deadline = deadlineIn(m_callTimeoutMs);
    if (PQsendQueryParams(m_conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                          nullptr, 0) == 0) {
        failLink(errorText(m_conn));
    }
    flushOut(deadline);
    return collect(deadline);
}

void PgConnection::copyBegin(const std::string& sql)
{
    const PgResult started = execute(sql);
    if (PQresultStatus(started.getHandle()) != PGRES_COPY_IN) {
        throw StoreException(VELMORA_THROW_SITE("StoreException"), StoreException::STATEMENT,
                             "not a COPY FROM STDIN: " + sql.substr(0, 80));
    }
}

void PgConnection::copyPut(const char* data, size_t length)
{
    requireOpen();
    const int64_t deadline = deadlineIn(m_callTimeoutMs);
    // libpq takes an int length: large buffers go in pieces.
    constexpr size_t PIECE = 1 << 20;
    while (length > 0) {
        const size_t piece = std::min(length, PIECE);
        const int queued = PQputCopyData(m_conn, data, static_cast<int>(piece));
        if (queued < 0) {
            failLink(errorText(m_conn));
        }
        if (queued == 0) {
            // libpq's buffer is full: let the server read, then try again.
            if (waitSocket(true, true, deadline) == Wait::TIMED_OUT) {
                failLink("the store took no data for " + std::to_string(m_callTimeoutMs / 1000) + " s");
            }
            if (PQconsumeInput(m_conn) == 0 || PQflush(m_conn) < 0) {
                failLink(errorText(m_conn));
            }
            continue;
        }
        data += piece;
        length -= piece;
    }
}

int64_t PgConnection::copyEnd()
{
    requireOpen();
    const int64_t deadline = deadlineIn(m_callTimeoutMs);
    for (;;) {
        const int ended = PQputCopyEnd(m_conn, nullptr);
        if (ended < 0) {
            failLink(errorText(m_conn));
        }
        if (ended == 1) {
            break;
        }
        if (waitSocket(true, true, deadline) == Wait::TIMED_OUT) {
            failLink("the store took no data for " + std::to_string(m_callTimeoutMs / 1000) + " s");
        }
        if (PQconsumeInput(m_conn) == 0 || PQflush(m_conn) < 0) {
            failLink(errorText(m_conn));
        }
    }
    flushOut(deadline);
    return collect(deadline).getAffectedRows();
}

void PgConnection::copyAbort() noexcept
{
    if (m_conn == nullptr) {
        return;
    }
    try {
        const int64_t deadline = deadlineIn(m_callTimeoutMs);
        if (PQputCopyEnd(m_conn, "COPY given up by the writer") != 1) {
            close();
            return;
        }
        flushOut(deadline);
        (void)collect(deadline);
    } catch (const StoreException&) {
        // The COPY fails, which is what was asked; a broken link is closed.
    }
}

void PgConnection::listen(const std::string& channel)
{
    execute("LISTEN " + channel);
}

std::vector<PgConnection::Notice> PgConnection::takeNotices()
{
    requireOpen();
    std::vector<Notice> notices;
    if (PQconsumeInput(m_conn) == 0) {
        failLink(errorText(m_conn));
    }
    while (PGnotify* notice = PQnotifies(m_conn)) {
        notices.push_back({notice->relname != nullptr ? notice->relname : "",
                           notice->extra != nullptr ? notice->extra : "", notice->be_pid});
        PQfreemem(notice);
    }
    return notices;
}

bool PgConnection::waitForInput(int milliseconds)
{
    requireOpen();
    return waitSocket(true, false, deadlineIn(milliseconds)) == Wait::READY;
}

int PgConnection::getSocket() const
{
    return m_conn != nullptr ? PQsocket(m_conn) : -1;
}

int PgConnection::getServerPid() const
{
    return m_conn != nullptr ? PQbackendPID(m_conn) : 0;
}

std::string PgConnection::describe(const std::string& conninfo)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (options == nullptr) {
        if (error != nullptr) {
            PQfreemem(error);
        }
        return "(a connection string that cannot be read)";
    }
    std::string text;
    for (const char* shown : {"host", "hostaddr", "port", "dbname", "user", "sslmode"}) {
        for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
            if (std::strcmp(option->keyword, shown) == 0 && option->val != nullptr && *option->val != '\0') {
                if (!text.empty()) {
                    text += ' ';
                }
                text += shown;
                text += '=';
                text += option->val;
            }
        }
    }
    PQconninfoFree(options);
    return text.empty() ? "(the PG* environment)" : text;
}

} // namespace velmora
