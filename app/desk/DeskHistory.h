#pragma once

#include "db/DatabaseException.h"
#include "db/HistoryReader.h"
#include "store/PgHistoryReader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <optional>
#include <string>

namespace velmora {

/// A desk's history for its windows: the store's (PgHistoryReader), read
/// off the window's thread. A window calls it as it calls app.db's reader;
/// while the store answers, the window's thread goes on with its timers,
/// drawing and the feed (user input waits), so a slow or absent store
/// never freezes the console. Called from another thread, it reads there.
class DeskHistory : public HistoryReader {
public:
    explicit DeskHistory(std::string conninfo);
    ~DeskHistory() override;

    std::unique_ptr<EventPages> eventPages() override;
    std::vector<GPSData> loadTrack(const UniqueID& vehicle, int hours, std::time_t nowUtc) override;
    std::vector<GPSData> loadTrackBetween(const UniqueID& vehicle, std::time_t fromUtc, std::time_t toUtc,
                                          std::time_t nowUtc, int64_t& clockOffset) override;
    std::vector<AlarmRecord> loadAlarms(std::time_t from, std::time_t to) override;

    /// Ends every wait for the store now (the console stops).
    void abort() { m_reader.abort(); }

    /// Runs read on a worker thread and waits for it without blocking the
    /// window's events; from another thread, runs it there. A
    /// DatabaseException is thrown on the caller's thread.
    template <typename Read> static auto offThread(Read read) -> decltype(read());

private:
    PgHistoryReader m_reader;
};

template <typename Read> auto DeskHistory::offThread(Read read) -> decltype(read())
{
    using Result = decltype(read());
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread()) {
        return read();
    }
    struct Outcome {
        std::optional<Result> value;
        std::optional<DatabaseException> failure;
    };
    auto outcome = std::make_shared<Outcome>();
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([outcome, read]() mutable {
        try {
            outcome->value.emplace(read());
        } catch (const DatabaseException& e) {
            outcome->failure.emplace(e);
        }
    }));
    if (!watcher.isFinished()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    watcher.waitForFinished();
    if (outcome->failure) {
        throw DatabaseException(*outcome->failure);
    }
    return std::move(*outcome->value);
}

} // namespace velmora
