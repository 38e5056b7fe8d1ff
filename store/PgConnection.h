#pragma once

#include "store/PgResult.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

struct pg_conn;

namespace velmora {

/// One connection to the store (PostgreSQL, through libpq), owned: closed
/// with the object. Used by one thread at a time; only abortAt() may be
/// called from another.
///
/// Every call runs on libpq's non-blocking interface and waits for the
/// server in slices, so no call waits longer than its time-out, and
/// abortAt() ends any wait from outside (a stop that must finish in time).
/// A call that times out or is aborted closes the connection: what the
/// server did with the statement is unknown then, and the caller treats it
/// like a lost link.
///
/// Failures throw StoreException: CONNECTION when the link failed (the
/// connection is closed then), STATEMENT when the server refused a
/// statement (the connection stays usable; an open transaction must be
/// rolled back). Texts never hold the password.
class PgConnection {
public:
    /// Longest wait for a connection to be made.
    static constexpr int DEFAULT_CONNECT_TIMEOUT_MS = 10000;
    /// Longest wait for one answer of the server.
    static constexpr int DEFAULT_CALL_TIMEOUT_MS = 30000;

    /// One text parameter ($1, $2, ...) of a statement; SQL NULL when made
    /// with null().
    class Param {
    public:
        Param(const std::string& text) : m_text(text) {}
        Param(std::string_view text) : m_text(text) {}
        Param(const char* text) : m_text(text != nullptr ? text : ""), m_null(text == nullptr) {}
        template <typename T, typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>>
        Param(T value) : m_text(std::to_string(value)) {}
        static Param null() { return Param(static_cast<const char*>(nullptr)); }
        bool isNull() const { return m_null; }
        const std::string& getText() const { return m_text; }

    private:
        std::string m_text;
        bool m_null = false;
    };

    /// A notice a LISTEN brought: its channel, text and the server process
    /// that sent it.
    struct Notice {
        std::string channel;
        std::string payload;
        int senderPid = 0;
    };

    PgConnection() = default;
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;
    ~PgConnection();

    /// Connects to conninfo (a libpq connection string or URI; "" uses the
    /// PG* environment and ~/.pgpass), naming the program applicationName
    /// unless conninfo names one; texts travel as UTF-8 and times are read
    /// and written in UTC. Waits at most timeoutMs (a host name is resolved
    /// before that wait, by the system's resolver; hostaddr= skips it).
    /// Closes an open connection first. Throws StoreException (CONNECTION).
    void open(const std::string& conninfo, const std::string& applicationName,
              int timeoutMs = DEFAULT_CONNECT_TIMEOUT_MS);
    /// Closes the connection; nothing when none is open. Never throws.
    void close();
    bool isOpen() const { return m_conn != nullptr; }

    /// Longest wait for each later answer.
    void setCallTimeout(int milliseconds) { m_callTimeoutMs = milliseconds; }
    /// Every wait of this connection ends by steadyMs (milliseconds of
    /// std::chrono::steady_clock) at the latest; any thread may call it.
    void abortAt(int64_t steadyMs) { m_abortAtMs.store(steadyMs); }
    /// Lifts an abortAt().
    void clearAbort();

    /// Runs sql, which may hold several statements; the answer of the last.
    PgResult execute(const std::string& sql);
    /// Runs one statement with text parameters.
    PgResult query(const std::string& sql, const std::vector<Param>& params);

    /// Starts COPY ... FROM STDIN (sql); then copyPut() the data and
    /// copyEnd(), or copyAbort(). PgCopyIn does this safely.
    void copyBegin(const std::string& sql);
    void copyPut(const char* data, size_t length);
    /// Ends the data; answers the rows the server took.
    int64_t copyEnd();
    /// Ends a COPY unfinished, so the statement fails and nothing of it is
    /// kept; the connection is closed when even that fails. Never throws.
    void copyAbort() noexcept;

    /// LISTEN channel (a plain name of letters, digits and _).
    void listen(const std::string& channel);
    /// Reads what the server has sent without waiting and answers the
    /// notices among it, oldest first.
    std::vector<Notice> takeNotices();
    /// Waits up to milliseconds for the server to send something (a notice);
    /// false when nothing came.
    bool waitForInput(int milliseconds);

    /// The socket (for a caller's own poll); -1 when closed.
    int getSocket() const;
    /// The server process serving this connection (to tell its own notices).
    int getServerPid() const;

    /// conninfo as a log may show it: host, port, database and user only,
    /// never a password or key.
    static std::string describe(const std::string& conninfo);
    /// The steady clock in milliseconds, as abortAt() takes it.
    static int64_t steadyNowMs();

private:
    enum class Wait { READY, TIMED_OUT };

    int64_t deadlineIn(int milliseconds) const;
    Wait waitSocket(bool forRead, bool forWrite, int64_t deadlineMs);
    void flushOut(int64_t deadlineMs);
    PgResult collect(int64_t deadlineMs);
    [[noreturn]] void failLink(const std::string& what);
    void requireOpen() const;

    pg_conn* m_conn = nullptr;
    int m_callTimeoutMs = DEFAULT_CALL_TIMEOUT_MS;
    std::atomic<int64_t> m_abortAtMs{INT64_MAX};
};

} // namespace velmora
