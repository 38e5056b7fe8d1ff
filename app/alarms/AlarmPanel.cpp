#include "app/alarms/AlarmPanel.h"

#include "app/alarms/AlarmBell.h"
#include "app/alarms/AlarmBlink.h"
#include "app/alarms/AlarmReport.h"
#include "app/hub/IPageRunner.h"
#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"
#include "intake/VehicleAdmission.h"
#include "mapview/MapCommands.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace velmora {

namespace {

enum Column { PRIORITY, VEHICLE, KIND, TITLE, RECEIVED, AGE, STATE, COLUMN_COUNT };

/// The CPU time the calling thread has used, in microseconds.
int64_t threadCpuUs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

const char* const HEADERS[COLUMN_COUNT] = {"P", "Vehicle", "Kind", "Device title", "Received", "Age", "State"};

QString age(std::time_t since, std::time_t now) {
    const long long seconds = now > since ? static_cast<long long>(now - since) : 0;
    if (seconds < 3600) {
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1h %2m").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

// "Acknowledged by ann on desk-2 at 14:02:11 · 3×": who took it first
// and when, as another desk that tried too must see it.
QString stateText(const Alarm& alarm) {
    QString state = alarm.isAcknowledged() ? QStringLiteral("Acknowledged") : QStringLiteral("New");
    if (alarm.isAcknowledged()) {
        if (!alarm.acknowledgedBy.empty()) {
            state += QStringLiteral(" by %1").arg(QString::fromStdString(alarm.acknowledgedBy));
        }
        state += QStringLiteral(" at ") + AlarmPanel::clockText(alarm.acknowledged);
    }
    // A fold's count is in its text; its repeats are its alarms.
    if (alarm.repeats > 0 && !alarm.isFold()) {
        state += QStringLiteral(" · %1×").arg(alarm.repeats + 1);
    }
    return state;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

// Counts as an operator reads them: "2,000".
QString count(int32_t n) { return QLocale(QLocale::English).toString(n); }

} // namespace

AlarmPanel::AlarmPanel(IPageRunner& page, QWidget* parent)
    : QWidget(parent), m_page(page), m_bell(new AlarmBell(this)), m_blink(new AlarmBlink(page, this)) {
    setObjectName(QStringLiteral("alarmPanel"));
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);

    m_header = new QGridLayout;
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("alarmTitle"));
    m_title->setTextFormat(Qt::PlainText);
    QFont bold = m_title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    m_title->setFont(bold);
    m_mute = new QPushButton(this);
    m_mute->setObjectName(QStringLiteral("alarmMute"));
    m_report = new QPushButton(QStringLiteral("Report..."), this);
    m_report->setObjectName(QStringLiteral("alarmReport"));
    m_header->setColumnStretch(0, 1);
    layout->addLayout(m_header);
    placeHeader();

    m_table = new QTableWidget(0, COLUMN_COUNT, this);
    m_table->setObjectName(QStringLiteral("alarmTable"));
    QStringList headers;
    for (const char* text : HEADERS) {
        headers << QString::fromLatin1(text);
    }
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Wrapped for the folds' text, which is longer than the columns it
    // spans; a one-line row cuts its text with an ellipsis as before.
    m_table->setWordWrap(true);
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
    connect(m_table->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { fitFoldRows(); });

    m_steps = new QGridLayout;
    // Alt+A acknowledges the selected (with none chosen, the most urgent) alarm.
    m_acknowledge = new QPushButton(QStringLiteral("&Acknowledge"), this);
    m_acknowledge->setObjectName(QStringLiteral("alarmAcknowledge"));
    m_show = new QPushButton(QStringLiteral("Show on map"), this);
    m_show->setObjectName(QStringLiteral("alarmShow"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("alarmClose"));
    m_track = new QPushButton(QStringLiteral("Track"), this);
    m_track->setObjectName(QStringLiteral("alarmTrack"));
    m_track->setToolTip(QStringLiteral("The vehicle's track from 10 minutes before to 10 minutes after the alarm"));
    layout->addLayout(m_steps);

    m_senderSteps = new QGridLayout;
    m_selectSender = new QPushButton(QStringLiteral("Select sender"), this);
    m_selectSender->setObjectName(QStringLiteral("alarmSelectSender"));
    m_selectSender->setToolTip(QStringLiteral("Selects every alarm from the address of the current one"));
    m_deleteSender = new QPushButton(QStringLiteral("Delete sender's new vehicles..."), this);
    m_deleteSender->setObjectName(QStringLiteral("alarmDeleteSender"));
    m_deleteSender->setToolTip(
        QStringLiteral("Deletes for good every unreviewed vehicle the current row's sender brought"));
    layout->addLayout(m_senderSteps);
    placeButtons();

    auto* noteRow = new QHBoxLayout;
    m_noteEdit = new QLineEdit(this);
    m_noteEdit->setObjectName(QStringLiteral("alarmNote"));
    m_noteEdit->setPlaceholderText(QStringLiteral("Note on the selected alarms"));
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

    connect(m_acknowledge, &QPushButton::clicked, this, [this] { acknowledge(selectedIds()); });
    connect(m_show, &QPushButton::clicked, this, [this] { showOnMap(selectedId()); });
    connect(m_close, &QPushButton::clicked, this, [this] { close(selectedIds()); });
    connect(m_selectSender, &QPushButton::clicked, this, &AlarmPanel::selectSender);
    connect(m_deleteSender, &QPushButton::clicked, this, [this] {
        if (const Alarm* alarm = m_book.find(selectedId())) {
            emit deleteSenderRequested(QString::fromStdString(alarm->address));
        }
    });
    connect(m_track, &QPushButton::clicked, this, [this] {
        // A fold stands for many vehicles: it has no one track.
        if (const Alarm* alarm = m_book.find(selectedId()); alarm != nullptr && !alarm->isFold()) {
            emit trackRequested(alarm->id);
        }
    });
    connect(m_addNote, &QPushButton::clicked, this, [this] {
        bool added = false;
        for (int32_t id : selectedIds()) {
            added = addNote(id, m_noteEdit->text()) || added;
        }
        if (added) {
            m_noteEdit->clear();
        }
    });
    connect(m_noteEdit, &QLineEdit::returnPressed, m_addNote, &QPushButton::click);
    connect(m_noteEdit, &QLineEdit::textChanged, this, &AlarmPanel::limitNote);
    connect(m_mute, &QPushButton::clicked, this, [this] {
        if (m_bell->isMuted()) {
            m_bell->unmute();
        } else {
            m_bell->mute();
        }
        updateButtons();
    });
    connect(m_report, &QPushButton::clicked, this, &AlarmPanel::reportRequested);
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

QString AlarmPanel::clockText(std::time_t utc) {
    return QDateTime::fromSecsSinceEpoch(utc).toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QString AlarmPanel::foldText(const Alarm& fold) {
    const QString sender = fold.address.empty() ? QStringLiteral("other senders")
                                                : QString::fromStdString(fold.address);
    const QString alarms = fold.foldedAlarms == 1 ? QStringLiteral("1 alarm")
                                                  : QStringLiteral("%1 alarms").arg(count(fold.foldedAlarms));
    if (fold.foldedVehicles == 0) {
        return QStringLiteral("%1 from unreviewed vehicles of %2").arg(alarms, sender);
    }
    const QString vehicles = fold.foldedVehicles == 1
                                 ? QStringLiteral("1 unreviewed vehicle")
                                 : QStringLiteral("%1 unreviewed vehicles").arg(count(fold.foldedVehicles));
    return QStringLiteral("%1 from %2 of %3").arg(alarms, vehicles, sender);
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
    const bool unreviewed = m_admission != nullptr && m_admission->isUnreviewed(event.getVehicleID());
    const AlarmBook::Result result =
        unreviewed ? m_book.raiseUnreviewed(event.getVehicleID(), event.getVehicleName(), event.getEventType(),
                                            event.getDeviceTitle(), event.getAddress(), m_now(), &alarm)
                   : m_book.raise(event.getVehicleID(), event.getVehicleName(), event.getEventType(),
                                  event.getDeviceTitle(), event.getAddress(), m_now(), &alarm);
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
        if (alarm->isFold()) {
            trace("AlarmPanel: alarms of %s fold into alarm %d", alarm->address.c_str(), alarm->id);
        } else {
            trace("AlarmPanel: alarm %d of %s has a row of its own", alarm->id, alarm->vehicle.toText().c_str());
            updateBlink(alarm->vehicle);
        }
        rebuildSoon(!alarm->isFold());
        m_bell->ring();
        updateBell();
        emit alarmRaised();
        return true;
    }
    case AlarmBook::Result::Repeated:
        m_repeated.insert(alarm->id);
        return true;
    case AlarmBook::Result::Folded:
        // Stored and drawn once a tick, as repeats are; a more urgent alarm
        // folding in may have made the fold new again.
        m_repeated.insert(alarm->id);
        updateBell();
        return true;
    case AlarmBook::Result::Full:
        trace("AlarmPanel: %zu alarms open, a new one is not taken", m_book.reviewedCount());
        say(QStringLiteral("%1 alarms are open: close some so new ones can be shown.").arg(m_book.reviewedCount()));
        return false;
    default:
        return false;
    }
}

void AlarmPanel::replaceOpen(const std::vector<Alarm>& open, bool announce) {
    std::set<int32_t> before;
    std::set<UniqueID> vehicles = m_blink->getBlinking();
    for (const Alarm* alarm : m_book.ordered()) {
        before.insert(alarm->id);
    }
    AlarmBook book(m_book.getLastId());
    book.setPriorities(m_book.getPriorities());
    bool raised = false;
    for (const Alarm& alarm : open) {
        if (book.restore(alarm)) {
            vehicles.insert(alarm.vehicle);
            raised = raised || (before.count(alarm.id) == 0 && !alarm.isAcknowledged());
        }
    }
    m_book = std::move(book);
    for (const UniqueID& vehicle : vehicles) {
        updateBlink(vehicle);
    }
    updateBell();
    rebuildSoon();
    if (raised && announce) {
        m_bell->ring();
        emit alarmRaised();
    }
}

void AlarmPanel::pageLoaded() { m_blink->resend(); }

void AlarmPanel::tick() {
    const bool repeats = !m_repeated.empty();
    flush();
    if (repeats) {
        rebuildSoon();
    } else {
        updateAges();
    }
    updateButtons();
}

bool AlarmPanel::acknowledge(int32_t id) { return acknowledge(std::vector<int32_t>{id}); }

bool AlarmPanel::acknowledge(const std::vector<int32_t>& ids) {
    int done = 0;
    int already = 0;
    for (int32_t id : ids) {
        if (m_actions != nullptr) {
            // Shared alarms: the store takes the step; the book follows the
            // store's answer through replaceOpen().
            const Alarm* alarm = m_book.find(id);
            const AlarmBook::Result handed = alarm == nullptr         ? AlarmBook::Result::Unknown
                                             : alarm->isAcknowledged() ? AlarmBook::Result::AlreadyDone
                                                                       : m_actions->acknowledge(*alarm);
            done += handed == AlarmBook::Result::Done ? 1 : 0;
            already += handed == AlarmBook::Result::AlreadyDone ? 1 : 0;
            continue;
        }
        const AlarmBook::Result result = m_book.acknowledge(id, userName(), m_now());
        if (result == AlarmBook::Result::AlreadyDone) {
            ++already;
            continue;
        }
        if (result != AlarmBook::Result::Done) {
            continue;
        }
        const Alarm* alarm = m_book.find(id);
        store(*alarm, AbstractDatabaseRecord::OPERATION_UPDATE);
        if (!alarm->isFold()) {
            updateBlink(alarm->vehicle);
        }
        ++done;
    }
    if (done == 0) {
        say(already > 0 ? QStringLiteral("This alarm was acknowledged already.")
                        : QStringLiteral("Select an open alarm first."));
        return false;
    }
    updateBell();
    say(QString());
    rebuild();
    return true;
}

bool AlarmPanel::addNote(int32_t id, const QString& text) {
    const std::string note = text.toStdString();
    const Alarm* shared = m_actions != nullptr ? m_book.find(id) : nullptr;
    const AlarmBook::Result result = m_actions == nullptr ? m_book.addNote(id, userName(), note, m_now())
                                     : shared == nullptr  ? AlarmBook::Result::Unknown
                                                          : m_actions->addNote(*shared, note);
    if (m_actions != nullptr && result == AlarmBook::Result::Done) {
        say(QString());
        return true;
    }
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
    say(AlarmBook::characters(note) > AlarmBook::NOTE_MAX
            ? QStringLiteral("A note holds %1 characters: the rest was not kept.").arg(count(AlarmBook::NOTE_MAX))
            : QString());
    onSelectionChanged();
    return true;
}

void AlarmPanel::limitNote() {
    const std::string text = m_noteEdit->text().toStdString();
    if (AlarmBook::characters(text) <= AlarmBook::NOTE_MAX) {
        return;
    }
    const QSignalBlocker quiet(m_noteEdit);
    m_noteEdit->setText(QString::fromStdString(AlarmBook::cutCharacters(text, AlarmBook::NOTE_MAX)));
    say(QStringLiteral("A note holds %1 characters: the text was cut there.").arg(count(AlarmBook::NOTE_MAX)));
}

bool AlarmPanel::close(int32_t id) { return close(std::vector<int32_t>{id}); }

bool AlarmPanel::close(const std::vector<int32_t>& ids) {
    std::vector<int32_t> open;
    for (int32_t id : ids) {
        if (m_book.find(id) != nullptr) {
            open.push_back(id);
        }
    }
    if (open.empty()) {
        say(QStringLiteral("Select an open alarm first."));
        return false;
    }
    if (m_actions != nullptr) {
        return closeShared(open);
    }
    // A note typed and not yet added goes with the close, on every alarm.
    const QString note = m_noteEdit->text();
    if (note.trimmed().isEmpty()) {
        const auto unnoted = std::count_if(open.begin(), open.end(), [this](int32_t id) {
            const Alarm* alarm = m_book.find(id);
            return alarm->priority == 1 && alarm->notes.empty();
        });
        if (unnoted > 0) {
            say(unnoted == 1 && open.size() == 1
                    ? QStringLiteral("A priority 1 alarm closes only with a note: type what was done, then Close.")
                    : QStringLiteral("%1 priority 1 alarms close only with a note: type what was done, then Close.")
                          .arg(unnoted));
            m_noteEdit->setFocus();
            return false;
        }
    } else {
        for (int32_t id : open) {
            addNote(id, note);
        }
        m_noteEdit->clear();
    }
    int closed = 0;
    for (int32_t id : open) {
        closed += closeOne(id) ? 1 : 0;
    }
    updateBell();
    if (closed == static_cast<int>(open.size())) {
        say(QString());
    }
    rebuild();
    return closed > 0;
}

bool AlarmPanel::closeShared(const std::vector<int32_t>& open) {
    const std::string note = m_noteEdit->text().toStdString();
    int closed = 0;
    for (int32_t id : open) {
        const AlarmBook::Result result = m_actions->close(*m_book.find(id), note);
        if (result == AlarmBook::Result::NeedsNote) {
            say(QStringLiteral("A priority 1 alarm closes only with a note: type what was done, then Close."));
            m_noteEdit->setFocus();
            return closed > 0;
        }
        if (result != AlarmBook::Result::Done) {
            say(result == AlarmBook::Result::Full ? QStringLiteral("This alarm has no room for more notes.")
                                                  : QStringLiteral("Select an open alarm first."));
            return closed > 0;
        }
        ++closed;
    }
    m_noteEdit->clear();
    say(QString());
    return true;
}

bool AlarmPanel::closeOne(int32_t id) {
    Alarm closed;
    if (m_book.close(id, userName(), m_now(), &closed) != AlarmBook::Result::Done) {
        say(QStringLiteral("A priority 1 alarm closes only with a note: type what was done, then Close."));
        return false;
    }
    store(closed, AbstractDatabaseRecord::OPERATION_UPDATE);
    m_repeated.erase(id);
    if (!closed.isFold()) {
        updateBlink(closed.vehicle);
    }
    return true;
}

void AlarmPanel::closeNoted(int32_t id, const QString& text) {
    // The note is what was done; should the notes be full, they hold one.
    m_book.addNote(id, userName(), text.toStdString(), m_now());
    closeOne(id);
}

void AlarmPanel::vehicleGone(const UniqueID& vehicle) {
    const std::vector<int32_t> ids = m_book.openAlarmsOf(vehicle);
    for (int32_t id : ids) {
        closeNoted(id, QStringLiteral("Vehicle deleted"));
    }
    if (!ids.empty()) {
        updateBell();
        rebuildSoon();
    }
}

void AlarmPanel::senderDeleted(const std::string& address, size_t vehicles) {
    if (const Alarm* fold = m_book.foldOf(address)) {
        closeNoted(fold->id, QStringLiteral("%1 unreviewed vehicles of %2 deleted")
                                 .arg(count(static_cast<int32_t>(vehicles)), QString::fromStdString(address)));
        updateBell();
        rebuildSoon();
    }
}

void AlarmPanel::showOnMap(int32_t id) {
    const Alarm* alarm = m_book.find(id);
    if (alarm != nullptr && !alarm->isFold()) {
        m_page.execute(MapCommands::showAlarmVehicle(alarm->vehicle.toText()));
    }
}

int32_t AlarmPanel::selectedId() const {
    const int current = m_table->currentRow();
    if (current >= 0 && m_table->item(current, PRIORITY) != nullptr && m_table->item(current, PRIORITY)->isSelected()) {
        return m_table->item(current, PRIORITY)->data(Qt::UserRole).toInt();
    }
    const std::vector<int32_t> ids = selectedIds();
    return ids.empty() ? 0 : ids.front();
}

std::vector<int32_t> AlarmPanel::selectedIds() const {
    QModelIndexList rows = m_table->selectionModel()->selectedRows(PRIORITY);
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<int32_t> ids;
    ids.reserve(static_cast<size_t>(rows.size()));
    for (const QModelIndex& row : rows) {
        ids.push_back(row.data(Qt::UserRole).toInt());
    }
    return ids;
}

void AlarmPanel::select(int32_t id) {
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, PRIORITY)->data(Qt::UserRole).toInt() == id) {
            m_table->selectRow(row);
            m_table->setCurrentCell(row, PRIORITY, QItemSelectionModel::Current);
            return;
        }
    }
}

void AlarmPanel::selectSender() {
    const Alarm* current = m_book.find(selectedId());
    if (current == nullptr) {
        say(QStringLiteral("Select an open alarm first."));
        return;
    }
    const std::string address = current->address;
    QItemSelection rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const Alarm* alarm = m_book.find(m_table->item(row, PRIORITY)->data(Qt::UserRole).toInt());
        if (alarm != nullptr && alarm->address == address) {
            rows.select(m_table->model()->index(row, 0), m_table->model()->index(row, COLUMN_COUNT - 1));
        }
    }
    m_table->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
}

QString AlarmPanel::getMessage() const { return m_message->text(); }

void AlarmPanel::say(const QString& text) { m_message->setText(text); }

void AlarmPanel::rebuildSoon(bool urgent) {
    const qint64 afforded = 4 * m_redrawCostMs;
    const qint64 interval = urgent ? afforded : std::max<qint64>(REDRAW_MS, afforded);
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : interval;
    if (since >= interval) {
        rebuild();
        return;
    }
    // A redraw already due sooner stays as it is.
    const int wait = static_cast<int>(interval - since);
    if (!m_redraw->isActive() || m_redraw->remainingTime() > wait) {
        m_redraw->start(wait);
    }
}

void AlarmPanel::rebuild() {
    m_redraw->stop();
    const int64_t startedUs = threadCpuUs();
    std::set<int32_t> selected;
    for (int32_t id : selectedIds()) {
        selected.insert(id);
    }
    const int32_t current = selectedId();
    const std::vector<const Alarm*> alarms = m_book.ordered();
    const std::time_t now = m_now();
    m_table->setUpdatesEnabled(false);
    const QSignalBlocker quiet(m_table);
    m_table->clearSpans();
    m_table->setRowCount(static_cast<int>(alarms.size()));
    QFont foldFont = m_table->font();
    foldFont.setItalic(true);
    QItemSelection keep;
    int currentRow = -1;
    for (int row = 0; row < static_cast<int>(alarms.size()); ++row) {
        const Alarm& alarm = *alarms[row];
        QTableWidgetItem* priority = cell(QString::number(alarm.priority));
        priority->setData(Qt::UserRole, alarm.id);
        m_table->setItem(row, PRIORITY, priority);
        if (alarm.isFold()) {
            // One sender's alarms: the text takes the vehicle, kind and
            // title columns.
            QTableWidgetItem* text = cell(foldText(alarm));
            text->setToolTip(text->text());
            text->setFont(foldFont);
            m_table->setItem(row, VEHICLE, text);
            m_table->setItem(row, KIND, cell(QString()));
            m_table->setItem(row, TITLE, cell(QString()));
            m_table->setSpan(row, VEHICLE, 1, TITLE - VEHICLE + 1);
        } else {
            m_table->setItem(row, VEHICLE, cell(QString::fromStdString(alarm.vehicleName)));
            m_table->setItem(row, KIND, cell(AlarmReport::kindName(alarm.kind)));
            m_table->setItem(row, TITLE, cell(QString::fromStdString(alarm.deviceTitle)));
        }
        const QDateTime received = QDateTime::fromSecsSinceEpoch(alarm.received).toLocalTime();
        QTableWidgetItem* at = cell(clockText(alarm.received));
        at->setToolTip(received.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        m_table->setItem(row, RECEIVED, at);
        m_table->setItem(row, AGE, cell(age(alarm.received, now)));
        // The state column is narrow: who acknowledged is always readable
        // in full on its tooltip.
        QTableWidgetItem* state = cell(stateText(alarm));
        state->setToolTip(state->text());
        m_table->setItem(row, STATE, state);
        // Unacknowledged rows stand out, the most urgent the most.
        if (!alarm.isAcknowledged()) {
            const QColor background = alarm.priority == 1 ? QColor(0xff, 0xcd, 0xd2) : QColor(0xff, 0xec, 0xb3);
            for (int column = 0; column < COLUMN_COUNT; ++column) {
                m_table->item(row, column)->setBackground(background);
            }
        }
        if (selected.count(alarm.id) != 0) {
            keep.select(m_table->model()->index(row, 0), m_table->model()->index(row, COLUMN_COUNT - 1));
        }
        if (alarm.id == current) {
            currentRow = row;
        }
    }
    // The rows chosen stay chosen; with nothing chosen, the most urgent
    // alarm is: one click acknowledges.
    if (!keep.isEmpty()) {
        m_table->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
        if (currentRow >= 0) {
            m_table->selectionModel()->setCurrentIndex(m_table->model()->index(currentRow, PRIORITY),
                                                       QItemSelectionModel::NoUpdate);
        }
    } else if (!alarms.empty()) {
        m_table->selectRow(0);
        m_table->selectionModel()->setCurrentIndex(m_table->model()->index(0, PRIORITY),
                                                   QItemSelectionModel::NoUpdate);
    }
    fitFoldRows();
    m_table->setUpdatesEnabled(true);
    const int count = static_cast<int>(alarms.size());
    m_title->setText(count == 1 ? QStringLiteral("1 open alarm") : QStringLiteral("%1 open alarms").arg(count));
    placeHeader();
    onSelectionChanged();
    if (count != m_shownCount) {
        m_shownCount = count;
        emit openCountChanged(count);
    }
    m_redrawCostMs = (threadCpuUs() - startedUs + 999) / 1000;
    m_sinceRedraw.start();
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
    const std::vector<int32_t> selected = selectedIds();
    m_acknowledge->setEnabled(std::any_of(selected.begin(), selected.end(), [this](int32_t id) {
        const Alarm* chosen = m_book.find(id);
        return chosen != nullptr && !chosen->isAcknowledged();
    }));
    m_show->setEnabled(alarm != nullptr && !alarm->isFold());
    m_close->setEnabled(alarm != nullptr);
    m_track->setEnabled(alarm != nullptr);
    m_addNote->setEnabled(alarm != nullptr);
    m_selectSender->setEnabled(alarm != nullptr && !alarm->address.empty());
    m_deleteSender->setEnabled(alarm != nullptr && !alarm->address.empty() && (alarm->isFold() || alarm->unreviewed));
    if (m_bell->isMuted()) {
        m_mute->setText(QStringLiteral("Muted to %1 · Sound on")
                            .arg(m_bell->getMutedUntil().toLocalTime().toString(QStringLiteral("HH:mm"))));
    } else {
        m_mute->setText(QStringLiteral("Mute %1 min").arg(AlarmBell::MUTE_SECONDS / 60));
    }
    placeHeader();
}

void AlarmPanel::placeHeader() {
    // The count takes a line of its own above the buttons when the queue is
    // too narrow for it beside them: a cut count is no count.
    const QMargins margins = layout()->contentsMargins();
    const int spacing = std::max(0, m_header->horizontalSpacing());
    const int needed = m_title->sizeHint().width() + m_mute->sizeHint().width() + m_report->sizeHint().width() +
                       2 * spacing + margins.left() + margins.right();
    const int stacked = width() < needed ? 1 : 0;
    if (stacked == m_headerStacked) {
        return;
    }
    m_headerStacked = stacked;
    m_header->removeWidget(m_title);
    m_header->removeWidget(m_mute);
    m_header->removeWidget(m_report);
    m_header->addWidget(m_title, 0, 0, 1, stacked ? 3 : 1);
    m_header->addWidget(m_mute, stacked, 1);
    m_header->addWidget(m_report, stacked, 2);
}

void AlarmPanel::placeButtons() {
    // As many buttons to a row as fit whole: a cut caption is a guess.
    const QMargins margins = layout()->contentsMargins();
    const int room = width() - margins.left() - margins.right();
    const auto place = [room](QGridLayout* grid, const std::vector<QWidget*>& buttons, int& placed) {
        const int spacing = std::max(0, grid->horizontalSpacing());
        int columns = static_cast<int>(buttons.size());
        for (; columns > 1; --columns) {
            bool fits = true;
            for (size_t first = 0; first < buttons.size() && fits; first += static_cast<size_t>(columns)) {
                int needed = 0;
                for (size_t i = first; i < std::min(buttons.size(), first + static_cast<size_t>(columns)); ++i) {
                    needed += buttons[i]->sizeHint().width() + (i > first ? spacing : 0);
                }
                fits = needed <= room;
            }
            if (fits) {
                break;
            }
        }
        if (columns == placed) {
            return;
        }
        placed = columns;
        for (QWidget* button : buttons) {
            grid->removeWidget(button);
        }
        for (size_t i = 0; i < buttons.size(); ++i) {
            grid->addWidget(buttons[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
        }
    };
    place(m_steps, {m_acknowledge, m_show, m_track, m_close}, m_stepColumns);
    place(m_senderSteps, {m_selectSender, m_deleteSender}, m_senderStepColumns);
}

void AlarmPanel::fitFoldRows() {
    QHeaderView* rows = m_table->verticalHeader();
    for (int row : m_tallRows) {
        if (row < m_table->rowCount()) {
            m_table->setRowHeight(row, rows->defaultSectionSize());
        }
    }
    m_tallRows.clear();
    int spanned = 0;
    for (int column = VEHICLE; column <= TITLE; ++column) {
        spanned += m_table->columnWidth(column);
    }
    // The text's margins inside its cell, as the style draws them.
    const int margin = 2 * (m_table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_table) + 1);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->columnSpan(row, VEHICLE) < 2) {
            continue;
        }
        const QTableWidgetItem* text = m_table->item(row, VEHICLE);
        const QFontMetrics metrics(text->font());
        const int height = metrics.boundingRect(QRect(0, 0, spanned - margin, 100000), Qt::TextWordWrap, text->text())
                               .height() + rows->defaultSectionSize() - metrics.height();
        if (height > rows->defaultSectionSize()) {
            m_table->setRowHeight(row, height);
            m_tallRows.push_back(row);
        }
    }
}

void AlarmPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeHeader();
    placeButtons();
}

void AlarmPanel::updateBell() { m_bell->setRepeating(m_book.hasUnacknowledged(1)); }

void AlarmPanel::updateBlink(const UniqueID& vehicle) { m_blink->set(vehicle, m_book.vehicleUnacknowledged(vehicle)); }

void AlarmPanel::store(const Alarm& alarm, AbstractDatabaseRecord::Operation operation) {
    DBManager& database = DBManager::getInstance();
    if (!database.isOpen()) {
        return;
    }
    AlarmRecord record = AlarmRecord::of(alarm);
    if (alarm.isFold()) {
        // The stored row names the sender; the counts are its repeats.
        record.vehicleName = "Unreviewed vehicles of " + (alarm.address.empty() ? "other senders" : alarm.address);
    }
    record.setOperation(operation);
    if (!database.keep(record)) {
        trace("AlarmPanel: alarm %d not stored: the database takes no changes", alarm.id);
    }
}

void AlarmPanel::flush() {
    for (int32_t id : m_repeated) {
        if (const Alarm* alarm = m_book.find(id)) {
            store(*alarm, AbstractDatabaseRecord::OPERATION_UPDATE);
        }
    }
    m_repeated.clear();
}

} // namespace velmora
