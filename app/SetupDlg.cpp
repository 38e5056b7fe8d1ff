#include "app/SetupDlg.h"

#include "app/MessageBox.h"
#include "app/WindowMessage.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace velmora {

namespace {

const char* const TITLE = "Setup";
const char* const PORT_LABEL = "Callback Port :";
const char* const TIMEOUT_LABEL = "Timeout :";
const char* const MINUTE_LABEL = "minute";
const char* const PORT_RANGE = "Port must be between %d ~ %d";
const char* const TIMEOUT_RANGE = "Timeout must be between %d ~ %d";
const char* const STORE_FAILED = "The setting could not be stored.\n%1";
// Digits only, in every locale: a locale-aware validator would let group
// separators through.
const char* const DIGITS = "[0-9]*";

QLabel* label(QWidget* parent, const char* text, Qt::Alignment alignment) {
    auto* created = new QLabel(QString::fromLatin1(text), parent);
    created->setAlignment(alignment | Qt::AlignVCenter);
    return created;
}

QLineEdit* digitField(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(DIGITS)), field));
    field->setInputMethodHints(Qt::ImhDigitsOnly);
    return field;
}

} // namespace

SetupDlg::SetupDlg(QWidget* owner) : QDialog(owner), m_owner(owner) {
    setObjectName(QStringLiteral("setupDlg"));
    setWindowTitle(QString::fromLatin1(TITLE));

    m_portField = digitField(this, "portField");
    m_timeoutField = digitField(this, "timeoutField");
    auto* grid = new QGridLayout(this);
    grid->addWidget(label(this, PORT_LABEL, Qt::AlignRight), 0, 0);
    grid->addWidget(m_portField, 0, 1);
    grid->addWidget(label(this, TIMEOUT_LABEL, Qt::AlignRight), 1, 0);
    grid->addWidget(m_timeoutField, 1, 1);
    grid->addWidget(label(this, MINUTE_LABEL, Qt::AlignLeft), 1, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    grid->addWidget(buttons, 2, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    connect(buttons, &QDialogButtonBox::accepted, this, &SetupDlg::onOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    Setup& setup = Setup::getInstance();
    try {
        m_port = setup.getInt(Setup::KEY_PORT, Setup::DEFAULT_PORT);
        m_timeout = setup.getInt(Setup::KEY_TIMEOUT_DURATION, Setup::DEFAULT_TIMEOUT_DURATION);
    } catch (const DatabaseException& e) {
        // Without a readable store the window offers the defaults; storing
        // them then reports its own failure.
        traceException(e);
        m_port = Setup::DEFAULT_PORT;
        m_timeout = Setup::DEFAULT_TIMEOUT_DURATION;
    }
    m_portField->setText(QString::number(m_port));
    m_timeoutField->setText(QString::number(m_timeout));
}

int32_t SetupDlg::readField(const QLineEdit* field) {
    bool ok = false;
    // QString::toInt reads C-locale digits only; overflow reads as 0 too.
    const int value = field->text().toInt(&ok, 10);
    return ok ? value : 0;
}

bool SetupDlg::store(const char* key, int32_t value) {
    Setup& setup = Setup::getInstance();
    ScopedLock lock(setup.getLock());
    SetupDatabase& database = setup.getDatabase();
    try {
        database.begin();
        database.setInt(key, value);
        database.commit();
        return true;
    } catch (const DatabaseException& e) {
        traceException(e);
        // A transaction left open would make every later BEGIN fail.
        try {
            database.execute("ROLLBACK;");
        } catch (const DatabaseException&) {
            // No transaction was open.
        }
        MessageBox::error(this, QString::fromLatin1(STORE_FAILED).arg(QString::fromUtf8(e.getMessage())));
        return false;
    }
}

void SetupDlg::onOk() {
    const int32_t port = readField(m_portField);
    if (port != m_port) {
        if (port < PORT_MIN || port > PORT_MAX) {
            MessageBox::error(this, QString::asprintf(PORT_RANGE, PORT_MIN, PORT_MAX));
            return;
        }
        if (!store(Setup::KEY_PORT, port)) {
            return;
        }
        m_port = port;
        if (m_owner != nullptr) {
            WindowMessage::post(m_owner, WindowMessage::UWM_PORT_CHANGED, port);
        }
    }
    const int32_t timeout = readField(m_timeoutField);
    if (timeout != m_timeout) {
        if (timeout <= 0 || timeout > TIMEOUT_MAX) {
            MessageBox::error(this, QString::asprintf(TIMEOUT_RANGE, TIMEOUT_MIN, TIMEOUT_MAX));
            return;
        }
        if (!store(Setup::KEY_TIMEOUT_DURATION, timeout)) {
            return;
        }
        m_timeout = timeout;
        if (m_owner != nullptr) {
            WindowMessage::post(m_owner, WindowMessage::UWM_TIMEOUT_CHANGED, timeout);
        }
    }
    accept();
}

} // namespace velmora
