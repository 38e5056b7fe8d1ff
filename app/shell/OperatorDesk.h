#pragma once

#include "app/hub/IOperator.h"

class QWidget;

namespace velmora {

class HistoryReader;
class ISharedSettings;
class IVehicleStore;

/// The operator's side of the console on the desktop: message boxes, the
/// image file dialog and the secondary windows (event log, settings, vehicle
/// edit, tracking line), each modal over the owner.
///
/// Once closing() was called (the console is being stopped by a signal)
/// nothing new opens: questions answer No and windows end at once, so a
/// stop never waits for the operator.
class OperatorDesk : public IOperator {
public:
    /// owner parents every window; it outlives the desk.
    explicit OperatorDesk(QWidget* owner);

    bool askYesNo(const QString& question) override;
    std::string chooseImage() override;
    void showLog() override;
    void showSetup() override;
    bool editVehicle(const std::string& vehicleIdText) override;
    std::optional<TrackingDuration> chooseTrackingLine(const std::string& vehicleIdText) override;
    void tell(const QString& text) override;

    /// A control-room desk's: where the windows read history, keep vehicle
    /// changes and the shared settings (none: app.db and setup.db).
    void setHistory(HistoryReader* history) { m_history = history; }
    void setVehicleStore(IVehicleStore* store) { m_vehicleStore = store; }
    void setSharedSettings(ISharedSettings* shared) { m_shared = shared; }

    /// From now on nothing opens.
    void closing() { m_closing = true; }
    bool isClosing() const { return m_closing; }

private:
    QWidget* m_owner;
    HistoryReader* m_history = nullptr;
    IVehicleStore* m_vehicleStore = nullptr;
    ISharedSettings* m_shared = nullptr;
    bool m_closing = false;
};

} // namespace velmora
