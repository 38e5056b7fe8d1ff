#pragma once

#include "rules/AlarmBook.h"
#include "rules/WatchSettings.h"
#include "app/hub/MapSettings.h"
#include "intake/VehicleAdmission.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <map>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

class SetupDatabase;

/// The settings window: the callback port and the vehicle time-out in
/// minutes. OK checks and stores each changed value in the settings store
/// (Setup), then posts UWM_PORT_CHANGED or UWM_TIMEOUT_CHANGED with the new
/// value to the owner; a value equal to the stored one is left alone. An
/// out-of-range value keeps the window open; a port stored before the
/// time-out was refused stays stored and is not announced again.
///
/// The "Map" group chooses the map's source (the offline map only, online
/// tiles from two address templates, or an MBTiles file, whose metadata is
/// shown) and whether nearby vehicles are grouped (partly checked:
/// automatically, above 50 vehicles). Changed map settings are checked, then
/// stored together and announced with UWM_MAP_CHANGED.
///
/// The "New vehicles" group holds the rules for vehicle ids the console has
/// not seen (AdmissionSettings), stored together and announced with
/// UWM_ADMISSION_CHANGED.
///
/// The "Alarms" group sets a priority for each device event kind and each
/// watch rule's kind (AlarmKinds); the "Watch rules" group the silent time,
/// the speed limit and the speeding time (RuleSettings). A change of either
/// is stored and announced with UWM_ALARMS_CHANGED.
class SetupDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int32_t PORT_MIN = 1500;
    static constexpr int32_t PORT_MAX = 32000;
    static constexpr int32_t TIMEOUT_MIN = 1;
    static constexpr int32_t TIMEOUT_MAX = 28800;

    /// owner receives the posted messages (none when it is null).
    explicit SetupDlg(QWidget* owner);

private slots:
    void onOk();
    void onSourceChanged();
    void onBrowse();
    void showFileInfo();

private:
    /// Stores value under key in one transaction; false (after telling the
    /// operator) when the store refused it.
    bool store(const char* key, int32_t value);
    /// The field as a signed decimal; 0 when empty or unreadable.
    static int32_t readField(const QLineEdit* field);
    QGroupBox* createMapGroup();
    MapSettings enteredMap() const;
    /// Stores the map settings in one transaction; false (after telling
    /// the operator) when the store refused them.
    bool storeMap(const MapSettings& settings);
    QGroupBox* createAdmissionGroup();
    VehicleAdmission::Rules enteredAdmission() const;
    bool storeAdmission(const VehicleAdmission::Rules& rules);
    /// Which event kinds raise alarms, a priority box per kind.
    QGroupBox* createAlarmGroup();
    AlarmBook::Priorities enteredAlarms() const;
    QGroupBox* createRulesGroup();
    WatchSettings enteredRules() const;
    /// Runs write in one transaction of the settings store; false (after
    /// telling the operator) when the store refused it.
    bool storeTogether(const std::function<void(SetupDatabase&)>& write);

    QWidget* m_owner;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_timeoutField = nullptr;
    int32_t m_port = 0;
    int32_t m_timeout = 0;
    QComboBox* m_mapSource = nullptr;
    QLineEdit* m_roadTiles = nullptr;
    QLineEdit* m_roadAttribution = nullptr;
    QLineEdit* m_satelliteTiles = nullptr;
    QLineEdit* m_satelliteAttribution = nullptr;
    QLineEdit* m_mbtilesFile = nullptr;
    QPushButton* m_browse = nullptr;
    QLabel* m_mbtilesInfo = nullptr;
    QCheckBox* m_grouping = nullptr;
    MapSettings m_map;
    QComboBox* m_admissionMode = nullptr;
    QLineEdit* m_newPerMinute = nullptr;
    QLineEdit* m_fleetLimit = nullptr;
    VehicleAdmission::Rules m_admission;
    /// Kind -> its priority box.
    std::map<int32_t, QComboBox*> m_alarmPriority;
    AlarmBook::Priorities m_alarms;
    QLineEdit* m_silentMinutes = nullptr;
    QLineEdit* m_speedLimit = nullptr;
    QLineEdit* m_speedingSeconds = nullptr;
    WatchSettings m_rules;
};

} // namespace velmora
