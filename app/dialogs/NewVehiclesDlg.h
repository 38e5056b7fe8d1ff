#pragma once

#include "app/dialogs/ICandidateList.h"

#include <QDialog>

#include <memory>
#include <vector>

class QLabel;
class QTableWidget;
class QTimer;

namespace velmora {


/// "New vehicles": the vehicle ids the console refused that keep sending
/// fixes (id, sender address, name sent, first and last seen, messages),
/// most recently seen first, refreshed every second while shown. One click
/// on a row's "Admit" lets the id's next fix create the vehicle; "Ignore"
/// drops the id from the list and refuses it silently from then on.
/// Not modal: the map stays usable. Device texts are shown as plain text.
class NewVehiclesDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int REFRESH_MS = 1000;

    /// The single desk's own admission.
    NewVehiclesDlg(VehicleAdmission& admission, QWidget* parent);
    /// Any list of waiting ids (a control-room desk's: the store's).
    NewVehiclesDlg(ICandidateList& candidates, QWidget* parent);

    /// Reads the list again (also done by the timer).
    void refresh();
    QTableWidget* getTable() const { return m_table; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    NewVehiclesDlg(std::unique_ptr<ICandidateList> own, ICandidateList* candidates, QWidget* parent);
    void decide(const UniqueID& id, bool admit);

    std::unique_ptr<ICandidateList> m_own;
    ICandidateList& m_candidates;
    QTableWidget* m_table;
    QLabel* m_summary;
    QTimer* m_timer;
};

} // namespace velmora
