#pragma once

#include <QPushButton>
#include <QString>

#include <cstdint>

namespace velmora {

class IntakeQueue;
class VehicleAdmission;

/// The strip below the map that tells what the intake refused or dropped in
/// the last minute and how many new vehicles wait ("Intake: 531,756 refused
/// from 127.0.0.1 in the last minute · 200 new vehicles waiting"). Hidden
/// while there is nothing to tell; never a box. Clicking it is the window's
/// business (it opens the New vehicles list).
///
/// refresh() runs once a second: the dropped count of the last minute is
/// the difference to the total 60 samples ago.
class IntakeStatusLine : public QPushButton {
    Q_OBJECT

public:
    /// How often the line is brought up to date.
    static constexpr int INTERVAL_MS = 1000;

    IntakeStatusLine(const VehicleAdmission& admission, const IntakeQueue& queue, QWidget* parent);

    /// Brings the text up to date; shows or hides the line.
    void refresh();
    /// The text shown; empty while the line is hidden.
    QString getStatus() const;

    /// 12345 as "12,345", whatever the locale says.
    static QString grouped(uint64_t value);

signals:
    /// The line was shown or hidden: the window lays out again.
    void visibilityChanged();

private:
    const VehicleAdmission& m_admission;
    const IntakeQueue& m_queue;
    uint64_t m_droppedAt[60] = {};
    int m_tick = 0;
};

} // namespace velmora
