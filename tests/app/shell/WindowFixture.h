#pragma once

// The real main window in-process: the page in the real engine, the callback
// server on a real port, app.db and setup.db in a temporary directory, and
// message boxes answered the way an operator would click them.

#include "tests/support/ConsoleTestSupport.h"
#include "tests/support/QtWait.h"

#include "app/shell/VelmoraDlg.h"
#include "db/DBManager.h"
#include "db/Setup.h"
#include "db/VehicleInfoContainer.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace velmora::test {

/// What the next message box said and how it was set up.
struct SeenBox {
    bool seen = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

/// Answers the next message box that opens (as soon as it is the active
/// modal window) by clicking answer; clicking, not closing, so the box's
/// own button wiring runs.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer) : m_answer(answer) {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::look);
        m_timer.start(20);
    }
    const SeenBox& box() const { return m_box; }
    bool wait(int ms = 15000) {
        return waitUntil([this] { return m_box.seen; }, ms);
    }

private:
    void look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        m_timer.stop();
        m_box.seen = true;
        m_box.caption = box->windowTitle();
        m_box.text = box->text();
        m_box.icon = box->icon();
        m_box.defaultButton =
            box->defaultButton() != nullptr ? box->standardButton(static_cast<QAbstractButton*>(box->defaultButton())) : QMessageBox::NoButton;
        if (QAbstractButton* button = box->button(m_answer)) {
            button->click();
        }
    }

    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    SeenBox m_box;
};

class WindowTest : public ::testing::Test {
public:
    void SetUp() override {
        copyImages(VELMORA_IMAGES_PARENT, dir.path());
        VehicleInfoContainer::getInstance().clear();
        port = freeUdpPort();
    }
    void TearDown() override {
        stopWindow();
        DBManager::getInstance().shutdown();
        Setup::getInstance().close();
        VehicleInfoContainer::getInstance().clear();
    }

    std::string appDb() const { return dir.file("app.db"); }

    /// setup.db with the callback port the console is to use.
    void writeSetup(int callbackPort) {
        Setup::getInstance().open(dir.file("setup.db").c_str());
        Setup::getInstance().getDatabase().setInt(Setup::KEY_PORT, callbackPort);
        Setup::getInstance().close();
    }

    /// Makes, creates, initialises and shows the window; does not wait.
    void openWindow() {
        window = std::make_unique<VelmoraDlg>(QString::fromStdString(dir.path()));
        ASSERT_TRUE(window->create());
        window->initialise();
        window->show();
    }

    /// openWindow(), then waits until the page has had its start-up commands
    /// (it then knows its width: the window's, less an alarm queue).
    void startWindow() {
        writeSetup(port);
        openWindow();
        ASSERT_TRUE(waitUntil([this] {
            return window->getHost().isPageLoaded() &&
                   evaluate("global.width").toInt() == window->getHost().getBrowserWindow()->width();
        })) << "the page did not load";
    }

    /// Stops the window as a signal would and deletes it.
    void stopWindow() {
        if (window) {
            window->closeWithoutQuestion();
            window.reset();
        }
    }

    /// Runs script in the page and returns its value (a barrier for every
    /// command executed before it).
    QVariant evaluate(const QString& script, int ms = 10000) {
        QWebEnginePage* page = window->getHost().getPage();
        if (page == nullptr) {
            return QVariant();
        }
        auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
        page->runJavaScript(script, [result](const QVariant& value) {
            result->first = true;
            result->second = value;
        });
        waitUntil([result] { return result->first; }, ms);
        return result->second;
    }
    QVariant evaluate(const char* script) { return evaluate(QString::fromUtf8(script)); }

    /// From now on the page keeps the arguments of every call of the named
    /// page functions in window.__calls (test-only; the shipped page has no
    /// such hook).
    void recordCalls(const QStringList& functions) {
        evaluate(QStringLiteral("window.__calls = []; window.__recorded = window.__recorded || {};"
                                " [%1].forEach(function (name) {"
                                " if (window.__recorded[name]) return;"
                                " window.__recorded[name] = true;"
                                " var original = window[name];"
                                " window[name] = function () {"
                                "  window.__calls.push([name].concat(Array.prototype.slice.call(arguments)));"
                                "  return original.apply(this, arguments); }; }); true")
                     .arg("'" + functions.join("','") + "'"));
    }
    /// The recorded calls as JSON.
    std::string calls() { return evaluate("JSON.stringify(window.__calls)").toString().toStdString(); }

    bool vehicleOnPage(const std::string& id) {
        return evaluate(QStringLiteral("findVehicle('%1') !== null").arg(QString::fromStdString(id))).toBool();
    }

    TempDir dir;
    int port = 0;
    UdpSender sender;
    std::unique_ptr<VelmoraDlg> window;
};

} // namespace velmora::test
