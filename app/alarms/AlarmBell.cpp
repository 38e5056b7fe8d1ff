#include "app/alarms/AlarmBell.h"

#include "foundation/Trace.h"

#include <QApplication>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace velmora {

AlarmBell::AlarmBell(QObject* parent) : QObject(parent), m_repeat(new QTimer(this)) {
    m_repeat->setInterval(REPEAT_MS);
    connect(m_repeat, &QTimer::timeout, this, &AlarmBell::ring);
}

AlarmBell::~AlarmBell() = default;

void AlarmBell::ring() {
    if (isMuted()) {
        return;
    }
    play();
}

void AlarmBell::play() {
    ++m_plays;
    if (m_output) {
        m_output();
    } else {
        // Made on the first alarm: a console without alarms never opens
        // the audio output.
        if (m_effect == nullptr) {
            m_effect = new QSoundEffect(this);
            m_effect->setSource(QUrl(QStringLiteral("qrc:/app/alarm.wav")));
        }
        if (m_effect->status() == QSoundEffect::Error) {
            QApplication::beep();
        } else {
            m_effect->play();
        }
    }
    emit played();
}

void AlarmBell::setRepeating(bool repeating) {
    if (repeating && !m_repeat->isActive()) {
        m_repeat->start();
    } else if (!repeating) {
        m_repeat->stop();
    }
}

bool AlarmBell::isRepeating() const { return m_repeat->isActive(); }

void AlarmBell::mute(int seconds) {
    m_mutedUntil = QDateTime::currentDateTimeUtc().addSecs(qBound(1, seconds, MUTE_SECONDS * 30));
    trace("AlarmBell: muted for %d s", seconds);
}

void AlarmBell::unmute() { m_mutedUntil = QDateTime(); }

bool AlarmBell::isMuted() const {
    return m_mutedUntil.isValid() && QDateTime::currentDateTimeUtc() < m_mutedUntil;
}

} // namespace velmora
