#include "app/dialogs/SetupDlg.h"

#include "app/hub/AdmissionSettings.h"
#include "app/alarms/AlarmSettings.h"
#include "app/desk/StoreChoice.h"
#include "app/desk/StoreSettingsGroup.h"
#include "app/hub/ISharedSettings.h"
#include "app/hub/RuleSettings.h"
#include "rules/AlarmKinds.h"
#include "app/dialogs/MessageBox.h"
#include "app/shell/WindowMessage.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/SetupDatabase.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"

#include "mapview/MBTilesSource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
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
const char* const MAP_GROUP = "Map";
const char* const SOURCE_LABEL = "Source :";
const char* const SOURCE_NAMES[] = {"Offline map only", "Online tiles", "MBTiles file"};
const char* const ROAD_LABEL = "Road tiles :";
const char* const SATELLITE_LABEL = "Satellite tiles :";
const char* const ATTRIBUTION_LABEL = "Attribution :";
const char* const FILE_LABEL = "MBTiles file :";
const char* const BROWSE = "Browse...";
const char* const BROWSE_TITLE = "Choose an MBTiles file";
const char* const BROWSE_FILTER = "MBTiles files (*.mbtiles);;All files (*)";
const char* const TEMPLATE_HINT = "https://host/{z}/{x}/{y}.png";
const char* const GROUPING_TEXT = "Group nearby vehicles";
const char* const GROUPING_TIP =
    "Checked: always. Unchecked: never. Partly checked: when more than 50 vehicles are shown.";
const char* const ADMISSION_GROUP = "New vehicles";
const char* const ADMISSION_LABEL = "Take :";
const char* const ADMISSION_NAMES[] = {"New vehicles within the limits", "Known vehicles only"};
const char* const PER_MINUTE_LABEL = "Per sender :";
const char* const PER_MINUTE_UNIT = "new vehicles a minute";
const char* const FLEET_LIMIT_LABEL = "Fleet limit :";
const char* const FLEET_LIMIT_UNIT = "vehicles";
const char* const ADMISSION_TIP =
    "Known vehicles only: a new vehicle id is listed under New vehicles, where you admit or ignore it.";
const char* const RULES_GROUP = "Watch rules";
const char* const SILENT_LABEL = "Silent after :";
const char* const SILENT_UNIT = "minutes without a message (0 never)";
const char* const SPEED_LIMIT_LABEL = "Speed limit :";
const char* const SPEED_LIMIT_UNIT = "km/h (0 none; a zone may have its own)";
const char* const SPEEDING_LABEL = "Speeding after :";
const char* const SPEEDING_UNIT = "seconds above the limit";
// Digits only, in every locale: a locale-aware validator would let group
// separators through.
const char* const DIGITS = "[0-9]*";
const char* const NO_PORT_TIP = "A control-room desk opens no callback port: the receiver takes the devices' messages.";

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

SetupDlg::SetupDlg(QWidget* owner) : SetupDlg(owner, nullptr) {}

SetupDlg::SetupDlg(QWidget* owner, ISharedSettings* shared) : QDialog(owner), m_owner(owner), m_shared(shared) {
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
    grid->addWidget(createMapGroup(), 2, 0, 1, 3);
    grid->addWidget(createAdmissionGroup(), 3, 0, 1, 3);
    grid->addWidget(createRulesGroup(), 4, 0, 1, 3);
    grid->addWidget(createAlarmGroup(), 0, 3, 7, 1);
    m_store = new StoreSettingsGroup(StoreChoice::load(Setup::getInstance()), shared != nullptr, this);
    grid->addWidget(m_store, 5, 0, 1, 3);
    grid->addWidget(buttons, 6, 0, 1, 3);
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

    m_map = MapSettings::load(setup);
    m_mapSource->setCurrentIndex(m_map.source);
    m_roadTiles->setText(m_map.roadTiles);
    m_roadAttribution->setText(m_map.roadAttribution);
    m_satelliteTiles->setText(m_map.satelliteTiles);
    m_satelliteAttribution->setText(m_map.satelliteAttribution);
    m_mbtilesFile->setText(m_map.mbtilesFile);
    m_grouping->setCheckState(m_map.grouping == MapSettings::GROUP_ON    ? Qt::Checked
                              : m_map.grouping == MapSettings::GROUP_OFF ? Qt::Unchecked
                                                                         : Qt::PartiallyChecked);
    onSourceChanged();
    showFileInfo();

    if (m_shared != nullptr) {
        m_portField->setEnabled(false);
        m_portField->setToolTip(QString::fromLatin1(NO_PORT_TIP));
    }
    m_admission = m_shared != nullptr ? m_shared->getAdmission() : AdmissionSettings::load(setup);
    m_admissionMode->setCurrentIndex(m_admission.mode);
    m_newPerMinute->setText(QString::number(m_admission.newPerMinute));
    m_fleetLimit->setText(QString::number(m_admission.fleetLimit));

    m_alarms = m_shared != nullptr ? m_shared->getPriorities() : AlarmSettings::load(setup);
    for (const auto& [kind, box] : m_alarmPriority) {
        const auto found = m_alarms.find(kind);
        box->setCurrentIndex(found == m_alarms.end() ? 0 : found->second);
    }

    m_rules = m_shared != nullptr ? m_shared->getRules() : RuleSettings::load(setup);
    m_silentMinutes->setText(QString::number(m_rules.silentMinutes));
    m_speedLimit->setText(QString::number(m_rules.speedLimitKmh));
    m_speedingSeconds->setText(QString::number(m_rules.speedingSeconds));
}

QGroupBox* SetupDlg::createRulesGroup() {
    auto* group = new QGroupBox(QString::fromLatin1(RULES_GROUP), this);
    auto* grid = new QGridLayout(group);
    m_silentMinutes = digitField(group, "silentMinutesField");
    m_speedLimit = digitField(group, "speedLimitField");
    m_speedingSeconds = digitField(group, "speedingSecondsField");
    const struct {
        const char* label;
        QLineEdit* field;
        const char* unit;
    } rows[] = {{SILENT_LABEL, m_silentMinutes, SILENT_UNIT},
                {SPEED_LIMIT_LABEL, m_speedLimit, SPEED_LIMIT_UNIT},
                {SPEEDING_LABEL, m_speedingSeconds, SPEEDING_UNIT}};
    int row = 0;
    for (const auto& line : rows) {
        grid->addWidget(label(group, line.label, Qt::AlignRight), row, 0);
        grid->addWidget(line.field, row, 1);
        grid->addWidget(label(group, line.unit, Qt::AlignLeft), row++, 2);
    }
    return group;
}

WatchSettings SetupDlg::enteredRules() const {
    WatchSettings settings;
    settings.silentMinutes = readField(m_silentMinutes);
    settings.speedLimitKmh = readField(m_speedLimit);
    settings.speedingSeconds = readField(m_speedingSeconds);
    return settings;
}

QGroupBox* SetupDlg::createAlarmGroup() {
    auto* group = new QGroupBox(QStringLiteral("Alarms"), this);
    auto* grid = new QGridLayout(group);
    auto* help = new QLabel(QStringLiteral("Events that must be acknowledged, by priority (1 the most urgent)."), group);
    help->setWordWrap(true);
    grid->addWidget(help, 0, 0, 1, 2);
    int row = 1;
    for (const int32_t kind : AlarmKinds::all()) {
        auto* box = new QComboBox(group);
        box->setObjectName(QStringLiteral("alarmPriority%1").arg(kind));
        box->addItems({QStringLiteral("Plain event"), QStringLiteral("Priority 1"), QStringLiteral("Priority 2"),
                       QStringLiteral("Priority 3")});
        m_alarmPriority[kind] = box;
        grid->addWidget(new QLabel(QString::fromUtf16(AlarmKinds::wideName(kind)), group), row, 0);
        grid->addWidget(box, row++, 1);
    }
    return group;
}

AlarmBook::Priorities SetupDlg::enteredAlarms() const {
    AlarmBook::Priorities priorities;
    for (const auto& [kind, box] : m_alarmPriority) {
        if (box->currentIndex() > 0) {
            priorities[kind] = box->currentIndex();
        }
    }
    return priorities;
}

QGroupBox* SetupDlg::createAdmissionGroup() {
    auto* group = new QGroupBox(QString::fromLatin1(ADMISSION_GROUP), this);
    auto* grid = new QGridLayout(group);
    m_admissionMode = new QComboBox(group);
    m_admissionMode->setObjectName(QStringLiteral("admissionMode"));
    for (const char* name : ADMISSION_NAMES) {
        m_admissionMode->addItem(QString::fromLatin1(name));
    }
    m_admissionMode->setToolTip(QString::fromLatin1(ADMISSION_TIP));
    m_newPerMinute = digitField(group, "newPerMinuteField");
    m_fleetLimit = digitField(group, "fleetLimitField");
    grid->addWidget(label(group, ADMISSION_LABEL, Qt::AlignRight), 0, 0);
    grid->addWidget(m_admissionMode, 0, 1, 1, 2);
    grid->addWidget(label(group, PER_MINUTE_LABEL, Qt::AlignRight), 1, 0);
    grid->addWidget(m_newPerMinute, 1, 1);
    grid->addWidget(label(group, PER_MINUTE_UNIT, Qt::AlignLeft), 1, 2);
    grid->addWidget(label(group, FLEET_LIMIT_LABEL, Qt::AlignRight), 2, 0);
    grid->addWidget(m_fleetLimit, 2, 1);
    grid->addWidget(label(group, FLEET_LIMIT_UNIT, Qt::AlignLeft), 2, 2);
    return group;
}

VehicleAdmission::Rules SetupDlg::enteredAdmission() const {
    VehicleAdmission::Rules rules;
    rules.mode = m_admissionMode->currentIndex() == VehicleAdmission::KNOWN_ONLY ? VehicleAdmission::KNOWN_ONLY
                                                                                 : VehicleAdmission::OPEN;
    rules.newPerMinute = readField(m_newPerMinute);
    rules.fleetLimit = readField(m_fleetLimit);
    return rules;
}

bool SetupDlg::storeAdmission(const VehicleAdmission::Rules& rules) {
    return storeTogether([&rules](SetupDatabase& database) { AdmissionSettings::store(database, rules); });
}

QGroupBox* SetupDlg::createMapGroup() {
    auto* group = new QGroupBox(QString::fromLatin1(MAP_GROUP), this);
    auto* grid = new QGridLayout(group);
    m_mapSource = new QComboBox(group);
    m_mapSource->setObjectName(QStringLiteral("mapSource"));
    for (const char* name : SOURCE_NAMES) {
        m_mapSource->addItem(QString::fromLatin1(name));
    }
    auto textField = [group](const char* name, const char* hint) {
        auto* field = new QLineEdit(group);
        field->setObjectName(QString::fromLatin1(name));
        field->setMinimumWidth(320);
        if (hint != nullptr) {
            field->setPlaceholderText(QString::fromLatin1(hint));
        }
        return field;
    };
    m_roadTiles = textField("roadTilesField", TEMPLATE_HINT);
    m_roadAttribution = textField("roadAttributionField", nullptr);
    m_satelliteTiles = textField("satelliteTilesField", TEMPLATE_HINT);
    m_satelliteAttribution = textField("satelliteAttributionField", nullptr);
    m_mbtilesFile = textField("mbtilesFileField", nullptr);
    m_browse = new QPushButton(QString::fromLatin1(BROWSE), group);
    m_browse->setObjectName(QStringLiteral("browseButton"));
    m_mbtilesInfo = new QLabel(group);
    m_mbtilesInfo->setObjectName(QStringLiteral("mbtilesInfo"));
    m_mbtilesInfo->setWordWrap(true);
    m_mbtilesInfo->setTextFormat(Qt::PlainText); // the file's texts are data
    m_grouping = new QCheckBox(QString::fromLatin1(GROUPING_TEXT), group);
    m_grouping->setObjectName(QStringLiteral("groupingBox"));
    m_grouping->setTristate(true);
    m_grouping->setToolTip(QString::fromLatin1(GROUPING_TIP));

    int row = 0;
    grid->addWidget(label(group, SOURCE_LABEL, Qt::AlignRight), row, 0);
    grid->addWidget(m_mapSource, row++, 1, 1, 2);
    grid->addWidget(label(group, ROAD_LABEL, Qt::AlignRight), row, 0);
    grid->addWidget(m_roadTiles, row++, 1, 1, 2);
    grid->addWidget(label(group, ATTRIBUTION_LABEL, Qt::AlignRight), row, 0);
    grid->addWidget(m_roadAttribution, row++, 1, 1, 2);
    grid->addWidget(label(group, SATELLITE_LABEL, Qt::AlignRight), row, 0);
    grid->addWidget(m_satelliteTiles, row++, 1, 1, 2);
    grid->addWidget(label(group, ATTRIBUTION_LABEL, Qt::AlignRight), row, 0);
    grid->addWidget(m_satelliteAttribution, row++, 1, 1, 2);
    grid->addWidget(label(group, FILE_LABEL, Qt::AlignRight), row, 0);
    grid->addWidget(m_mbtilesFile, row, 1);
    grid->addWidget(m_browse, row++, 2);
    grid->addWidget(m_mbtilesInfo, row++, 1, 1, 2);
    grid->addWidget(m_grouping, row++, 0, 1, 3);

    connect(m_mapSource, &QComboBox::currentIndexChanged, this, &SetupDlg::onSourceChanged);
    connect(m_browse, &QPushButton::clicked, this, &SetupDlg::onBrowse);
    // Checked as typed: opening a file read-only costs little.
    connect(m_mbtilesFile, &QLineEdit::textChanged, this, &SetupDlg::showFileInfo);
    return group;
}

void SetupDlg::onSourceChanged() {
    const int source = m_mapSource->currentIndex();
    for (QLineEdit* field : {m_roadTiles, m_roadAttribution, m_satelliteTiles, m_satelliteAttribution}) {
        field->setEnabled(source == MapSettings::ONLINE);
    }
    m_mbtilesFile->setEnabled(source == MapSettings::MBTILES);
    m_browse->setEnabled(source == MapSettings::MBTILES);
    m_mbtilesInfo->setEnabled(source == MapSettings::MBTILES);
}

void SetupDlg::onBrowse() {
    // Qt's own dialog, as for the vehicle images: the same everywhere.
    QFileDialog dialog(this, QString::fromLatin1(BROWSE_TITLE), QFileInfo(m_mbtilesFile->text()).path(),
                       QString::fromLatin1(BROWSE_FILTER));
    dialog.setObjectName(QStringLiteral("mbtilesFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        m_mbtilesFile->setText(dialog.selectedFiles().constFirst());
        showFileInfo();
    }
}

void SetupDlg::showFileInfo() {
    const QString path = m_mbtilesFile->text();
    if (path.isEmpty()) {
        m_mbtilesInfo->setText(QString());
        return;
    }
    MBTilesSource file;
    const QString problem = file.open(path);
    if (!problem.isEmpty()) {
        m_mbtilesInfo->setText(problem);
        return;
    }
    const MBTilesSource::Metadata& metadata = file.getMetadata();
    // QString::number writes C-locale numbers.
    QString info = QStringLiteral("%1, zoom %2 to %3")
                       .arg(metadata.name.isEmpty() ? QFileInfo(path).fileName() : metadata.name)
                       .arg(metadata.minZoom)
                       .arg(metadata.maxZoom);
    if (metadata.hasBounds) {
        info += QStringLiteral(", bounds %1, %2 to %3, %4")
                    .arg(QString::number(metadata.west, 'f', 4), QString::number(metadata.south, 'f', 4),
                         QString::number(metadata.east, 'f', 4), QString::number(metadata.north, 'f', 4));
    }
    if (!metadata.attribution.isEmpty()) {
        info += QStringLiteral("\n") + metadata.attribution;
    }
    m_mbtilesInfo->setText(info);
}

MapSettings SetupDlg::enteredMap() const {
    MapSettings settings;
    settings.source = m_mapSource->currentIndex();
    settings.roadTiles = m_roadTiles->text().trimmed();
    settings.roadAttribution = m_roadAttribution->text();
    settings.satelliteTiles = m_satelliteTiles->text().trimmed();
    settings.satelliteAttribution = m_satelliteAttribution->text();
    settings.mbtilesFile = m_mbtilesFile->text();
    settings.grouping = m_grouping->checkState() == Qt::Checked     ? MapSettings::GROUP_ON
                        : m_grouping->checkState() == Qt::Unchecked ? MapSettings::GROUP_OFF
                                                                    : MapSettings::GROUP_AUTO;
    return settings;
}

bool SetupDlg::storeMap(const MapSettings& settings) {
    return storeTogether([&settings](SetupDatabase& database) { settings.store(database); });
}

int32_t SetupDlg::readField(const QLineEdit* field) {
    bool ok = false;
    // QString::toInt reads C-locale digits only; overflow reads as 0 too.
    const int value = field->text().toInt(&ok, 10);
    return ok ? value : 0;
}

bool SetupDlg::store(const char* key, int32_t value) {
    return storeTogether([key, value](SetupDatabase& database) { database.setInt(key, value); });
}

bool SetupDlg::storeTogether(const std::function<void(SetupDatabase&)>& write) {
    Setup& setup = Setup::getInstance();
    ScopedLock lock(setup.getLock());
    SetupDatabase& database = setup.getDatabase();
    try {
        database.begin();
        write(database);
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
    if (port != m_port && m_shared == nullptr) {
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
    const MapSettings map = enteredMap();
    if (!(map == m_map)) {
        const QString problem = map.check();
        if (!problem.isEmpty()) {
            MessageBox::error(this, problem);
            return;
        }
        if (!storeMap(map)) {
            return;
        }
        m_map = map;
        if (m_owner != nullptr) {
            WindowMessage::post(m_owner, WindowMessage::UWM_MAP_CHANGED);
        }
    }
    const VehicleAdmission::Rules admission = enteredAdmission();
    const AlarmBook::Priorities alarms = enteredAlarms();
    const WatchSettings rules = enteredRules();
    if (m_shared != nullptr && (!(admission == m_admission) || alarms != m_alarms || !(rules == m_rules))) {
        // Every desk's: one transaction in the store, which the desks and
        // the receiver follow.
        QString problem = AdmissionSettings::check(admission);
        if (problem.isEmpty()) {
            problem = RuleSettings::check(rules);
        }
        if (!problem.isEmpty()) {
            MessageBox::error(this, problem);
            return;
        }
        QString refused;
        if (!m_shared->store(admission, alarms, rules, refused)) {
            MessageBox::error(this, QString::fromLatin1(STORE_FAILED).arg(refused));
            return;
        }
        m_admission = admission;
        m_alarms = alarms;
        m_rules = rules;
    }
    if (m_store->isChanged()) {
        const QString problem = m_store->check();
        if (!problem.isEmpty()) {
            MessageBox::error(this, problem);
            return;
        }
        const StoreChoice choice = m_store->entered();
        if (!storeTogether([&choice](SetupDatabase& database) { choice.store(database); })) {
            return;
        }
    }
    if (!(admission == m_admission)) {
        const QString problem = AdmissionSettings::check(admission);
        if (!problem.isEmpty()) {
            MessageBox::error(this, problem);
            return;
        }
        if (!storeAdmission(admission)) {
            return;
        }
        m_admission = admission;
        if (m_owner != nullptr) {
            WindowMessage::post(m_owner, WindowMessage::UWM_ADMISSION_CHANGED);
        }
    }
    const bool rulesChanged = !(rules == m_rules);
    if (rulesChanged) {
        const QString problem = RuleSettings::check(rules);
        if (!problem.isEmpty()) {
            MessageBox::error(this, problem);
            return;
        }
    }
    const bool alarmsChanged = alarms != m_alarms;
    if (alarmsChanged || rulesChanged) {
        if (!storeTogether([&](SetupDatabase& database) {
                if (alarmsChanged) {
                    AlarmSettings::store(database, alarms);
                }
                if (rulesChanged) {
                    RuleSettings::store(database, rules);
                }
            })) {
            return;
        }
        m_alarms = alarms;
        m_rules = rules;
        if (m_owner != nullptr) {
            WindowMessage::post(m_owner, WindowMessage::UWM_ALARMS_CHANGED);
        }
    }
    accept();
}

} // namespace velmora
