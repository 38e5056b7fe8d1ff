#include "app/OperatorDesk.h"

#include "app/ImageFileDialog.h"
#include "app/MessageBox.h"

namespace velmora {

OperatorDesk::OperatorDesk(QWidget* owner) : m_owner(owner) {}

void OperatorDesk::placeholder(const char* window) {
    MessageBox::information(m_owner, QString::fromLatin1(PLACEHOLDER).arg(QString::fromLatin1(window)));
}

bool OperatorDesk::askYesNo(const QString& question) {
    return !m_closing && MessageBox::question(m_owner, question);
}

std::string OperatorDesk::chooseImage() {
    return m_closing ? std::string() : ImageFileDialog::choose(m_owner);
}

void OperatorDesk::showLog() {
    if (!m_closing) {
        placeholder("event log");
    }
}

void OperatorDesk::showSetup() {
    if (!m_closing) {
        placeholder("settings");
    }
}

bool OperatorDesk::editVehicle(const std::string& vehicleIdText) {
    (void)vehicleIdText;
    if (!m_closing) {
        placeholder("vehicle edit");
    }
    return false;
}

bool OperatorDesk::chooseTrackingLine(const std::string& vehicleIdText) {
    (void)vehicleIdText;
    if (!m_closing) {
        placeholder("tracking line");
    }
    return false;
}

} // namespace velmora
