#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QLineEdit;

namespace velmora {

class ISharedSettings;
class IVehicleStore;
class VehicleInfo;

/// Edits the operator's texts of one vehicle: its display name (edited
/// name), two information lines and its icon image. OK writes them into the
/// vehicle's record in the VehicleInfoContainer and queues the record's
/// update (or hands them to the shared store, at a control-room desk);
/// Cancel changes nothing. It also holds the vehicle's own silent
/// time for the watch rules (minutes, blank: the Setup window's), which OK
/// stores in setup.db (RuleSettings). A vehicle id that is not in the container
/// (or is no id at all) opens nothing: exec() returns Rejected at once and
/// nothing is stored.
class VehicleEditDlg : public QDialog {
    Q_OBJECT

public:
    /// Longest text the operator may type into the name and information
    /// fields, in UTF-16 units; a longer stored text is shown and kept whole.
    static constexpr int TEXT_LIMIT = 32;

    /// store: where the change is kept (none: app.db); shared: where the
    /// vehicle's own silent minutes are (none: setup.db).
    explicit VehicleEditDlg(const std::string& vehicleIdText, QWidget* parent = nullptr,
                            IVehicleStore* store = nullptr, ISharedSettings* shared = nullptr);

    /// Runs the window modally; Rejected at once when the vehicle is unknown.
    int exec() override;
    /// The vehicle's record, or null when the id is unknown.
    VehicleInfo* getVehicle() const { return m_vehicle; }

private slots:
    void onChooseImage();
    void onOk();

private:
    /// path when a file of that name exists, otherwise the empty text.
    static std::string existingPath(const std::string& path);

    std::string m_vehicleIdText;
    IVehicleStore* m_store = nullptr;
    ISharedSettings* m_shared = nullptr;
    VehicleInfo* m_vehicle = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_info1Edit = nullptr;
    QLineEdit* m_info2Edit = nullptr;
    QLineEdit* m_imageEdit = nullptr;
    QLineEdit* m_silentEdit = nullptr;
    int32_t m_silentMinutes = -1;
};

} // namespace velmora
