#include "app/alarms/AlarmPanel.h"

#include "app/alarms/AlarmBell.h"
#include "app/alarms/AlarmReport.h"
#include "app/hub/IPageRunner.h"
#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"
#include "mapview/MapCommands.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace velmora {

namespace {

enum Column { PRIORITY, VEHICLE, KIND, TITLE, RECEIVED, AGE, STATE, COLUMN_COUNT };

const char* const HEADERS[COLUMN_COUNT] = {"P", "Vehicle", "Kind", "Device title", "Received", "Age", "State"};

QString age(std::time_t since, std::time_t now) {
    const long long seconds = now > since ? static_cast<long long>(now - since) : 0;
    if (seconds < 3600) {
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1h %2m").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

QString stateText(const Alarm& alarm) {
    QString state = alarm.isAcknowledged() ? QStringLiteral("Acknowledged") : QStringLiteral("New");
    if (alarm.repeats > 0) {
        state += QStringLiteral(" · %1×").arg(alarm.repeats + 1);
    }
    return state;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

AlarmPanel::AlarmPanel(IPageRunner& page, QWidget* parent)
    : QWidget(parent), m_page(page), m_bell(new AlarmBell(this)) {
    setObjectName(QStringLiteral("alarmPanel"));
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);

    auto* header = new QHBoxLayout;
    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    QFont bold = m_title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    m_title->setFont(bold);
    m_mute = new QPushButton(this);
    m_mute->setObjectName(QStringLiteral("alarmMute"));
    auto* report = new QPushButton(QStringLiteral("Report..."), this);
    report->setObjectName(QStringLiteral("alarmReport"));
    header->addWidget(m_title, 1);
    header->addWidget(m_mute);
    header->addWidget(report);
    layout->addLayout(header);

    m_table = new QTableWidget(0, COLUMN_COUNT, this);
    m_table->setObjectName(QStringLiteral("alarmTable"));
    QStringList headers;
    for (const char* text : HEADERS) {
        headers << QString::fromLatin1(text);
    }
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Fixed widths: measuring thousands of rows on every change would cost
    // more than the queue is worth; the state takes what is left.
    // A header is never cut, whatever the desktop's font.
    // The kind column holds the watch rules' names whole: "Zone Entry" and
    // "Zone Exit" cut to "Zone E..." would read the same.
    const int widths[COLUMN_COUNT - 1] = {22, 98, 80, 60, 68, 42};
    const QFontMetrics headerFont(m_table->horizontalHeader()->font());
    for (int column = 0; column < COLUMN_COUNT - 1; ++column) {
        m_table->setColumnWidth(column,
            std::max(widths[column], headerFont.horizontalAdvance(headers[column]) + 14));
    }
    layout->addWidget(m_table, 3);

    auto* steps = new QHBoxLayout;
    m_acknowledge = new QPushButton(QStringLiteral("Acknowledge"), this);
    m_acknowledge->setObjectName(QStringLiteral("alarmAcknowledge"));
    m_show = new QPushButton(QStringLiteral("Show on map"), this);
    m_show->setObjectName(QStringLiteral("alarmShow"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("alarmClose"));
    m_track = new QPushButton(QStringLiteral("Track"), this);
    m_track->setObjectName(QStringLiteral("alarmTrack"));
    m_track->setToolTip(QStringLiteral("The vehicle's track from 10 minutes before to 10 minutes after the alarm"));
    steps->addWidget(m_acknowledge);
    steps->addWidget(m_show);
    steps->addWidget(m_track);
    steps->addWidget(m_close);
    layout->addLayout(steps);

    auto* noteRow = new QHBoxLayout;
    m_noteEdit = new QLineEdit(this);
    m_noteEdit->setObjectName(QStringLiteral("alarmNote"));
    m_noteEdit->setPlaceholderText(QStringLiteral("Note on the selected alarm"));
    m_noteEdit->setMaxLength(static_cast<int>(AlarmBook::NOTE_MAX));
    m_addNote = new QPushButton(QStringLiteral("Add note"), this);
    m_addNote->setObjectName(QStringLiteral("alarmAddNote"));
    noteRow->addWidget(m_noteEdit, 1);
    noteRow->addWidget(m_addNote);
    layout->addLayout(noteRow);

    m_notes = new QPlainTextEdit(this);
    m_notes->setObjectName(QStringLiteral("alarmNotes"));
    m_notes->setReadOnly(true);
    m_notes->setPlaceholderText(QStringLiteral("No notes"));
    layout->addWidget(m_notes, 1);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("alarmMessage"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(m_message);

    connect(m_acknowledge, &QPushButton::clicked, this, [this] { acknowledge(selectedId()); });
    connect(m_show, &QPushButton::clicked, this, [this] { showOnMap(selectedId()); });
    connect(m_close, &QPushButton::clicked, this, [this] { close(selectedId()); });
    connect(m_track, &QPushButton::clicked, this, [this] {
        if (const int32_t id = selectedId(); m_book.find(id) != nullptr) {
            emit trackRequested(id);
        }
    });
    connect(m_addNote, &QPushButton::clicked, this, [this] {
        if (addNote(selectedId(), m_noteEdit->text())) {
            m_noteEdit->clear();
        }
    });
    connect(m_noteEdit, &QLineEdit::returnPressed, m_addNote, &QPushButton::click);
    connect(m_mute, &QPushButton::clicked, this, [this] {
        if (m_bell->isMuted()) {
            m_bell->unmute();
        } else {
            m_bell->mute();
        }
        updateButtons();
    });
    connect(report, &QPushButton::clicked, this, &AlarmPanel::reportRequested);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &AlarmPanel::onSelectionChanged);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this] { showOnMap(selectedId()); });
    m_redraw = new QTimer(this);
    m_redraw->setSingleShot(true);
    connect(m_redraw, &QTimer::timeout, this, &AlarmPanel::rebuild);
    rebuild();
}

AlarmPanel::~AlarmPanel() = default;

std::string AlarmPanel::userName() {
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr) {
        return entry->pw_name;
    }
    const char* user = std::getenv("USER");
    return user != nullptr && *user != '\0' ? user : "unknown";
}

void AlarmPanel::setPriorities(const AlarmBook::Priorities& priorities) { m_book.setPriorities(priorities); }

void AlarmPanel::restore() {
    DBManager& database = DBManager::getInstance();
    if (!database.isOpen()) {
        return;
    }
    std::vector<AlarmRecord> open;
    try {
        const int32_t lastId = database.lastAlarmId();
        database.loadAlarms("closed IS NULL", open);
        const AlarmBook::Priorities priorities = m_book.getPriorities();
        m_book = AlarmBook(lastId);
        m_book.setPriorities(priorities);
    } catch (const DatabaseException& e) {
        traceException(e);
        return;
    }
    for (const AlarmRecord& record : open) {
        const Alarm alarm = record.toAlarm();
        if (m_book.restore(alarm)) {
            updateBlink(alarm.vehicle);
        } else {
            trace("AlarmPanel: stored alarm %d not restored", record.id);
        }
    }
    trace("AlarmPanel: %zu open alarms restored", m_book.openCount());
    rebuild();
    updateBell();
}

void AlarmPanel::onEvent(const CallbackInfo& event) {
    const Alarm* alarm = nullptr;
    const AlarmBook::Result result =
        m_book.raise(event.getVehicleID(), event.getVehicleName(), event.getEventType(), event.getDeviceTitle(),
                     event.getAddress(), m_now(), &alarm);
    took(result, alarm);
}

const Alarm* AlarmPanel::onRule(const AlarmRequest& request, const std::string& vehicleName) {
    const Alarm* alarm = nullptr;
    if (request.step == AlarmRequest::NOTE) {
        // A closed alarm takes no more notes: the rule's news is dropped.
        if (m_book.noteRule(request, &alarm) != AlarmBook::Result::Done) {
            return nullptr;
        }
        store(*alarm, AbstractDatabaseRecord::OPERATION_UPDATE);
        if (alarm->id == selectedId()) {
            onSelectionChanged();
        }
        return alarm;
    }
    const AlarmBook::Result result = m_book.raiseRule(request, vehicleName, &alarm);
    return took(result, alarm) ? alarm : nullptr;
}

bool AlarmPanel::took(AlarmBook::Result result, const Alarm* alarm) {
    switch (result) {
    case AlarmBook::Result::Raised: {
        store(*alarm, AbstractDatabaseRecord::OPERATION_INSERT);
        updateBlink(alarm->vehicle);
        rebuildSoon();
        m_bell->ring();
        updateBell();
        emit alarmRaised();
        return true;
    }
    case AlarmBook::Result::Repeated:
        m_repeated.insert(alarm->id);
        return true;
    case AlarmBook::Result::Full:
        trace("AlarmPanel: %zu alarms open, a new one is not taken", m_book.openCount());
        say(QStringLiteral("%1 alarms are open: close some so new ones can be shown.").arg(m_book.openCount()));
        return false;
    default:
        return false;
    }
}

void AlarmPanel::pageLoaded() {
    for (const UniqueID& vehicle : m_blinking) {
        m_page.execute(MapCommands::setAlarm(vehicle.toText(), true));
    }
}

void AlarmPanel::tick() {
    const bool repeats = !m_repeated.empty();
    flush();
    if (repeats) {
        rebuild();
    } else {
        updateAges();
    }
    updateButtons();
}

bool AlarmPanel::acknowledge(int32_t id) {
    const AlarmBook::Result result = m_book.acknowledge(id, userName(), m_now());
    if (result == AlarmBook::Result::AlreadyDone) {
        say(QStringLiteral("This alarm was acknowledged already."));
        return false;
    }
    if (result != AlarmBook::Result::Done) {
        say(QStringLiteral("Select an open alarm first."));
        return false;
    }
    const Alarm* alarm = m_book.find(id);
    store(*alarm, AbstractDatabaseRecord::OPERATION_UPDATE);
    updateBlink(alarm->vehicle);
    updateBell();
    say(QString());
    rebuild();
    return true;
}

bool AlarmPanel::addNote(int32_t id, const QString& text) {
    const AlarmBook::Result result = m_book.addNote(id, userName(), text.toStdString(), m_now());
    if (result == AlarmBook::Result::EmptyNote) {
        say(QStringLiteral("Type the note first."));
        return false;
    }
    if (result == AlarmBook::Result::Full) {
        say(QStringLiteral("This alarm has no room for more notes."));
        return false;
    }
    if (result != AlarmBook::Result::Done) {
        say(QStringLiteral("Select an open alarm first."));
        return false;
    }
    store(*m_book.find(id), AbstractDatabaseRecord::OPERATION_UPDATE);
    say(QString());
    onSelectionChanged();
    return true;
}

bool AlarmPanel::close(int32_t id) {
    if (m_book.find(id) == nullptr) {
        say(QStringLiteral("Select an open alarm first."));
        return false;
    }
    // A note typed and not yet added goes with the close.
    if (!m_noteEdit->text().trimmed().isEmpty()) {
        if (!addNote(id, m_noteEdit->text())) {
            return false;
        }
        m_noteEdit->clear();
    }
    Alarm closed;
    const AlarmBook::Result result = m_book.close(id, userName(), m_now(), &closed);
    if (result == AlarmBook::Result::NeedsNote) {
        say(QStringLiteral("A priority 1 alarm closes only with a note: type what was done, then Close."));
        m_noteEdit->setFocus();
        return false;
    }
    store(closed, AbstractDatabaseRecord::OPERATION_UPDATE);
    m_repeated.erase(id);
    updateBlink(closed.vehicle);
    updateBell();
    say(QString());
    rebuild();
    return true;
}

void AlarmPanel::showOnMap(int32_t id) {
    if (const Alarm* alarm = m_book.find(id)) {
        m_page.execute(MapCommands::showAlarmVehicle(alarm->vehicle.toText()));
    }
}

int32_t AlarmPanel::selectedId() const {
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    return items.isEmpty() ? 0 : m_table->item(items.first()->row(), PRIORITY)->data(Qt::UserRole).toInt();
}

void AlarmPanel::select(int32_t id) {
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, PRIORITY)->data(Qt::UserRole).toInt() == id) {
            m_table->selectRow(row);
            return;
        }
    }
}

QString AlarmPanel::getMessage() const { return m_message->text(); }

void AlarmPanel::say(const QString& text) { m_message->setText(text); }

void AlarmPanel::rebuildSoon() {
    if (m_redraw->isActive()) {
        return;
    }
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : REDRAW_MS;
    if (since >= REDRAW_MS) {
        rebuild();
    } else {
        m_redraw->start(static_cast<int>(REDRAW_MS - since));
    }
}

void AlarmPanel::rebuild() {
    m_redraw->stop();
    m_sinceRedraw.start();
    const int32_t selected = selectedId();
    const std::vector<const Alarm*> alarms = m_book.ordered();
    const std::time_t now = m_now();
    m_table->setUpdatesEnabled(false);
    const QSignalBlocker quiet(m_table);
    m_table->setRowCount(static_cast<int>(alarms.size()));
    for (int row = 0; row < static_cast<int>(alarms.size()); ++row) {
        const Alarm& alarm = *alarms[row];
        QTableWidgetItem* priority = cell(QString::number(alarm.priority));
        priority->setData(Qt::UserRole, alarm.id);
        m_table->setItem(row, PRIORITY, priority);
        m_table->setItem(row, VEHICLE, cell(QString::fromStdString(alarm.vehicleName)));
        m_table->setItem(row, KIND, cell(AlarmReport::kindName(alarm.kind)));
        m_table->setItem(row, TITLE, cell(QString::fromStdString(alarm.deviceTitle)));
        const QDateTime received = QDateTime::fromSecsSinceEpoch(alarm.received).toLocalTime();
        QTableWidgetItem* at = cell(received.toString(QStringLiteral("HH:mm:ss")));
        at->setToolTip(received.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        m_table->setItem(row, RECEIVED, at);
        m_table->setItem(row, AGE, cell(age(alarm.received, now)));
        m_table->setItem(row, STATE, cell(stateText(alarm)));
        // Unacknowledged rows stand out, the most urgent the most.
        if (!alarm.isAcknowledged()) {
            const QColor background = alarm.priority == 1 ? QColor(0xff, 0xcd, 0xd2) : QColor(0xff, 0xec, 0xb3);
            for (int column = 0; column < COLUMN_COUNT; ++column) {
                m_table->item(row, column)->setBackground(background);
            }
        }
    }
    m_table->setUpdatesEnabled(true);
    // With nothing chosen, the most urgent alarm is: one click acknowledges.
    if (selected != 0 && m_book.find(selected) != nullptr) {
        select(selected);
    } else if (!alarms.empty()) {
        select(alarms.front()->id);
    }
    const int count = static_cast<int>(alarms.size());
    m_title->setText(count == 1 ? QStringLiteral("1 open alarm") : QStringLiteral("%1 open alarms").arg(count));
    onSelectionChanged();
    if (count != m_shownCount) {
        m_shownCount = count;
        emit openCountChanged(count);
    }
    emit redrawn();
}

void AlarmPanel::updateAges() {
    const std::time_t now = m_now();
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const Alarm* alarm = m_book.find(m_table->item(row, PRIORITY)->data(Qt::UserRole).toInt());
        if (alarm != nullptr) {
            m_table->item(row, AGE)->setText(age(alarm->received, now));
        }
    }
}

void AlarmPanel::onSelectionChanged() {
    const Alarm* alarm = m_book.find(selectedId());
    m_notes->setPlainText(alarm != nullptr ? QString::fromStdString(alarm->notes) : QString());
    updateButtons();
}

void AlarmPanel::updateButtons() {
    const Alarm* alarm = m_book.find(selectedId());
    m_acknowledge->setEnabled(alarm != nullptr && !alarm->isAcknowledged());
    m_show->setEnabled(alarm != nullptr);
    m_close->setEnabled(alarm != nullptr);
    m_track->setEnabled(alarm != nullptr);
    m_addNote->setEnabled(alarm != nullptr);
    if (m_bell->isMuted()) {
        m_mute->setText(QStringLiteral("Muted to %1 · Sound on")
                            .arg(m_bell->getMutedUntil().toLocalTime().toString(QStringLiteral("HH:mm"))));
    } else {
        m_mute->setText(QStringLiteral("Mute %1 min").arg(AlarmBell::MUTE_SECONDS / 60));
    }
}

void AlarmPanel::updateBell() { m_bell->setRepeating(m_book.hasUnacknowledged(1)); }

void AlarmPanel::updateBlink(const UniqueID& vehicle) {
    const bool blink = m_book.vehicleUnacknowledged(vehicle);
    if (blink == (m_blinking.count(vehicle) != 0)) {
        return;
    }
    if (blink) {
        m_blinking.insert(vehicle);
    } else {
        m_blinking.erase(vehicle);
    }
    m_page.execute(MapCommands::setAlarm(vehicle.toText(), blink));
}

void AlarmPanel::store(const Alarm& alarm, AbstractDatabaseRecord::Operation operation) {
    if (!DBManager::getInstance().isOpen()) {
        return;
    }
    AlarmRecord record = AlarmRecord::of(alarm);
    record.setOperation(operation);
    // Behind changes still waiting, so the row is made before it changes.
    if (m_unsaved.empty() && DBManager::getInstance().enqueue(record)) {
        return;
    }
    if (m_unsaved.size() >= UNSAVED_MAX) {
        trace("AlarmPanel: %zu alarm changes wait for the database; the oldest is given up", m_unsaved.size());
        m_unsaved.pop_front();
    }
    m_unsaved.push_back(record);
}

void AlarmPanel::flush() {
    for (int32_t id : m_repeated) {
        if (const Alarm* alarm = m_book.find(id)) {
            store(*alarm, AbstractDatabaseRecord::OPERATION_UPDATE);
        }
    }
    m_repeated.clear();
    DBManager& database = DBManager::getInstance();
    while (!m_unsaved.empty() && database.isOpen() && database.enqueue(m_unsaved.front())) {
        m_unsaved.pop_front();
    }
}

} // namespace velmora
