#pragma once

#include "app/desk/StoreChoice.h"

#include <QGroupBox>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velmora {

/// The "Store" group of the settings window: this computer (app.db) or a
/// control-room server, its connection string and a connection test. The
/// choice takes effect when the console starts again. A connection string
/// with a password is refused (check()): the password belongs in
/// ~/.pgpass. The test runs off the window's thread and never blocks it.
class StoreSettingsGroup : public QGroupBox {
    Q_OBJECT

public:
    /// shown: the choice as stored; running: this console works as a
    /// control-room desk now.
    StoreSettingsGroup(const StoreChoice& shown, bool running, QWidget* parent);

    StoreChoice entered() const;
    bool isChanged() const { return !(entered() == m_shown); }
    /// Why the entered choice cannot be kept; empty when it can.
    QString check() const;
    /// The test's answer so far ("Testing..." while it runs).
    QString getTestResult() const;
    bool isTesting() const { return m_testing; }

    /// Connects with text and answers what was found, in the operator's
    /// words; waits at most a few seconds. Any thread.
    static QString testConnection(const std::string& text);

private:
    void onModeChanged();
    void onTest();

    StoreChoice m_shown;
    QRadioButton* m_thisComputer = nullptr;
    QRadioButton* m_server = nullptr;
    QLineEdit* m_conninfo = nullptr;
    QPushButton* m_test = nullptr;
    QLabel* m_result = nullptr;
    bool m_testing = false;
};

} // namespace velmora
