#include "app/desk/DeskLink.h"

#include "foundation/Trace.h"
#include "store/ChangeFeed.h"
#include "store/FleetReader.h"
#include "store/PgTransaction.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"
#include "store/ZoneTable.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QDateTime>

#include <algorithm>
#include <memory>

namespace velmora {

namespace {

const char* const PROGRAM = "velmora";
/// The longest single wait of the thread, so a stop is seen at once.
constexpr int SLICE_MS = 250;

int64_t wallMs() { return QDateTime::currentMSecsSinceEpoch(); }

} // namespace

DeskLink::DeskLink(Options options, Listener& listener, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_listener(listener), m_retryMs(m_options.retryFirstMs) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DeskLink::~DeskLink() {
    stop(0);
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

void DeskLink::start() {
    if (!m_thread.joinable()) {
        m_stopping = false;
        m_thread = std::thread([this] { run(); });
    }
}

void DeskLink::stop(int budgetMs) {
    if (!m_thread.joinable()) {
        return;
    }
    m_stopping = true;
    m_connection.abortAt(PgConnection::steadyNowMs() + std::max(budgetMs, 0));
    wake();
    m_thread.join();
}

void DeskLink::wake() {
    const uint64_t one = 1;
    if (m_wakeFd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
}

void DeskLink::post(std::function<void()> onWindow) {
    // Dropped by Qt when the link is deleted before the call is handled.
    QMetaObject::invokeMethod(this, std::move(onWindow), Qt::QueuedConnection);
}

void DeskLink::handOver(std::function<void()> deliver) {
    m_inFlight = true;
    post([this, deliver = std::move(deliver)] {
        deliver();
        m_inFlight = false;
        wake();
    });
}

void DeskLink::submit(Work work, Failed failed) {
    QString refused;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || !m_thread.joinable()) {
            refused = QStringLiteral("The console is stopping.");
        } else if (!m_reachable) {
            refused = QString::fromLatin1(UNREACHABLE);
        } else if (m_actions.size() >= ACTIONS_MAX) {
            refused = QStringLiteral("Too many changes wait for the store.");
        } else {
            m_actions.push_back({std::move(work), std::move(failed)});
        }
    }
    if (!refused.isEmpty()) {
        if (failed) {
            failed(refused);
        }
        return;
    }
    wake();
}

void DeskLink::reload() {
    m_reloadAsked = true;
    wake();
}

bool DeskLink::waitFor(int milliseconds) {
    pollfd entries[2] = {};
    entries[0].fd = m_wakeFd;
    entries[0].events = POLLIN;
    const int socket = m_connection.getSocket();
    entries[1].fd = socket;
    entries[1].events = POLLIN;
    const int ready = ::poll(entries, socket >= 0 ? 2 : 1, std::clamp(milliseconds, 0, SLICE_MS));
    if (ready <= 0) {
        return false;
    }
    if ((entries[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
    }
    return socket >= 0 && (entries[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void DeskLink::markDown(const std::string& why, int retryMs) {
    m_connection.close();
    m_nextAttempt = PgConnection::steadyNowMs() + retryMs;
    if (!m_downReported) {
        m_downReported = true;
        m_reachable = false;
        const int64_t since = wallMs();
        const QString text = QString::fromStdString(why).trimmed();
        trace("DeskLink: store unreachable: %s", qPrintable(text));
        post([this, since, text] { m_listener.onReachability(false, since, text); });
    }
}

void DeskLink::connectAndLoad() {
    try {
        m_connection.open(m_options.conninfo, PROGRAM, m_options.connectTimeoutMs);
        m_connection.setCallTimeout(m_options.callTimeoutMs);
        StoreSchema::migrate(m_connection, PROGRAM);
        m_connection.listen(ChangeFeed::CHANNEL);
        if (!m_loaded || m_reloadAsked.exchange(false)) {
            load();
        } else {
            // Back after a lost link: what changed meanwhile, from the
            // position kept.
            m_wantRead = true;
        }
    } catch (const StoreException& e) {
        if (e.getKind() == StoreException::SCHEMA) {
            markDown(e.getMessage(), m_options.schemaRetryMs);
        } else {
            markDown(e.getMessage(), m_retryMs);
            m_retryMs = std::min(m_retryMs * 2, m_options.retryMaxMs);
        }
        return;
    }
    m_retryMs = m_options.retryFirstMs;
    trace("DeskLink: connected to the store (%s)", PgConnection::describe(m_options.conninfo).c_str());
    if (m_downReported || !m_reachable) {
        m_downReported = false;
        m_reachable = true;
        post([this] { m_listener.onReachability(true, 0, QString()); });
    }
}

void DeskLink::load() {
    auto snapshot = std::make_shared<DeskSnapshot>();
    {
        // One snapshot for what is shown and the position it pairs with.
        PgTransaction transaction(m_connection, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        snapshot->position = FeedReader::currentPosition(m_connection);
        snapshot->vehicles = FleetReader::loadVehicles(m_connection);
        snapshot->recentFixes = FleetReader::loadRecentFixes(m_connection, RECENT_FIX_SECONDS);
        snapshot->openAlarms = FleetReader::loadOpenAlarms(m_connection);
        snapshot->settings = SharedSettings::load(m_connection);
        snapshot->candidates = DeskActions::loadCandidates(m_connection);
        snapshot->zones = ZoneTable::load(m_connection);
        transaction.commit();
    }
    m_position = snapshot->position;
    m_loaded = true;
    m_lastRead = PgConnection::steadyNowMs();
    ++m_loads;
    trace("DeskLink: loaded %zu vehicles, %zu open alarms", snapshot->vehicles.size(), snapshot->openAlarms.size());
    handOver([this, snapshot] { m_listener.onLoaded(*snapshot); });
}

void DeskLink::readFeed() {
    FeedReader::Options options;
    options.fixes = true;
    options.newestFixPerVehicle = true;
    options.events = true;
    options.maxEvents = m_options.maxEvents;
    auto update = std::make_shared<DeskUpdate>();
    update->changes = FeedReader::read(m_connection, m_position, options);
    ++m_reads;
    if (update->changes.reloadNeeded || update->changes.fleetChanged) {
        load();
        return;
    }
    m_position = update->changes.next;
    bool candidates = false;
    bool zones = false;
    for (const FeedReader::Entry& entry : update->changes.entries) {
        candidates = candidates || entry.kind == ChangeFeed::CANDIDATES || entry.kind == ChangeFeed::ADMISSION;
        zones = zones || entry.kind == ChangeFeed::ZONE;
    }
    if (update->changes.settingsChanged) {
        update->hasSettings = true;
        update->settings = SharedSettings::load(m_connection);
    }
    if (candidates) {
        update->hasCandidates = true;
        update->candidates = DeskActions::loadCandidates(m_connection);
    }
    if (zones) {
        // Zones are few and change seldom: all of them again, as one set.
        update->hasZones = true;
        update->zones = ZoneTable::load(m_connection);
    }
    if (update->changes.isEmpty()) {
        return;
    }
    handOver([this, update] { m_listener.onUpdate(*update); });
}

void DeskLink::runActions() {
    for (;;) {
        Action action;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_actions.empty()) {
                return;
            }
            action = std::move(m_actions.front());
            m_actions.pop_front();
        }
        try {
            std::function<void()> then = action.work(m_connection);
            if (then) {
                post(std::move(then));
            }
        } catch (const StoreException& e) {
            const QString why = QString::fromUtf8(e.getMessage()).trimmed();
            if (action.failed) {
                post([failed = std::move(action.failed), why] { failed(why); });
            }
            if (!m_connection.isOpen() || e.isStoreAway()) {
                throw;
            }
            traceException(e);
        }
    }
}

void DeskLink::failActions(const QString& why) {
    std::deque<Action> failed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        failed.swap(m_actions);
    }
    for (Action& action : failed) {
        if (action.failed) {
            post([failed = std::move(action.failed), why] { failed(why); });
        }
    }
}

void DeskLink::run() {
    trace("DeskLink: following the store (%s)", PgConnection::describe(m_options.conninfo).c_str());
    while (!m_stopping) {
        const int64_t now = PgConnection::steadyNowMs();
        if (!m_connection.isOpen()) {
            failActions(QString::fromLatin1(UNREACHABLE));
            if (now >= m_nextAttempt) {
                connectAndLoad();
            } else {
                waitFor(static_cast<int>(m_nextAttempt - now));
            }
            continue;
        }
        try {
            runActions();
            if (m_reloadAsked.exchange(false)) {
                if (m_inFlight) {
                    m_reloadAsked = true;
                } else {
                    load();
                }
            }
            const bool due = m_wantRead || now - m_lastRead >= m_options.followIntervalMs;
            if (due && !m_inFlight) {
                m_wantRead = false;
                m_lastRead = now;
                readFeed();
            }
            const int64_t untilRead = m_lastRead + m_options.followIntervalMs - PgConnection::steadyNowMs();
            if (waitFor(static_cast<int>(std::max<int64_t>(untilRead, 1)))) {
                // A notice, or the server ending the session: either way a
                // read follows (and finds the link lost, if it is).
                m_connection.takeNotices();
                m_wantRead = true;
            }
        } catch (const StoreException& e) {
            if (!m_connection.isOpen() || e.isStoreAway()) {
                markDown(e.getMessage(), m_retryMs);
            } else {
                traceException(e);
                m_wantRead = false;
                waitFor(SLICE_MS);
            }
        }
    }
    // What the operator did just before the stop still goes, while the
    // stop's budget lasts.
    if (m_connection.isOpen()) {
        try {
            runActions();
        } catch (const StoreException& e) {
            traceException(e);
        }
    }
    m_connection.close();
    trace("DeskLink: stopped");
}

} // namespace velmora
