#pragma once

#include <QWidget>

class QToolButton;

namespace velmora {

/// The strip above the map while alarms are open: its button
/// ("Alarms (12)") shows the alarm queue beside the map or folds it away,
/// leaving the count. An alarm that opens while the queue is folded marks
/// the button until the queue is shown again.
class AlarmStrip : public QWidget {
    Q_OBJECT

public:
    explicit AlarmStrip(QWidget* parent = nullptr);

    /// The number of open alarms.
    void setCount(int count);
    /// Whether the queue is shown (the button is down) or folded.
    void setQueueShown(bool shown);
    bool isQueueShown() const;
    /// A new alarm: marks the button while the queue is folded.
    void alarmRaised();
    /// Whether the button is marked for an alarm not seen yet.
    bool isMarked() const;
    QToolButton* getButton() const { return m_button; }

signals:
    /// The operator showed (true) or folded (false) the queue.
    void queueToggled(bool shown);

private:
    void mark(bool marked);

    QToolButton* m_button = nullptr;
    int m_count = 0;
};

} // namespace velmora
