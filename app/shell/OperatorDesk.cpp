#include "app/shell/OperatorDesk.h"

#include "app/dialogs/ImageFileDialog.h"
#include "app/dialogs/LogDlg.h"
#include "app/dialogs/MessageBox.h"
#include "app/dialogs/SetupDlg.h"
#include "app/dialogs/TrackingLineDlg.h"
#include "app/dialogs/VehicleEditDlg.h"

namespace velmora {

OperatorDesk::OperatorDesk(QWidget* owner) : m_owner(owner) {}

bool OperatorDesk::askYesNo(const QString& question) {
    return !m_closing && MessageBox::question(m_owner, question);
}

std::string OperatorDesk::chooseImage() {
    return m_closing ? std::string() : ImageFileDialog::choose(m_owner);
}

void OperatorDesk::showLog() {
    if (!m_closing) {
        LogDlg(m_owner, m_history).exec();
    }
}

void OperatorDesk::showSetup() {
    if (!m_closing) {
        // Its changes come back to the owner as posted messages.
        SetupDlg(m_owner, m_shared).exec();
    }
}

bool OperatorDesk::editVehicle(const std::string& vehicleIdText) {
    return !m_closing && VehicleEditDlg(vehicleIdText, m_owner, m_vehicleStore, m_shared).exec() == QDialog::Accepted;
}

std::optional<IOperator::TrackingDuration> OperatorDesk::chooseTrackingLine(const std::string& vehicleIdText) {
    (void)vehicleIdText;
    if (m_closing) {
        return std::nullopt;
    }
    TrackingLineDlg window(m_owner);
    if (window.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return TrackingDuration{window.getDurationHours(), window.getDurationText()};
}

void OperatorDesk::tell(const QString& text) {
    if (!m_closing) {
        MessageBox::information(m_owner, text);
    }
}

} // namespace velmora
