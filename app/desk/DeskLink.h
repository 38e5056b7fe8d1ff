#pragma once

#include "app/desk/DeskState.h"
#include "store/PgConnection.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace velmora {

/// A desk's link to the control room's store: a thread of its own owns the
/// connection, so no call that can wait for the store ever runs on the
/// window's thread.
///
/// The thread connects (and makes or migrates the schema), LISTENs on the
/// change feed and loads what the desk shows in one snapshot together with
/// the feed position (DeskSnapshot). From then on it reads what changed
/// since that position (FeedReader: a late commit with a lower number is
/// never skipped) on every notice, every followIntervalMs and after every
/// reconnect, and keeps the position it was given. A lost link is tried
/// again, backing off up to retryMaxMs; the desk keeps showing what it had
/// and catches up from its position when the store is back. A feed pruned
/// past the position, or one that says much changed, loads everything again.
///
/// Results reach the listener on the window's thread as posted calls, one
/// read at a time: the thread reads on only once the window has taken the
/// last one, so a busy window holds back reads, never queues them.
///
/// Operator actions (submit) run on the same thread, one transaction each,
/// in the order given; their outcome comes back on the window's thread.
class DeskLink : public QObject {
    Q_OBJECT

public:
    /// Told on the window's thread.
    class Listener {
    public:
        virtual ~Listener() = default;
        /// Everything again: at the first connect and when the feed says so.
        virtual void onLoaded(const DeskSnapshot& snapshot) = 0;
        virtual void onUpdate(const DeskUpdate& update) = 0;
        /// The store went away (since: UTC milliseconds of the first failure;
        /// why: the store's words) or came back.
        virtual void onReachability(bool reachable, int64_t sinceMs, const QString& why) = 0;
    };

    struct Options {
        std::string conninfo;
        int followIntervalMs = 2000;
        int retryFirstMs = 250;
        int retryMaxMs = 5000;
        /// After a store whose schema this program cannot use.
        int schemaRetryMs = 60000;
        int connectTimeoutMs = 5000;
        int callTimeoutMs = 10000;
        /// Events of one read handed on (the newest); the rest only counted.
        size_t maxEvents = 2000;
    };

    /// Actions waiting at most; more are refused.
    static constexpr size_t ACTIONS_MAX = 256;
    /// How far back a load looks for fixes newer than the vehicles' rows:
    /// the receiver writes a position within seconds of its fix, so a
    /// minute leaves room for a slow batch and a clock off by a little.
    static constexpr int RECENT_FIX_SECONDS = 60;
    /// What a refused action is told while the store is away.
    static constexpr const char* UNREACHABLE = "The store is unreachable.";

    /// One operator action, on the link's thread in a transaction of its
    /// own (DeskActions); answers what the window then does with the result,
    /// or throws StoreException.
    using Work = std::function<std::function<void()>(PgConnection&)>;
    /// Told on the window's thread why an action was not taken.
    using Failed = std::function<void(const QString& why)>;

    DeskLink(Options options, Listener& listener, QObject* parent = nullptr);
    /// Stops the thread (stop()).
    ~DeskLink() override;
    DeskLink(const DeskLink&) = delete;
    DeskLink& operator=(const DeskLink&) = delete;

    void start();
    /// Runs the actions still waiting while the budget lasts, then ends the
    /// thread; any wait for the store ends within budgetMs.
    void stop(int budgetMs = 1000);

    /// Hands an action to the thread; failed at once (on this thread) when
    /// the store is away, the link stopping or too many actions wait.
    void submit(Work work, Failed failed);
    /// Reads everything again at the next turn.
    void reload();

    bool isReachable() const { return m_reachable.load(); }
    const std::string& getConninfo() const { return m_options.conninfo; }
    uint64_t getLoadCount() const { return m_loads.load(); }
    uint64_t getReadCount() const { return m_reads.load(); }

private:
    struct Action {
        Work work;
        Failed failed;
    };

    void run();
    void connectAndLoad();
    void load();
    void readFeed();
    void runActions();
    void failActions(const QString& why);
    void markDown(const std::string& why, int retryMs);
    /// Waits for the server's socket (when open) or a wake-up; whether the
    /// server sent something.
    bool waitFor(int milliseconds);
    void wake();
    /// Calls onWindow on the window's thread, unless the link is gone first.
    void post(std::function<void()> onWindow);
    void handOver(std::function<void()> deliver);

    Options m_options;
    Listener& m_listener;
    PgConnection m_connection;
    std::thread m_thread;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_reachable{false};
    std::atomic<bool> m_inFlight{false};
    std::atomic<bool> m_reloadAsked{false};
    std::atomic<uint64_t> m_loads{0};
    std::atomic<uint64_t> m_reads{0};
    std::mutex m_mutex;
    std::deque<Action> m_actions;

    // The thread's own.
    int64_t m_position = 0;
    bool m_loaded = false;
    bool m_wantRead = false;
    bool m_downReported = false;
    int64_t m_lastRead = 0;
    int64_t m_nextAttempt = 0;
    int m_retryMs = 0;
};

} // namespace velmora
