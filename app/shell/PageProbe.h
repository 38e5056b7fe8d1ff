#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>

namespace velmora {

class CefClientHandler;

/// How quickly the map page answers: while the trace is on, a trivial
/// script is sent every INTERVAL_MS (one at a time) and its round trip
/// timed. An answer that took SLOW_MS or more is traced as it comes; the
/// stop traces how many answers came and the slowest, or how long the last
/// one has been awaited. A page that stops answering an operator shows in
/// the trace, where the end-to-end tests read it.
class PageProbe : public QObject {
public:
    static constexpr int INTERVAL_MS = 250;
    static constexpr int SLOW_MS = 500;

    /// host outlives the probe.
    explicit PageProbe(CefClientHandler& host, QObject* parent = nullptr);

    /// Starts probing (the page has loaded); nothing when the trace is off.
    void start();
    /// Stops probing and traces the summary.
    void stop();
    int64_t getAnswers() const { return m_answers; }
    int64_t getSlowestMs() const { return m_slowestMs; }

private:
    void probe();
    void answered();

    CefClientHandler& m_host;
    QTimer m_timer;
    QElapsedTimer m_sent;
    bool m_waiting = false;
    int64_t m_answers = 0;
    int64_t m_slowestMs = 0;
};

} // namespace velmora
