#pragma once

#include "app/alarms/IAlarmActions.h"
#include "rules/AlarmBook.h"
#include "db/AlarmRecord.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace velmora {

class AlarmBell;
class AlarmBlink;
class CallbackInfo;
class IPageRunner;
class VehicleAdmission;

/// The alarm queue beside the map: one row per open alarm, the most urgent
/// first, with the operator's steps (acknowledge, note, close, show on the
/// map, mute). It owns the open alarms (AlarmBook) and the sound, tells the
/// page which markers blink (AlarmBlink: one call per turn), and stores
/// every change in alarm_info through the tracking database's writer.
///
/// Vehicles that admitted themselves and nobody reviewed (the admission
/// says which) raise alarms through the book's own door: past its bounds a
/// sender's alarms fold into one row ("312 alarms from 280 unreviewed
/// vehicles of 10.0.0.7"), which does not blink on the map and is
/// acknowledged, closed or deleted (all the sender's unreviewed vehicles)
/// as one. Vehicles the operator knows always get rows of their own.
///
/// Steps apply to every selected row; "Select sender" selects every row of
/// the current row's sender. Priority 1 alarms close only with a note; one
/// note typed for a bulk close goes on each of them. Notes are limited in
/// characters, and the operator is told in the panel when one was cut.
///
/// Everything runs on the GUI thread and nothing waits: changes go to the
/// database by its keep() policy, which never drops one. Repeats only count
/// in memory and are stored once a tick, so a device that repeats its panic
/// cannot flood the writer. Device texts are shown as plain text.
class AlarmPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int PANEL_WIDTH = 460;
    /// Changes redraw the queue at most this often, and never more often
    /// than the last redraw cost the window's thread four times, so a burst
    /// of them cannot keep the window busy redrawing thousands of rows. A
    /// new alarm with a row of its own waits only for the second bound: the
    /// operator sees it as soon as the window can afford it.
    static constexpr int REDRAW_MS = 100;

    AlarmPanel(IPageRunner& page, QWidget* parent = nullptr);
    ~AlarmPanel() override;

    void setPriorities(const AlarmBook::Priorities& priorities);
    /// Tells reviewed vehicles from unreviewed ones; without it every
    /// vehicle counts as reviewed.
    void setAdmission(const VehicleAdmission* admission) { m_admission = admission; }
    /// Reads the open alarms and the last id back from app.db; the first
    /// thing after it opened.
    void restore();
    /// An event that reached the log: raises or counts an alarm when its
    /// kind is one.
    void onEvent(const CallbackInfo& event);
    /// A watch rule's request (RuleAlarms): raises or counts an alarm of the
    /// rule's kind for the vehicle named vehicleName, or adds a note to its
    /// open alarm. The alarm it reached; null when none (a plain event by
    /// the priorities, a full queue, an alarm closed already).
    const Alarm* onRule(const AlarmRequest& request, const std::string& vehicleName);
    /// The page has loaded: the markers of unacknowledged alarms blink again.
    void pageLoaded();
    /// Once a second: ages, mute state, repeats stored.
    void tick();
    /// Hands the counted repeats to the database queue; at a stop, before
    /// the database writes what is queued and held.
    void flush();

    /// The operator's steps go to actions when alarms are shared with other
    /// desks (none: this panel's own book and app.db).
    void setActions(IAlarmActions* actions) { m_actions = actions; }
    /// Shared alarms: the open alarms as the store now holds them replace
    /// the book. With announce, one that is new and unacknowledged rings
    /// and asks for attention.
    void replaceOpen(const std::vector<Alarm>& open, bool announce);
    /// A line in the panel, never a box: the outcome of a handed-over step.
    void showNotice(const QString& text) { say(text); }

    /// The operator's steps on open alarms; false (and a line in the panel
    /// saying why) when the step cannot be taken. The list forms take all
    /// or none for close, every one that can for acknowledge.
    bool acknowledge(int32_t id);
    bool acknowledge(const std::vector<int32_t>& ids);
    bool addNote(int32_t id, const QString& text);
    /// Closes with the note typed in the panel, if any.
    bool close(int32_t id);
    bool close(const std::vector<int32_t>& ids);
    void showOnMap(int32_t id);
    /// The vehicle was deleted for good: its alarms close, noted so.
    void vehicleGone(const UniqueID& vehicle);
    /// Every unreviewed vehicle of address was deleted: the sender's fold
    /// closes, noted so.
    void senderDeleted(const std::string& address, size_t vehicles);

    /// The alarm of the current row; 0 when none.
    int32_t selectedId() const;
    /// The alarms of every selected row, in row order.
    std::vector<int32_t> selectedIds() const;
    /// Selects only the row of id.
    void select(int32_t id);
    /// Selects every row of the current row's sender.
    void selectSender();
    const AlarmBook& getBook() const { return m_book; }
    AlarmBell& getBell() { return *m_bell; }
    AlarmBlink& getBlink() { return *m_blink; }
    QTableWidget* getTable() const { return m_table; }
    QLineEdit* getNoteEdit() const { return m_noteEdit; }
    QString getMessage() const;
    /// A fold row's text: "312 alarms from 280 unreviewed vehicles of 10.0.0.7".
    static QString foldText(const Alarm& fold);
    /// A step's time as the queue shows it: "14:02:11", local time.
    static QString clockText(std::time_t utc);

    /// The operator, as the OS account names them.
    static std::string userName();
    /// The clock of the lifecycle (UTC seconds); std::time unless a test
    /// sets another.
    void setClock(std::function<std::time_t()> now) { m_now = std::move(now); }

signals:
    /// A new alarm opened: the window asks for the operator's attention.
    void alarmRaised();
    /// The number of open alarms changed.
    void openCountChanged(int count);
    /// The queue's rows were drawn again.
    void redrawn();
    void reportRequested();
    /// The operator asked to delete every unreviewed vehicle of address.
    void deleteSenderRequested(const QString& address);
    /// "Track": the operator asks for the vehicle's history around alarm id.
    void trackRequested(int32_t id);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    /// What a raise of the book answered: a new alarm stored, rung and
    /// shown; a repeat counted. Whether it reached an alarm.
    bool took(AlarmBook::Result result, const Alarm* alarm);
    void rebuild();
    /// rebuild() now, or once the redraw interval since the last one is
    /// over; urgent: once four times its cost is.
    void rebuildSoon(bool urgent = false);
    void updateAges();
    void updateButtons();
    void updateBell();
    void updateBlink(const UniqueID& vehicle);
    void say(const QString& text);
    /// Queues the alarm's row for the writer, which never drops it.
    void store(const Alarm& alarm, AbstractDatabaseRecord::Operation operation);
    void onSelectionChanged();
    /// Keeps the note being typed within NOTE_MAX characters.
    void limitNote();
    /// The count beside the buttons, or above them in a narrow queue.
    void placeHeader();
    /// The step buttons in rows of as many as fit whole.
    void placeButtons();
    /// Fold rows as tall as their text wrapped in the columns they span.
    void fitFoldRows();
    /// Closes id with text as its note, whatever its priority.
    void closeNoted(int32_t id, const QString& text);
    bool closeOne(int32_t id);
    /// Shared alarms: each of open closed through the store, in order.
    bool closeShared(const std::vector<int32_t>& open);

    IPageRunner& m_page;
    IAlarmActions* m_actions = nullptr;
    AlarmBook m_book;
    AlarmBell* m_bell;
    AlarmBlink* m_blink;
    const VehicleAdmission* m_admission = nullptr;
    std::function<std::time_t()> m_now = [] { return std::time(nullptr); };
    std::set<int32_t> m_repeated;
    /// Rows made taller for a fold's text, to be given back their height.
    std::vector<int> m_tallRows;
    int m_shownCount = -1;
    QTimer* m_redraw = nullptr;
    QElapsedTimer m_sinceRedraw;
    /// What the last redraw cost the window's thread, in ms of its CPU
    /// time: time the thread waited for a core is no cost of the redraw.
    qint64 m_redrawCostMs = 0;

    QGridLayout* m_header = nullptr;
    int m_headerStacked = -1; ///< not placed yet
    QGridLayout* m_steps = nullptr;
    QGridLayout* m_senderSteps = nullptr;
    int m_stepColumns = 0; ///< not placed yet
    int m_senderStepColumns = 0;
    QLabel* m_title = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_acknowledge = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_selectSender = nullptr;
    QPushButton* m_deleteSender = nullptr;
    QPushButton* m_track = nullptr;
    QPushButton* m_mute = nullptr;
    QPushButton* m_report = nullptr;
    QLineEdit* m_noteEdit = nullptr;
    QPushButton* m_addNote = nullptr;
    QPlainTextEdit* m_notes = nullptr;
    QLabel* m_message = nullptr;
};

} // namespace velmora
