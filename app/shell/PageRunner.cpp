#include "app/shell/PageRunner.h"

#include "mapview/CefClientHandler.h"
#include "mapview/MapCommands.h"

#include <QPointer>
#include <QVariant>
#include <QWebEnginePage>

namespace velmora {

PageRunner::PageRunner(CefClientHandler& host, QObject* parent) : QObject(parent), m_host(host) {}

void PageRunner::execute(const QString& command) {
    m_pending.append(command);
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &PageRunner::flush, Qt::QueuedConnection);
    }
}

void PageRunner::execute(const QStringList& commands) {
    for (const QString& command : commands) {
        execute(command);
    }
}

void PageRunner::whenRun(std::function<void()> done) {
    flush();
    QWebEnginePage* page = m_host.getPage();
    if (page == nullptr || !m_host.isPageLoaded()) {
        done();
        return;
    }
    // Scripts run in the order given: the answer to this one follows every
    // command sent before it.
    page->runJavaScript(QStringLiteral("0"), [done = std::move(done)](const QVariant&) { done(); });
}

QString PageRunner::batchScript(const QStringList& commands, qsizetype from, qsizetype count) {
    QString script;
    for (qsizetype i = from; i < from + count; ++i) {
        // The line break ends a command that has no semicolon of its own.
        script += QStringLiteral("try {\n");
        script += commands[i];
        script += QStringLiteral("\n} catch (e) { console.error(String(e)); }\n");
    }
    return script;
}

void PageRunner::flush() {
    m_flushQueued = false;
    if (m_pending.isEmpty()) {
        return;
    }
    const QStringList commands = std::move(m_pending);
    m_pending.clear();
    if (commands.size() == 1) {
        m_host.execute(commands.front());
        return;
    }
    // A run of frame commands (a whole fleet's fixes) becomes one runFrame
    // statement per MAX_FRAME_ROWS rows, in its place among the others.
    QStringList statements;
    QStringList rows;
    const auto endRows = [&] {
        for (qsizetype from = 0; from < rows.size(); from += MAX_FRAME_ROWS) {
            statements.append(
                MapCommands::runFrame(rows, from, std::min<qsizetype>(MAX_FRAME_ROWS, rows.size() - from)));
        }
        rows.clear();
    };
    for (const QString& command : commands) {
        QString row = MapCommands::frameRow(command);
        if (row.isEmpty()) {
            endRows();
            statements.append(command);
        } else {
            rows.append(std::move(row));
        }
    }
    endRows();
    for (qsizetype from = 0; from < statements.size(); from += MAX_BATCH) {
        m_host.execute(batchScript(statements, from, std::min<qsizetype>(MAX_BATCH, statements.size() - from)));
    }
}

} // namespace velmora
