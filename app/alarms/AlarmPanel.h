#pragma once

#include "rules/AlarmBook.h"
#include "db/AlarmRecord.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <set>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace velmora {

class AlarmBell;
class CallbackInfo;
class IPageRunner;

/// The alarm queue beside the map: one row per open alarm, the most urgent
/// first, with the operator's steps (acknowledge, note, close, show on the
/// map, mute). It owns the open alarms (AlarmBook) and the sound, tells the
/// page which markers blink, and stores every change in alarm_info through
/// the tracking database's writer.
///
/// Everything runs on the GUI thread and nothing waits: a change the
/// database queue cannot take now waits in order in the panel and goes on
/// the next tick. Repeats only count in memory and are stored once a tick,
/// so a device that repeats its panic cannot flood the writer. Device texts
/// are shown as plain text.
class AlarmPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int PANEL_WIDTH = 460;
    /// Changes kept while the database queue refuses them.
    static constexpr size_t UNSAVED_MAX = 10000;
    /// New alarms redraw the queue at most this often, so a burst of them
    /// cannot keep the window busy redrawing thousands of rows.
    static constexpr int REDRAW_MS = 100;

    AlarmPanel(IPageRunner& page, QWidget* parent = nullptr);
    ~AlarmPanel() override;

    void setPriorities(const AlarmBook::Priorities& priorities);
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
    /// Once a second: ages, mute state, waiting stores.
    void tick();
    /// Hands every change still held here to the database queue; at a
    /// stop, before the database writes what is queued.
    void flush();

    /// The operator's steps on an open alarm; false (and a line in the
    /// panel saying why) when the step cannot be taken.
    bool acknowledge(int32_t id);
    bool addNote(int32_t id, const QString& text);
    /// Closes with the note typed in the panel, if any.
    bool close(int32_t id);
    void showOnMap(int32_t id);

    /// The alarm of the selected row; 0 when none.
    int32_t selectedId() const;
    void select(int32_t id);
    const AlarmBook& getBook() const { return m_book; }
    AlarmBell& getBell() { return *m_bell; }
    QTableWidget* getTable() const { return m_table; }
    QLineEdit* getNoteEdit() const { return m_noteEdit; }
    QString getMessage() const;

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
    /// "Track": the operator asks for the vehicle's history around alarm id.
    void trackRequested(int32_t id);

private:
    /// What a raise of the book answered: a new alarm stored, rung and
    /// shown; a repeat counted. Whether it reached an alarm.
    bool took(AlarmBook::Result result, const Alarm* alarm);
    void rebuild();
    /// rebuild() now, or within REDRAW_MS of the last one.
    void rebuildSoon();
    void updateAges();
    void updateButtons();
    void updateBell();
    void updateBlink(const UniqueID& vehicle);
    void say(const QString& text);
    /// Queues the alarm's row for the writer, or holds it while the queue
    /// refuses it.
    void store(const Alarm& alarm, AbstractDatabaseRecord::Operation operation);
    void onSelectionChanged();

    IPageRunner& m_page;
    AlarmBook m_book;
    AlarmBell* m_bell;
    std::function<std::time_t()> m_now = [] { return std::time(nullptr); };
    std::deque<AlarmRecord> m_unsaved;
    std::set<int32_t> m_repeated;
    std::set<UniqueID> m_blinking;
    int m_shownCount = -1;
    QTimer* m_redraw = nullptr;
    QElapsedTimer m_sinceRedraw;

    QLabel* m_title = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_acknowledge = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_track = nullptr;
    QPushButton* m_mute = nullptr;
    QLineEdit* m_noteEdit = nullptr;
    QPushButton* m_addNote = nullptr;
    QPlainTextEdit* m_notes = nullptr;
    QLabel* m_message = nullptr;
};

} // namespace velmora
