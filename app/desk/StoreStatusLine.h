#pragma once

#include <QElapsedTimer>
#include <QPushButton>
#include <QString>

#include <cstdint>

namespace velmora {

/// The strip below the map of a control-room desk, beside the intake line:
/// "Store unreachable since 14:02:11 — retrying" while the store is away
/// (the map keeps what it showed), a change the store did not take, and
/// how many new vehicles wait for an answer. Hidden while there is nothing
/// to tell; never a box. Clicking it is the window's business (it opens
/// the New vehicles list).
class StoreStatusLine : public QPushButton {
    Q_OBJECT

public:
    /// How long a note stays.
    static constexpr int NOTE_MS = 30000;

    explicit StoreStatusLine(QWidget* parent);

    /// The store went away at sinceMs (UTC milliseconds); why is its word.
    void setUnreachable(int64_t sinceMs, const QString& why);
    void setReachable();
    void setWaiting(size_t candidates);
    /// A line for NOTE_MS (a change the store did not take).
    void note(const QString& text);
    /// Brings the text up to date (notes expire); shows or hides the line.
    void refresh();

    bool isUnreachable() const { return m_unreachable; }
    /// The text shown; empty while the line is hidden.
    QString getStatus() const;

signals:
    /// The line was shown or hidden: the window lays out again.
    void visibilityChanged();

private:
    bool m_unreachable = false;
    bool m_styledAway = false;
    int64_t m_sinceMs = 0;
    QString m_why;
    size_t m_waiting = 0;
    QString m_note;
    QElapsedTimer m_noteAge;
};

} // namespace velmora
