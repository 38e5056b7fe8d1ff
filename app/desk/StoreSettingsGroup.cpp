#include "app/desk/StoreSettingsGroup.h"

#include "store/ConnInfo.h"
#include "store/PgConnection.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"

#include <QFutureWatcher>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QtConcurrent/QtConcurrentRun>

namespace velmora {

namespace {

const char* const TITLE = "Store";
const char* const THIS_COMPUTER = "This computer (app.db)";
const char* const SERVER = "Control-room server";
const char* const CONNECTION_HINT = "host=... dbname=velmora user=...  or  postgresql://...";
const char* const CONNECTION_TIP =
    "A libpq connection string or URI; the PG* variables and ~/.pgpass apply. A store on another machine is "
    "reached with sslmode=verify-full. No password here: it goes into ~/.pgpass.";
const char* const TEST = "Test connection";
const char* const TESTING = "Testing...";
const char* const NEXT_START = "Takes effect when Velmora starts again.";
const char* const HAS_PASSWORD =
    "A password is not kept in the settings. Put it into ~/.pgpass (host:port:database:user:password) "
    "and leave it out of the connection string.";
const char* const UNREADABLE = "The connection string cannot be read: %1";
constexpr int TEST_TIMEOUT_MS = 5000;

} // namespace

StoreSettingsGroup::StoreSettingsGroup(const StoreChoice& shown, bool running, QWidget* parent)
    : QGroupBox(QString::fromLatin1(TITLE), parent), m_shown(shown) {
    setObjectName(QStringLiteral("storeGroup"));
    m_thisComputer = new QRadioButton(QString::fromLatin1(THIS_COMPUTER), this);
    m_thisComputer->setObjectName(QStringLiteral("storeThisComputer"));
    m_server = new QRadioButton(QString::fromLatin1(SERVER), this);
    m_server->setObjectName(QStringLiteral("storeServer"));
    m_conninfo = new QLineEdit(this);
    m_conninfo->setObjectName(QStringLiteral("storeConnection"));
    m_conninfo->setPlaceholderText(QString::fromLatin1(CONNECTION_HINT));
    m_conninfo->setToolTip(QString::fromLatin1(CONNECTION_TIP));
    m_conninfo->setMinimumWidth(320);
    m_test = new QPushButton(QString::fromLatin1(TEST), this);
    m_test->setObjectName(QStringLiteral("storeTest"));
    m_test->setAutoDefault(false);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("storeTestResult"));
    m_result->setTextFormat(Qt::PlainText); // the server's words are data
    m_result->setWordWrap(true);
    auto* note = new QLabel(QString::fromLatin1(NEXT_START), this);
    note->setEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_thisComputer, 0, 0, 1, 2);
    grid->addWidget(m_server, 1, 0, 1, 2);
    grid->addWidget(m_conninfo, 2, 0);
    grid->addWidget(m_test, 2, 1);
    grid->addWidget(m_result, 3, 0, 1, 2);
    grid->addWidget(note, 4, 0, 1, 2);

    (shown.server ? m_server : m_thisComputer)->setChecked(true);
    m_conninfo->setText(QString::fromStdString(shown.conninfo));
    if (running) {
        setToolTip(QStringLiteral("This console works as a control-room desk now."));
    }
    connect(m_server, &QRadioButton::toggled, this, &StoreSettingsGroup::onModeChanged);
    connect(m_test, &QPushButton::clicked, this, &StoreSettingsGroup::onTest);
    onModeChanged();
}

StoreChoice StoreSettingsGroup::entered() const {
    StoreChoice choice;
    choice.server = m_server->isChecked();
    choice.conninfo = m_conninfo->text().trimmed().toStdString();
    return choice;
}

QString StoreSettingsGroup::check() const {
    const StoreChoice choice = entered();
    if (choice.conninfo.empty()) {
        return QString();
    }
    std::string error;
    if (!ConnInfo::check(choice.conninfo, error)) {
        return QString::fromLatin1(UNREADABLE).arg(QString::fromStdString(error));
    }
    if (ConnInfo::hasPassword(choice.conninfo)) {
        return QString::fromLatin1(HAS_PASSWORD);
    }
    return QString();
}

QString StoreSettingsGroup::getTestResult() const { return m_result->text(); }

void StoreSettingsGroup::onModeChanged() {
    const bool server = m_server->isChecked();
    m_conninfo->setEnabled(server);
    m_test->setEnabled(server && !m_testing);
}

QString StoreSettingsGroup::testConnection(const std::string& text) {
    std::string error;
    if (!ConnInfo::check(text, error)) {
        return QString::fromLatin1(UNREADABLE).arg(QString::fromStdString(error));
    }
    PgConnection connection;
    try {
        connection.open(text, "velmora connection test", TEST_TIMEOUT_MS);
        connection.setCallTimeout(TEST_TIMEOUT_MS);
        const std::string version = connection.execute("SHOW server_version").getString(0, 0);
        const int schema = StoreSchema::readVersion(connection);
        QString found = QStringLiteral("Reached: PostgreSQL %1, ").arg(QString::fromStdString(version));
        if (schema == 0) {
            found += QStringLiteral("no Velmora tables yet (made at the first start).");
        } else if (schema > StoreSchema::VERSION) {
            found += QStringLiteral("schema version %1, newer than this program knows (%2): update Velmora.")
                         .arg(schema)
                         .arg(StoreSchema::VERSION);
        } else {
            found += QStringLiteral("schema version %1.").arg(schema);
        }
        return found;
    } catch (const StoreException& e) {
        return QStringLiteral("Not reached: %1").arg(QString::fromUtf8(e.getMessage()).trimmed());
    }
}

void StoreSettingsGroup::onTest() {
    if (m_testing) {
        return;
    }
    m_testing = true;
    m_test->setEnabled(false);
    m_result->setText(QString::fromLatin1(TESTING));
    const std::string text = m_conninfo->text().trimmed().toStdString();
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_testing = false;
        m_result->setText(watcher->result());
        onModeChanged();
    });
    watcher->setFuture(QtConcurrent::run([text] { return testConnection(text); }));
}

} // namespace velmora
