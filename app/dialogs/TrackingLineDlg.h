#pragma once

#include <QDialog>
#include <QString>

namespace velmora {

class SortedComboBox;

/// Asks for the duration of the track to show: one of six entries, listed
/// in alphabetical order, none chosen at opening. "Show" insists on a
/// choice; the caller reads it after exec() returned Accepted.
class TrackingLineDlg : public QDialog {
    Q_OBJECT

public:
    explicit TrackingLineDlg(QWidget* parent = nullptr);

    /// Hours of the chosen entry ("3 Days" is 72); 0 when none is chosen.
    int getDurationHours() const;
    /// The chosen entry's text ("3 Hours"); empty when none is chosen.
    QString getDurationText() const;

private slots:
    void onShow();

private:
    SortedComboBox* m_durationList = nullptr;
};

} // namespace velmora
