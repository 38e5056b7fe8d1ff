#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>

class QSoundEffect;
class QTimer;

namespace velmora {

/// The alarm sound: a short tone shipped with the console, played once for
/// a new alarm and again every REPEAT_MS while the queue wants it (an
/// unacknowledged priority 1 alarm). Mute silences it for a set time,
/// never for good; the repeats go on counting and sound again after.
///
/// The tone plays through Qt Multimedia; where no audio output works the
/// desktop's bell stands in. Tests give their own output.
class AlarmBell : public QObject {
    Q_OBJECT

public:
    static constexpr int REPEAT_MS = 5000;
    static constexpr int MUTE_SECONDS = 120;

    explicit AlarmBell(QObject* parent = nullptr);
    ~AlarmBell() override;

    /// What makes the sound; the tone (or the desktop's bell) when unset.
    void setOutput(std::function<void()> output) { m_output = std::move(output); }

    /// Sounds once now, unless muted.
    void ring();
    /// Whether the sound comes back every REPEAT_MS.
    void setRepeating(bool repeating);
    bool isRepeating() const;
    /// Silent until seconds from now.
    void mute(int seconds = MUTE_SECONDS);
    void unmute();
    bool isMuted() const;
    QDateTime getMutedUntil() const { return m_mutedUntil; }
    /// Times the sound was started since the console began.
    int getPlayCount() const { return m_plays; }

signals:
    /// The sound was started.
    void played();

private:
    void play();

    std::function<void()> m_output;
    QSoundEffect* m_effect = nullptr;
    QTimer* m_repeat = nullptr;
    QDateTime m_mutedUntil;
    int m_plays = 0;
};

} // namespace velmora
