#pragma once

#include "app/dialogs/ICandidateList.h"
#include "foundation/UniqueID.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QTableWidget;
class QTimer;

namespace velmora {

class VehicleAdmission;

/// "New vehicles": the vehicle ids the console refused that keep sending
/// fixes (id, sender address, name sent, first and last seen, messages),
/// most recently seen first, refreshed every second while shown. One click
/// on a row's "Admit" lets the id's next fix create the vehicle; "Ignore"
/// drops the id from the list and refuses it silently from then on.
///
/// Below, the senders whose vehicles admitted themselves and nobody has
/// reviewed yet, most vehicles first; "Delete all..." asks to delete every
/// one of them for good.
///
/// While the pointer is over a list its rows keep their order: refreshed
/// values, new rows at the end, rows that went away kept with their
/// buttons off, so the button under the pointer stays the one for the row
/// it is on. The order is made anew once the pointer leaves.
/// Not modal: the map stays usable. Device texts are shown as plain text.
class NewVehiclesDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int REFRESH_MS = 1000;

    /// The single desk's own admission.
    NewVehiclesDlg(VehicleAdmission& admission, QWidget* parent);
    /// Any list of waiting ids (a control-room desk's: the store's).
    NewVehiclesDlg(ICandidateList& candidates, QWidget* parent);

    /// Reads the lists again (also done by the timer).
    void refresh();
    QTableWidget* getTable() const { return m_table; }
    QTableWidget* getSenderTable() const { return m_senders; }

signals:
    /// The operator asked to delete every unreviewed vehicle of address.
    void deleteSenderRequested(const QString& address);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    NewVehiclesDlg(std::unique_ptr<ICandidateList> own, ICandidateList* candidates, QWidget* parent);
    void decide(const UniqueID& id, bool admit);
    void refreshCandidates();
    void refreshSenders();

    std::unique_ptr<ICandidateList> m_own;
    ICandidateList& m_candidates;
    QTableWidget* m_table;
    QTableWidget* m_senders;
    QLabel* m_summary;
    QLabel* m_senderSummary;
    QTimer* m_timer;
    // The rows as shown, and whether the pointer is over each list.
    std::vector<UniqueID> m_shownIds;
    std::vector<std::string> m_shownSenders;
    bool m_holdCandidates = false;
    bool m_holdSenders = false;
};

} // namespace velmora
