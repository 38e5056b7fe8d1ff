#pragma once

#include "app/hub/IPageRunner.h"

#include <QObject>
#include <QStringList>

namespace velmora {

class CefClientHandler;

/// Page commands through the browser host, which drops them until the page
/// has loaded.
///
/// Commands given while the window handles one batch of its queue (a burst
/// of device messages, the fleet at page load) go to the page together, as
/// one script, once the window is back in its event loop: each script the
/// page runs costs a round trip between the processes, which a whole fleet
/// of fixes would otherwise pay one by one. Every command keeps its own
/// try/catch, so one that throws stops none of the others, as if each had
/// been sent alone. Order is kept. A vehicle's frame commands (its record's
/// news and its move) go as rows of one runFrame call: the page reads a
/// literal of rows far faster than as many statements.
class PageRunner : public QObject, public IPageRunner {
    Q_OBJECT

public:
    /// Commands in one script at most; a larger batch is sent as several.
    static constexpr int MAX_BATCH = 400;
    /// Rows of one runFrame call at most: a call of 10,000 vehicles' moves
    /// would hold the page from drawing for its whole length.
    static constexpr int MAX_FRAME_ROWS = 2000;

    explicit PageRunner(CefClientHandler& host, QObject* parent = nullptr);

    void execute(const QString& command) override;
    void execute(const QStringList& commands) override;
    /// Sends what waits, then asks the page to answer once it has run it.
    void whenRun(std::function<void()> done) override;
    /// Sends what is waiting now.
    void flush();

    /// The script that runs commands one after the other, each on its own.
    static QString batchScript(const QStringList& commands, qsizetype from, qsizetype count);

private:
    CefClientHandler& m_host;
    QStringList m_pending;
    bool m_flushQueued = false;
};

} // namespace velmora
