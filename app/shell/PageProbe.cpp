#include "app/shell/PageProbe.h"

#include "foundation/Trace.h"
#include "mapview/CefClientHandler.h"

#include <QPointer>
#include <QVariant>
#include <QWebEnginePage>

#include <algorithm>

namespace velmora {

PageProbe::PageProbe(CefClientHandler& host, QObject* parent) : QObject(parent), m_host(host) {
    connect(&m_timer, &QTimer::timeout, this, &PageProbe::probe);
}

void PageProbe::start() {
    if (isTraceEnabled() && !m_timer.isActive()) {
        m_timer.start(INTERVAL_MS);
    }
}

void PageProbe::stop() {
    if (!m_timer.isActive()) {
        return;
    }
    m_timer.stop();
    if (m_waiting) {
        trace("PageProbe: no answer for %lld ms", static_cast<long long>(m_sent.elapsed()));
    }
    trace("PageProbe: %lld answers, slowest %lld ms", static_cast<long long>(m_answers),
          static_cast<long long>(m_slowestMs));
}

void PageProbe::probe() {
    QWebEnginePage* page = m_host.getPage();
    if (m_waiting || page == nullptr) {
        return;
    }
    m_waiting = true;
    m_sent.start();
    QPointer<PageProbe> self(this);
    page->runJavaScript(QStringLiteral("0"), [self](const QVariant&) {
        if (self) {
            self->answered();
        }
    });
}

void PageProbe::answered() {
    m_waiting = false;
    const int64_t took = m_sent.elapsed();
    ++m_answers;
    m_slowestMs = std::max(m_slowestMs, took);
    if (took >= SLOW_MS) {
        trace("PageProbe: the page answered after %lld ms", static_cast<long long>(took));
    }
}

} // namespace velmora
