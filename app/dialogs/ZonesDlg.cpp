#include "app/dialogs/ZonesDlg.h"

#include "app/dialogs/MessageBox.h"
#include "app/hub/IPageRunner.h"
#include "app/hub/WatchHub.h"
#include "mapview/WatchCommands.h"
#include "rules/Zone.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {

const char* const TITLE = "Zones";
enum Column { NAME, SHAPE, ALARM_ON, DWELL, LIMIT, COLUMN_COUNT };
const char* const HEADERS[COLUMN_COUNT] = {"Name", "Shape", "Alarm on", "Dwell (s)", "Speed limit (km/h)"};
const char* const ALARM_NAMES[] = {"Entry", "Exit", "Entry and exit"};
const char* const HELP =
    "Draw a circle: click its centre, then a point on its rim. Draw a polygon: click its corners, double-click the "
    "last one. Esc stops drawing.";
const char* const DWELL_RANGE = "Dwell must be between 0 ~ %1 seconds";
const char* const LIMIT_RANGE = "Speed limit must be between 1 ~ %1 km/h, or blank for none";
const char* const NO_NAME = "Type a name for the zone.";
const char* const SELECT_FIRST = "Select a zone first.";
const char* const DELETE_QUESTION = "Do you want to delete the zone %1?";

QLineEdit* digits(QWidget* parent, const char* name, int length) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    // Digits only, in every locale.
    field->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(length)), field));
    return field;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QPushButton* button(QWidget* parent, const char* text, const char* name) {
    auto* created = new QPushButton(QString::fromLatin1(text), parent);
    created->setObjectName(QString::fromLatin1(name));
    created->setAutoDefault(false);
    return created;
}

} // namespace

ZonesDlg::ZonesDlg(WatchHub& watch, IPageRunner& page, QWidget* parent)
    : QDialog(parent), m_watch(watch), m_page(page) {
    setObjectName(QStringLiteral("zonesDlg"));
    setWindowTitle(QString::fromLatin1(TITLE));
    setModal(false);
    auto* layout = new QVBoxLayout(this);

    auto* draw = new QHBoxLayout;
    QPushButton* circle = button(this, "Draw circle", "zoneDrawCircle");
    QPushButton* polygon = button(this, "Draw polygon", "zoneDrawPolygon");
    draw->addWidget(circle);
    draw->addWidget(polygon);
    draw->addStretch(1);
    layout->addLayout(draw);
    auto* help = new QLabel(QString::fromLatin1(HELP), this);
    help->setWordWrap(true);
    layout->addWidget(help);

    m_table = new QTableWidget(0, COLUMN_COUNT, this);
    m_table->setObjectName(QStringLiteral("zoneTable"));
    QStringList headers;
    for (const char* text : HEADERS) {
        headers << QString::fromLatin1(text);
    }
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(NAME, 180);
    m_table->setMinimumWidth(560);
    layout->addWidget(m_table, 1);

    auto* form = new QGridLayout;
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("zoneName"));
    m_name->setMaxLength(ZONE_NAME_MAX);
    m_alarmOn = new QComboBox(this);
    m_alarmOn->setObjectName(QStringLiteral("zoneAlarmOn"));
    for (const char* name : ALARM_NAMES) {
        m_alarmOn->addItem(QString::fromLatin1(name));
    }
    m_dwell = digits(this, "zoneDwell", 5);
    m_speedLimit = digits(this, "zoneSpeedLimit", 4);
    m_speedLimit->setPlaceholderText(QStringLiteral("none"));
    form->addWidget(new QLabel(QStringLiteral("Name :"), this), 0, 0, Qt::AlignRight);
    form->addWidget(m_name, 0, 1, 1, 3);
    form->addWidget(new QLabel(QStringLiteral("Alarm on :"), this), 1, 0, Qt::AlignRight);
    form->addWidget(m_alarmOn, 1, 1);
    form->addWidget(new QLabel(QStringLiteral("Dwell :"), this), 1, 2, Qt::AlignRight);
    auto* dwellRow = new QHBoxLayout;
    dwellRow->addWidget(m_dwell);
    dwellRow->addWidget(new QLabel(QStringLiteral("seconds inside or outside before it counts"), this));
    form->addLayout(dwellRow, 1, 3);
    form->addWidget(new QLabel(QStringLiteral("Speed limit :"), this), 2, 0, Qt::AlignRight);
    auto* limitRow = new QHBoxLayout;
    limitRow->addWidget(m_speedLimit);
    limitRow->addWidget(new QLabel(QStringLiteral("km/h inside the zone (blank: the Setup window's)"), this));
    form->addLayout(limitRow, 2, 1, 1, 3);
    layout->addLayout(form);

    auto* steps = new QHBoxLayout;
    m_apply = button(this, "Apply", "zoneApply");
    m_editOnMap = button(this, "Edit on map", "zoneEditOnMap");
    m_show = button(this, "Show on map", "zoneShow");
    m_delete = button(this, "Delete", "zoneDelete");
    QPushButton* close = button(this, "Close", "zoneClose");
    steps->addWidget(m_apply);
    steps->addWidget(m_editOnMap);
    steps->addWidget(m_show);
    steps->addWidget(m_delete);
    steps->addStretch(1);
    steps->addWidget(close);
    layout->addLayout(steps);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("zoneMessage"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(m_message);

    connect(circle, &QPushButton::clicked, this, [this] {
        say(QString());
        m_page.execute(WatchCommands::startZoneDrawing(true));
    });
    connect(polygon, &QPushButton::clicked, this, [this] {
        say(QString());
        m_page.execute(WatchCommands::startZoneDrawing(false));
    });
    connect(m_apply, &QPushButton::clicked, this, &ZonesDlg::apply);
    connect(m_name, &QLineEdit::returnPressed, this, &ZonesDlg::apply);
    connect(m_editOnMap, &QPushButton::clicked, this, [this] {
        if (const int32_t id = selectedId(); id != 0) {
            m_page.execute(WatchCommands::editZone(id));
        }
    });
    connect(m_show, &QPushButton::clicked, this, [this] {
        if (const int32_t id = selectedId(); id != 0) {
            m_page.execute(WatchCommands::showZone(id));
        }
    });
    connect(m_delete, &QPushButton::clicked, this, &ZonesDlg::deleteSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &ZonesDlg::showSelected);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this] {
        if (const int32_t id = selectedId(); id != 0) {
            m_page.execute(WatchCommands::showZone(id));
        }
    });
    refresh();
}

QString ZonesDlg::alarmText(const Zone& zone) {
    if (zone.getAlarmOnEntry() && zone.getAlarmOnExit()) {
        return QString::fromLatin1(ALARM_NAMES[ON_BOTH]);
    }
    if (zone.getAlarmOnExit()) {
        return QString::fromLatin1(ALARM_NAMES[ON_EXIT]);
    }
    return zone.getAlarmOnEntry() ? QString::fromLatin1(ALARM_NAMES[ON_ENTRY]) : QStringLiteral("None");
}

void ZonesDlg::refresh() {
    const int32_t selected = selectedId();
    const QSignalBlocker quiet(m_table);
    const auto& zones = m_watch.getZones();
    m_table->setRowCount(static_cast<int>(zones.size()));
    int row = 0;
    for (const auto& [id, zone] : zones) {
        QTableWidgetItem* name = cell(QString::fromStdString(zone.getName()));
        name->setData(Qt::UserRole, id);
        m_table->setItem(row, NAME, name);
        QString shape = zone.getShape() == Zone::CIRCLE
                            ? QStringLiteral("Circle, %1 m").arg(QString::number(zone.getRadius(), 'f', 0))
                            : QStringLiteral("Polygon, %1 corners").arg(zone.getVertices().size());
        m_table->setItem(row, SHAPE, cell(shape));
        m_table->setItem(row, ALARM_ON, cell(alarmText(zone)));
        m_table->setItem(row, DWELL, cell(QString::number(zone.getDwellSeconds())));
        m_table->setItem(row, LIMIT,
                         cell(zone.getSpeedLimitKmh() > 0 ? QString::number(zone.getSpeedLimitKmh()) : QString()));
        ++row;
    }
    const Zone* zone = m_watch.findZone(selected);
    if (selected != 0 && zone != nullptr) {
        selectRow(selected);
        if (zone->getId() == m_shown.getId() && zone->getName() == m_shown.getName() &&
            zone->getAlarmOnEntry() == m_shown.getAlarmOnEntry() &&
            zone->getAlarmOnExit() == m_shown.getAlarmOnExit() &&
            zone->getDwellSeconds() == m_shown.getDwellSeconds() &&
            zone->getSpeedLimitKmh() == m_shown.getSpeedLimitKmh()) {
            return;
        }
    } else {
        m_table->clearSelection();
    }
    showSelected();
}

void ZonesDlg::select(int32_t id) {
    selectRow(id);
    showSelected();
}

void ZonesDlg::selectRow(int32_t id) {
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, NAME)->data(Qt::UserRole).toInt() == id) {
            m_table->selectRow(row);
            m_table->scrollToItem(m_table->item(row, NAME));
            break;
        }
    }
}

int32_t ZonesDlg::selectedId() const {
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    return items.isEmpty() ? 0 : m_table->item(items.first()->row(), NAME)->data(Qt::UserRole).toInt();
}

void ZonesDlg::showSelected() {
    const Zone* zone = m_watch.findZone(selectedId());
    for (QWidget* widget : std::initializer_list<QWidget*>{m_name, m_alarmOn, m_dwell, m_speedLimit, m_apply,
                                                           m_editOnMap, m_show, m_delete}) {
        widget->setEnabled(zone != nullptr);
    }
    m_shown = zone != nullptr ? *zone : Zone();
    if (zone == nullptr) {
        m_name->clear();
        m_dwell->clear();
        m_speedLimit->clear();
        return;
    }
    m_name->setText(QString::fromStdString(zone->getName()));
    m_alarmOn->setCurrentIndex(zone->getAlarmOnEntry() && zone->getAlarmOnExit() ? ON_BOTH
                               : zone->getAlarmOnExit()                           ? ON_EXIT
                                                                                  : ON_ENTRY);
    m_dwell->setText(QString::number(zone->getDwellSeconds()));
    m_speedLimit->setText(zone->getSpeedLimitKmh() > 0 ? QString::number(zone->getSpeedLimitKmh()) : QString());
}

bool ZonesDlg::apply() {
    const Zone* selected = m_watch.findZone(selectedId());
    if (selected == nullptr) {
        say(QString::fromLatin1(SELECT_FIRST));
        return false;
    }
    const QString name = m_name->text().trimmed();
    if (name.isEmpty()) {
        say(QString::fromLatin1(NO_NAME));
        m_name->setFocus();
        return false;
    }
    // QString reads C-locale digits only; the validators let nothing else in.
    bool ok = false;
    const int dwell = m_dwell->text().toInt(&ok, 10);
    if (!ok || dwell < 0 || dwell > Zone::DWELL_MAX) {
        say(QString::fromLatin1(DWELL_RANGE).arg(Zone::DWELL_MAX));
        m_dwell->setFocus();
        return false;
    }
    int limit = 0;
    if (!m_speedLimit->text().isEmpty()) {
        limit = m_speedLimit->text().toInt(&ok, 10);
        if (!ok || limit < 1 || limit > Zone::SPEED_LIMIT_MAX) {
            say(QString::fromLatin1(LIMIT_RANGE).arg(Zone::SPEED_LIMIT_MAX));
            m_speedLimit->setFocus();
            return false;
        }
    }
    Zone zone = *selected;
    zone.setName(name.toStdString());
    zone.setAlarmOnEntry(m_alarmOn->currentIndex() != ON_EXIT);
    zone.setAlarmOnExit(m_alarmOn->currentIndex() != ON_ENTRY);
    zone.setDwellSeconds(dwell);
    zone.setSpeedLimitKmh(limit);
    if (!m_watch.changeZone(zone)) {
        say(QString::fromLatin1(SELECT_FIRST));
        return false;
    }
    say(QString());
    return true;
}

bool ZonesDlg::deleteSelected() {
    const Zone* zone = m_watch.findZone(selectedId());
    if (zone == nullptr) {
        say(QString::fromLatin1(SELECT_FIRST));
        return false;
    }
    const int32_t id = zone->getId();
    if (!MessageBox::question(this, QString::fromLatin1(DELETE_QUESTION).arg(QString::fromStdString(zone->getName())))) {
        return false;
    }
    say(QString());
    return m_watch.removeZone(id);
}

void ZonesDlg::editName() {
    m_name->setFocus();
    m_name->selectAll();
}

QString ZonesDlg::getMessage() const { return m_message->text(); }

void ZonesDlg::say(const QString& text) { m_message->setText(text); }

} // namespace velmora
