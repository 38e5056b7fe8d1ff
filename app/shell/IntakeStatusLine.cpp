#include "app/shell/IntakeStatusLine.h"

#include "foundation/Trace.h"
#include "intake/IntakeQueue.h"
#include "intake/VehicleAdmission.h"

#include <QStringList>

namespace velmora {

IntakeStatusLine::IntakeStatusLine(const VehicleAdmission& admission, const IntakeQueue& queue, QWidget* parent)
    : QPushButton(parent), m_admission(admission), m_queue(queue) {
    setObjectName(QStringLiteral("intakeStatus"));
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(QStringLiteral(
        "QPushButton#intakeStatus { background: #ffecb3; color: #3b2f00; text-align: left;"
        " border: none; border-top: 1px solid #c8a600; padding: 3px 8px; }"));
    setToolTip(QStringLiteral("Show the new vehicles the console has not taken"));
    hide();
}

QString IntakeStatusLine::grouped(uint64_t value) {
    QString digits = QString::number(value);
    for (int at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    return digits;
}

void IntakeStatusLine::refresh() {
    const int slot = m_tick % 60;
    const uint64_t dropped = m_queue.getDropped();
    // The total a minute ago is the oldest sample, once there are 60.
    const uint64_t droppedMinute = dropped - (m_tick >= 60 ? m_droppedAt[slot] : 0);
    m_droppedAt[slot] = dropped;
    ++m_tick;
    const VehicleAdmission::Refusals refusals = m_admission.getRecentRefusals();
    const size_t waiting = m_admission.getCandidates().size();

    QStringList parts;
    if (refusals.count > 0) {
        QString text = QStringLiteral("%1 refused").arg(grouped(refusals.count));
        if (refusals.topSenderCount == refusals.count) {
            text += QStringLiteral(" from %1").arg(QString::fromStdString(refusals.topSender));
        } else {
            text += QStringLiteral(" (%1 from %2)")
                        .arg(grouped(refusals.topSenderCount), QString::fromStdString(refusals.topSender));
        }
        parts << text;
    }
    if (droppedMinute > 0) {
        parts << QStringLiteral("%1 dropped, the console was busy").arg(grouped(droppedMinute));
    }
    QString status;
    if (!parts.isEmpty()) {
        status = QStringLiteral("Intake: %1 in the last minute").arg(parts.join(QStringLiteral(", ")));
    }
    if (waiting > 0) {
        const QString vehicles = waiting == 1 ? QStringLiteral("1 new vehicle waiting")
                                              : QStringLiteral("%1 new vehicles waiting").arg(grouped(waiting));
        status = status.isEmpty() ? QStringLiteral("Intake: %1").arg(vehicles) : status + QStringLiteral(" · ") + vehicles;
    }
    if (!status.isEmpty() && (m_tick % 60 == 1 || isHidden())) {
        trace("VelmoraDlg: intake refused=%llu dropped=%llu candidates=%zu top=%s",
              static_cast<unsigned long long>(m_admission.getRefusedTotal()),
              static_cast<unsigned long long>(dropped), waiting, refusals.topSender.c_str());
    }
    const bool wasShown = !isHidden();
    if (status.isEmpty()) {
        hide();
    } else {
        setText(status);
        show();
    }
    if (wasShown != !isHidden()) {
        emit visibilityChanged();
    }
}

QString IntakeStatusLine::getStatus() const {
    return isHidden() ? QString() : text();
}

} // namespace velmora
