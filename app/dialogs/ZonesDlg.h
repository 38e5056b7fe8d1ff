#pragma once

#include "rules/Zone.h"

#include <QDialog>
#include <QString>

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace velmora {

class IPageRunner;
class WatchHub;

/// "Zones": the watch rules' zones, one row each (name, shape, what it
/// alarms on, dwell, speed limit). The selected zone's name and settings are
/// edited below the list and taken with Apply; "Edit on map" lets the
/// operator move its vertices on the map (Done on the map takes them),
/// "Show on map" brings it into view, "Delete" deletes it after a question.
/// "Draw circle" and "Draw polygon" start drawing a new zone on the map; the
/// drawn zone comes into the list selected, its name ready to type.
///
/// Not modal: the map stays usable. Zone names are shown as plain text.
/// Texts and ranges live here (Zone's limits).
class ZonesDlg : public QDialog {
    Q_OBJECT

public:
    /// Alarm on: the rows of the "Alarm on" box.
    enum AlarmOn { ON_ENTRY = 0, ON_EXIT = 1, ON_BOTH = 2 };
    static constexpr int ZONE_NAME_MAX = 64;

    /// The collaborators outlive the window.
    ZonesDlg(WatchHub& watch, IPageRunner& page, QWidget* parent);

    /// Reads the zones again, keeping the selection; what the operator is
    /// typing stays while the selected zone itself did not change (at a
    /// desk, other desks change zones at any time).
    void refresh();
    /// Selects the zone's row and shows it in the form.
    void select(int32_t id);
    /// The selected zone's id; 0 when none.
    int32_t selectedId() const;
    /// The selected zone with the form's values; false (and a line in the
    /// window saying why) when one is out of range or no zone is selected.
    bool apply();
    /// Deletes the selected zone, after the operator's yes.
    bool deleteSelected();
    /// The name field, selected for typing (after a zone was drawn).
    void editName();

    QTableWidget* getTable() const { return m_table; }
    QString getMessage() const;

private:
    void showSelected();
    /// Selects the zone's row; the form stays as it is.
    void selectRow(int32_t id);
    void say(const QString& text);
    static QString alarmText(const Zone& zone);

    WatchHub& m_watch;
    IPageRunner& m_page;
    QTableWidget* m_table = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_alarmOn = nullptr;
    QLineEdit* m_dwell = nullptr;
    QLineEdit* m_speedLimit = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_editOnMap = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_delete = nullptr;
    QLabel* m_message = nullptr;
    /// The zone the form was last filled from.
    Zone m_shown;
};

} // namespace velmora
