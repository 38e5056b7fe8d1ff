#pragma once

// Helpers for the window tests: answering modal windows from inside their
// event loop, a window that records the messages posted to it, and an
// app.db filled with vehicles and events through a connection of its own.

#include "app/shell/WindowMessage.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "db/VehicleInfoContainer.h"
#include "tests/support/SqliteRows.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

/// Calls handler with the next modal window to become active that is not
/// active now and that which accepts (any, when which is empty). Gives up
/// with a test failure after timeoutMs.
inline void onNextModal(std::function<void(QWidget*)> handler, int timeoutMs = 5000,
                        std::function<bool(QWidget*)> which = {})
{
    QPointer<QWidget> before = QApplication::activeModalWidget();
    auto* timer = new QTimer();
    auto* waited = new int(0);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, waited, before, handler = std::move(handler), which = std::move(which), timeoutMs] {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (modal != nullptr && modal != before.data() && modal->isVisible() &&
                             (!which || which(modal))) {
                             timer->stop();
                             timer->deleteLater();
                             delete waited;
                             handler(modal);
                             return;
                         }
                         *waited += 5;
                         if (*waited >= timeoutMs) {
                             timer->stop();
                             timer->deleteLater();
                             delete waited;
                             ADD_FAILURE() << "the awaited modal window did not open";
                         }
                     });
    timer->start();
}

/// What a message box showed.
struct ShownBox {
    bool seen = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

/// Answers the next message box (whose text starts with prefix) with the
/// given button after noting what it showed.
inline void answerBox(ShownBox& shown, QMessageBox::StandardButton answer = QMessageBox::Ok,
                      const QString& prefix = QString(), int timeoutMs = 5000)
{
    onNextModal(
        [&shown, answer](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            shown.seen = true;
            shown.text = box->text();
            shown.title = box->windowTitle();
            shown.icon = box->icon();
            QAbstractButton* button = box->button(answer);
            if (button == nullptr) {
                ADD_FAILURE() << "message box without the expected button";
                box->close();
                return;
            }
            QTest::mouseClick(button, Qt::LeftButton);
        },
        timeoutMs,
        [prefix](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            return box != nullptr && box->text().startsWith(prefix);
        });
}

/// Runs dialog modally with script run inside its event loop; a dialog
/// still open after timeoutMs is rejected with a test failure.
inline int runModal(QDialog& dialog, std::function<void()> script, int timeoutMs = 20000)
{
    QTimer::singleShot(0, &dialog, [script = std::move(script)] { script(); });
    QPointer<QDialog> guarded(&dialog);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [guarded] {
        ADD_FAILURE() << "dialog still open";
        while (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
            if (modal == guarded.data())
                break;
        }
    });
    watchdog.start(timeoutMs);
    return dialog.exec();
}

/// Replaces a field's text the way an operator does: select all, type.
inline void retype(QLineEdit* field, const QString& text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

inline void click(QWidget* widget)
{
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton);
}

/// A window that keeps the number and value of every WindowMessage posted
/// to it, in arrival order.
class MessageRecorder : public QWidget {
public:
    std::vector<std::pair<int, qintptr>> messages;

protected:
    bool event(QEvent* event) override
    {
        if (WindowMessage* message = WindowMessage::from(event)) {
            messages.emplace_back(message->getNumber(), message->getValue());
            return true;
        }
        return QWidget::event(event);
    }
};

/// One event_info row as a device would have made it; a null time is
/// stored as NULL.
struct EventRow {
    std::string name;
    std::optional<std::string> time;
    int type = 0;
    std::string title;
    std::string vehicleId;
};

/// One vehicle_info row.
struct VehicleRow {
    std::string id;
    std::string name;
    std::string editedName;
    bool deleted = false;
    std::string info1;
    std::string info2;
    std::string imagePath;
};

inline VehicleRow vehicleRow(const std::string& id, const std::string& name, const std::string& editedName = "",
                             bool deleted = false)
{
    VehicleRow row;
    row.id = id;
    row.name = name;
    row.editedName = editedName;
    row.deleted = deleted;
    return row;
}

/// Appends rows to the events of the file at path in one transaction.
inline void insertEvents(const std::string& path, const std::vector<EventRow>& rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO event_info (address, name, time, event_type, device_title, vehicle_id) "
                       "VALUES ('10.0.0.7', ?, ?, ?, ?, ?);",
                       -1, &insert, nullptr);
    for (const EventRow& row : rows) {
        sqlite3_bind_text(insert, 1, row.name.c_str(), -1, SQLITE_TRANSIENT);
        if (row.time)
            sqlite3_bind_text(insert, 2, row.time->c_str(), -1, SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(insert, 2);
        sqlite3_bind_int(insert, 3, row.type);
        sqlite3_bind_text(insert, 4, row.title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 5, row.vehicleId.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE)
            ADD_FAILURE() << "insert failed: " << sqlite3_errmsg(db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

inline void insertVehicles(const std::string& path, const std::vector<VehicleRow>& rows)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO vehicle_info (id, name, edited_name, last_updated_time, deleted, info1, "
                       "info2, image_path) VALUES (?, ?, ?, '2011-07-25 10:00:00', ?, ?, ?, ?);",
                       -1, &insert, nullptr);
    for (const VehicleRow& row : rows) {
        sqlite3_bind_text(insert, 1, row.id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, row.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, row.editedName.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, row.deleted ? 1 : 0);
        sqlite3_bind_text(insert, 5, row.info1.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 6, row.info2.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 7, row.imagePath.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(insert) != SQLITE_DONE)
            ADD_FAILURE() << "insert failed: " << sqlite3_errmsg(db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

/// A fresh app.db per test with the tracking database's own schema; the
/// test adds rows, then opens the manager (which loads the vehicles).
class DatabaseFixture : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { closeAll(); }

    /// Starts over on a new, empty file in a new directory.
    void fresh()
    {
        closeAll();
        m_dir = std::make_unique<TempDir>();
        m_path = m_dir->file("app.db");
        DBManager::getInstance().open(m_path.c_str(), 5000);
        DBManager::getInstance().shutdown();
    }
    void openManager() { DBManager::getInstance().open(m_path.c_str(), 5000); }
    static void closeAll()
    {
        DBManager::getInstance().shutdown();
        EventLogger::getInstance().clear();
        GPSDataContainer::getInstance().clear();
        VehicleInfoContainer::getInstance().clear();
    }

    std::unique_ptr<TempDir> m_dir;
    std::string m_path;
};

} // namespace velmora::test
