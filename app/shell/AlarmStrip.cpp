#include "app/shell/AlarmStrip.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

namespace velmora {

AlarmStrip::AlarmStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("alarmStrip"));
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    m_button = new QToolButton(this);
    m_button->setObjectName(QStringLiteral("alarmToggle"));
    m_button->setCheckable(true);
    m_button->setChecked(true);
    m_button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Marked: an alarm opened while the queue was folded.
    m_button->setStyleSheet(QStringLiteral("QToolButton[marked=\"true\"] { color: #b00020; font-weight: bold; }"));
    layout->addStretch(1);
    layout->addWidget(m_button);
    connect(m_button, &QToolButton::toggled, this, [this](bool shown) {
        if (shown) {
            mark(false);
        }
        m_button->setToolTip(shown ? QStringLiteral("Fold the alarm queue to its count")
                                   : QStringLiteral("Show the alarm queue"));
        emit queueToggled(shown);
    });
    setCount(0);
    m_button->setToolTip(QStringLiteral("Fold the alarm queue to its count"));
}

void AlarmStrip::setCount(int count) {
    m_count = count;
    m_button->setText(QStringLiteral("Alarms (%1)").arg(count));
}

void AlarmStrip::setQueueShown(bool shown) {
    m_button->setChecked(shown);
}

bool AlarmStrip::isQueueShown() const {
    return m_button->isChecked();
}

void AlarmStrip::alarmRaised() {
    if (!isQueueShown()) {
        mark(true);
    }
}

bool AlarmStrip::isMarked() const {
    return m_button->property("marked").toBool();
}

void AlarmStrip::mark(bool marked) {
    if (isMarked() == marked) {
        return;
    }
    m_button->setProperty("marked", marked);
    // The style sheet reads the property only when asked again.
    m_button->style()->unpolish(m_button);
    m_button->style()->polish(m_button);
}

} // namespace velmora
