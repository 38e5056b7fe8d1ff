#pragma once

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;

namespace velmora {

/// The settings window: the callback port and the vehicle time-out in
/// minutes. OK checks and stores each changed value in the settings store
/// (Setup), then posts UWM_PORT_CHANGED or UWM_TIMEOUT_CHANGED with the new
/// value to the owner; a value equal to the stored one is left alone. An
/// out-of-range value keeps the window open; a port stored before the
/// time-out was refused stays stored and is not announced again.
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

private:
    /// Stores value under key in one transaction; false (after telling the
    /// operator) when the store refused it.
    bool store(const char* key, int32_t value);
    /// The field as a signed decimal; 0 when empty or unreadable.
    static int32_t readField(const QLineEdit* field);

    QWidget* m_owner;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_timeoutField = nullptr;
    int32_t m_port = 0;
    int32_t m_timeout = 0;
};

} // namespace velmora
