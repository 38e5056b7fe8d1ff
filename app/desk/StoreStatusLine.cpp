#include "app/desk/StoreStatusLine.h"

#include "app/shell/IntakeStatusLine.h"
#include "foundation/Trace.h"

#include <QDateTime>
#include <QStringList>

namespace velmora {

namespace {

const char* const AWAY_STYLE = "QPushButton#storeStatus { background: #ffcdd2; color: #4a0008; text-align: left;"
                               " border: none; border-top: 1px solid #c62828; padding: 3px 8px; }";
const char* const NOTE_STYLE = "QPushButton#storeStatus { background: #ffecb3; color: #3b2f00; text-align: left;"
                               " border: none; border-top: 1px solid #c8a600; padding: 3px 8px; }";

} // namespace

StoreStatusLine::StoreStatusLine(QWidget* parent) : QPushButton(parent) {
    setObjectName(QStringLiteral("storeStatus"));
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(QString::fromLatin1(NOTE_STYLE));
    hide();
}

void StoreStatusLine::setUnreachable(int64_t sinceMs, const QString& why) {
    m_unreachable = true;
    m_sinceMs = sinceMs;
    m_why = why;
    refresh();
}

void StoreStatusLine::setReachable() {
    m_unreachable = false;
    m_why.clear();
    refresh();
}

void StoreStatusLine::setWaiting(size_t candidates) {
    m_waiting = candidates;
    refresh();
}

void StoreStatusLine::note(const QString& text) {
    m_note = text;
    m_noteAge.start();
    refresh();
}

void StoreStatusLine::refresh() {
    if (!m_note.isEmpty() && m_noteAge.elapsed() > NOTE_MS) {
        m_note.clear();
    }
    QStringList parts;
    if (m_unreachable) {
        const QString since =
            QDateTime::fromMSecsSinceEpoch(m_sinceMs).toLocalTime().toString(QStringLiteral("HH:mm:ss"));
        parts << QStringLiteral("Store unreachable since %1 \u2014 retrying").arg(since);
    }
    if (!m_note.isEmpty()) {
        parts << m_note;
    }
    if (m_waiting > 0) {
        parts << (m_waiting == 1 ? QStringLiteral("1 new vehicle waiting")
                                 : QStringLiteral("%1 new vehicles waiting")
                                       .arg(IntakeStatusLine::grouped(static_cast<uint64_t>(m_waiting))));
    }
    const QString status = parts.join(QStringLiteral(" \u00b7 "));
    const bool wasShown = !isHidden();
    if (status.isEmpty()) {
        if (wasShown) {
            trace("StoreStatusLine: hidden");
        }
        hide();
    } else {
        if (status != text()) {
            trace("StoreStatusLine: %s", qPrintable(status));
        }
        if (m_styledAway != m_unreachable) {
            m_styledAway = m_unreachable;
            setStyleSheet(QString::fromLatin1(m_unreachable ? AWAY_STYLE : NOTE_STYLE));
        }
        setToolTip(m_unreachable ? QStringLiteral("The store: %1").arg(m_why)
                                 : QStringLiteral("Show the new vehicles waiting for an answer"));
        setText(status);
        show();
    }
    if (wasShown != !isHidden()) {
        emit visibilityChanged();
    }
}

QString StoreStatusLine::getStatus() const {
    return isHidden() ? QString() : text();
}

} // namespace velmora
