#pragma once

#include <QObject>

class QSocketNotifier;

namespace velmora {

/// SIGTERM and SIGINT (session logout, kill, Ctrl-C) as a Qt signal on the
/// GUI thread. Both are blocked and read from a signalfd, so no handler ever
/// runs: nothing can be interrupted half-way, and no thread's wait ends
/// early with EINTR.
class TerminationSignal : public QObject {
    Q_OBJECT

public:
    /// Blocks both signals in the calling thread. Call first in main(),
    /// before any thread exists: threads inherit the mask, so the signals
    /// then reach nobody but the signalfd.
    static void blockEarly();

    /// Opens the signalfd (blocking the signals in this thread too) and
    /// watches it in the event loop.
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override;
    TerminationSignal(const TerminationSignal&) = delete;
    TerminationSignal& operator=(const TerminationSignal&) = delete;

    /// false when the signalfd could not be made (the signals then keep
    /// their default action).
    bool isValid() const { return m_fd >= 0; }

signals:
    /// One of the signals arrived; signalNumber is SIGTERM or SIGINT.
    void requested(int signalNumber);

private:
    void readSignals();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace velmora
