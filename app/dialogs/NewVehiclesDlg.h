#pragma once

#include <QDialog>

#include <vector>

class QLabel;
class QTableWidget;
class QTimer;

namespace velmora {

class UniqueID;
class VehicleAdmission;

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

    NewVehiclesDlg(VehicleAdmission& admission, QWidget* parent);

    /// Reads the list again (also done by the timer).
    void refresh();
    QTableWidget* getTable() const { return m_table; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void decide(const UniqueID& id, bool admit);

    VehicleAdmission& m_admission;
    QTableWidget* m_table;
    QLabel* m_summary;
    QTimer* m_timer;
};

} // namespace velmora
