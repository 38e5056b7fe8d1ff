#include "tests/app/shell/WindowFixture.h"
#include "tests/app/hub/HubFixture.h"
#include "tests/support/GermanLocale.h"

#include "app/dialogs/ImageFileDialog.h"
#include "app/shell/OperatorDesk.h"
#include "app/system/TerminationSignal.h"
#include "app/shell/WindowMessage.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QTest>

#include <sqlite3.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>

using namespace velmora;
using namespace velmora::test;

namespace {

std::string santaClara(const std::string& id, const std::string& name = "Truck 1") {
    return fixDatagram(name, id, FIX_SANTA_CLARA);
}

} // namespace

// A vehicle met for the first time is announced on the page (flag 0: "... is
// added"); after a restart the stored fleet is drawn where it was, without
// the announcement (flag 1).
TEST_F(WindowTest, FirstFixAnnouncesTheVehicleAndARestartDrawsItAsKnown) {
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    EXPECT_TRUE(evaluate("document.body.innerText.indexOf('Truck 1 is added') >= 0").toBool());
    // The new vehicle is announced at once; its position comes with its
    // next frame.
    const QString latitude = QStringLiteral("findVehicle('%1').latlng.lat").arg(QString::fromStdString(ID_A));
    EXPECT_TRUE(waitUntil([&] { return std::abs(evaluate(latitude).toDouble() - 37.387458) < 1e-6; }))
        << evaluate(latitude).toDouble();
    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select name, last_updated_latitude, last_updated_longitude from vehicle_info"),
              "Truck 1|37.387458|-121.972360");

    startWindow();
    ASSERT_TRUE(vehicleOnPage(ID_A));
    EXPECT_FALSE(evaluate("document.body.innerText.indexOf('is added') >= 0").toBool());
    EXPECT_NEAR(evaluate(QStringLiteral("findVehicle('%1').latlng.lng").arg(QString::fromStdString(ID_A))).toDouble(),
                -121.972360, 1e-6);
}

// Under a German locale the page still gets C numbers and app.db still
// stores them: moveTo(37.387458, -121.97236, ...) with eight arguments, not
// a decimal comma splitting each number in two.
TEST_F(WindowTest, GermanLocaleStillSendsAndStoresDotNumbers) {
    GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    startWindow();
    recordCalls({"moveTo"});
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return calls() != "[]"; }));
    EXPECT_EQ(calls(), "[[\"moveTo\",37.387458,-121.97236,0.13,13,45,30,309.62,\"" + ID_A + "\"]]");
    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select last_updated_latitude, last_updated_longitude from vehicle_info"),
              "37.387458|-121.972360");
}

// The page's Remove goes through the page function, the hop and the
// question; No is the default and keeps the vehicle, Yes deletes it.
TEST_F(WindowTest, RemoveFromThePageAsksAndDeletesOnYes) {
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    recordCalls({"deleteVehicle", "enableTooltip"});
    const QString remove = QStringLiteral("cef.extension.onClickRemove('%1'); true").arg(QString::fromStdString(ID_A));

    BoxAnswerer no(QMessageBox::No);
    evaluate(remove);
    ASSERT_TRUE(no.wait());
    EXPECT_EQ(no.box().caption, "Velmora");
    EXPECT_EQ(no.box().text, "Do you want to delete this Vehicle?");
    EXPECT_EQ(no.box().icon, QMessageBox::Question);
    EXPECT_EQ(no.box().defaultButton, QMessageBox::No);
    ASSERT_TRUE(waitUntil([this] { return calls() == "[[\"enableTooltip\"]]"; })) << calls();
    EXPECT_TRUE(vehicleOnPage(ID_A));

    BoxAnswerer yes(QMessageBox::Yes);
    evaluate(remove);
    ASSERT_TRUE(yes.wait());
    ASSERT_TRUE(waitUntil([this] { return !vehicleOnPage(ID_A); }));
    EXPECT_EQ(calls(), "[[\"enableTooltip\"],[\"deleteVehicle\",\"" + ID_A + "\"],[\"enableTooltip\"]]");
    // Silent from now on, but its fixes are still kept.
    ASSERT_TRUE(sender.send(port, santaClara(ID_A, "Truck 1b")));
    pump(300);
    EXPECT_FALSE(vehicleOnPage(ID_A));
    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select name, deleted from vehicle_info"), "Truck 1|1");
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), 2);

    // Delete goes further, after its own question: the vehicle and all it
    // sent leave app.db, and its id is a new vehicle again.
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_B, "Van 2")));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_B); }));
    for (const std::string& id : {ID_A, ID_B}) {
        BoxAnswerer sure(QMessageBox::Yes);
        evaluate(QStringLiteral("cef.extension.onClickDelete('%1'); true").arg(QString::fromStdString(id)));
        ASSERT_TRUE(sure.wait());
        EXPECT_TRUE(sure.box().text.startsWith(QStringLiteral("Do you want to delete "))) << qPrintable(sure.box().text);
        EXPECT_TRUE(sure.box().text.endsWith(QStringLiteral("This cannot be undone.")));
    }
    ASSERT_TRUE(waitUntil([this] { return !vehicleOnPage(ID_B); }));
    EXPECT_EQ(window->getAdmission().getKnownCount(), 0u);
    ASSERT_TRUE(sender.send(port, santaClara(ID_B, "Van 2")));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_B); }));
    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select name, deleted from vehicle_info"), "Van 2|0");
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), 1);
}

// Another program holding app.db's write lock (a backup, the sqlite3 shell)
// never freezes the window: the writer waits, its queue fills, and the
// window still serves its timers while fixes keep coming.
TEST_F(WindowTest, ALockedAppDbNeverFreezesTheWindow) {
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(appDb().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    // Two records a fix: well past the writer's queue.
    for (int i = 0; i < 1500; ++i) {
        ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
        if (i % 50 == 0) {
            pump(10);
        }
    }
    pump(3000);
    tick.stop();
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    std::printf("longest wait of the window's thread with app.db locked: %lld ms\n", static_cast<long long>(longest));
    EXPECT_LT(longest, 500) << "ms the window's thread did not run";
    stopWindow();
}

// Device data with no position, or one off the globe, never opens a dialog
// (a box would stop the page until clicked) and never moves a marker; the
// fixes are still stored as received.
TEST_F(WindowTest, DeviceDataWithoutAPositionRaisesNoDialogAndMovesNothing) {
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    const std::string noTail = "Ghost,100,0, ,GPS,0,132779017,197688, ,0, ,";
    for (const std::string& text : {
             noTail + ID_B, noTail + ID_B,
             fixDatagram("Ghost", ID_B, "$GPRMC,134530,V,,,,,,,120598,,"),
             fixDatagram("Truck 1", ID_A, "$GPRMC,134531,A,1e300,N,12158.3416,W,0.13,309.62,120598,,"),
             fixDatagram("Truck 1", ID_A, "$GPRMC,134532,A,3723.2475,N,99958.3416,W,0.13,309.62,120598,,"),
         }) {
        ASSERT_TRUE(sender.send(port, text));
    }
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_B); }));
    pump(500);
    EXPECT_EQ(window->getHost().getRefusedDialogCount(), 0);
    EXPECT_NEAR(evaluate(QStringLiteral("findVehicle('%1').latlng.lat").arg(QString::fromStdString(ID_A))).toDouble(),
                37.387458, 1e-6);
    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select last_updated_latitude from vehicle_info where id = '" + ID_A + "'"),
              "37.387458");
    EXPECT_EQ(queryText(appDb(), "select name, last_updated_latitude from vehicle_info where id = '" + ID_B + "'"),
              "Ghost|");
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), 4);
}

// Log, Setup and Edit from the page open their window modally over the main
// window; the tooltip is hidden before Log and Setup and enabled again after
// Edit.
TEST_F(WindowTest, PageRequestsOpenTheirWindows) {
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    struct Row {
        QString call;
        const char* window;
        std::string calls;
    };
    const Row rows[] = {
        {QStringLiteral("onClickLog()"), "velmora::LogDlg", "[[\"hideTooltip\"]]"},
        {QStringLiteral("onClickSetup()"), "velmora::SetupDlg", "[[\"hideTooltip\"]]"},
        {QStringLiteral("onClickEdit('%1')").arg(QString::fromStdString(ID_A)), "velmora::VehicleEditDlg",
         "[[\"enableTooltip\"]]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.window);
        recordCalls({"hideTooltip", "enableTooltip"});
        QString opened;
        QWidget* parent = nullptr;
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog != nullptr && dialog != window.get()) {
                cancel.stop();
                opened = QString::fromLatin1(dialog->metaObject()->className());
                parent = dialog->parentWidget();
                dialog->reject();
            }
        });
        cancel.start(20);
        evaluate(QStringLiteral("cef.extension.%1; true").arg(row.call));
        ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }));
        EXPECT_EQ(opened.toStdString(), row.window);
        EXPECT_EQ(parent, window.get());
        ASSERT_TRUE(waitUntil([&] { return calls() == row.calls; })) << calls();
    }
}

namespace {

// A fix datagram stamped as a device keeping UTC does, age seconds ago, at
// a place of its own.
std::string fixSecondsAgo(const std::string& name, const std::string& id, int age, int place) {
    const std::time_t at = std::time(nullptr) - age;
    tm u{};
    gmtime_r(&at, &u);
    char body[128];
    std::snprintf(body, sizeof body, "GPRMC,%02d%02d%02d.00,A,37%07.4f,N,12158.3416,W,10.0,45.0,%02d%02d%02d,,",
                  u.tm_hour, u.tm_min, u.tm_sec, 20.0 + place * 0.5, u.tm_mday, u.tm_mon + 1, u.tm_year % 100);
    return fixDatagram(name, id, gprmc(body),
                       DateTime(u.tm_year + 1900, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec));
}

} // namespace

// The vehicle menu's "Tracking Line", clicked with the mouse on the page,
// crosses to the window and opens the tracking window once per click. "Show"
// with a duration draws that duration's stored track over the map; a
// duration without fixes says so and leaves the map as it was.
TEST_F(WindowTest, TrackingLineFromTheMenuShowsTheChosenDuration) {
    startWindow();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sender.send(port, fixSecondsAgo("Truck 1", ID_A, 300 - i * 60, i)));
        ASSERT_TRUE(sender.send(port, fixSecondsAgo("Van 2", ID_B, 7200 - i * 60, i)));
    }
    ASSERT_TRUE(waitUntil([this] {
        return vehicleOnPage(ID_A) && vehicleOnPage(ID_B) &&
               queryCount(appDb(), "select count(*) from gps_data") == 6;
    })) << "the fixes were not stored";
    QWidget* view = window->getHost().getBrowserWindow()->focusProxy();
    auto centre = [this](const QString& selector) {
        const QJsonObject box = QJsonDocument::fromJson(
            evaluate("JSON.stringify(document.querySelector(" + selector + ").getBoundingClientRect())")
                .toString()
                .toUtf8())
                                    .object();
        return QPoint(static_cast<int>(box.value("left").toDouble() + box.value("width").toDouble() / 2),
                      static_cast<int>(box.value("top").toDouble() + box.value("height").toDouble() / 2));
    };
    struct Row {
        std::string id;
        const char* duration;
        int points;
        const char* told;
    };
    const Row rows[] = {
        {ID_A, "1 Hours", 3, nullptr},
        {ID_B, "1 Hours", 0, "No positions of Van 2 in the last 1 Hours."},
        {ID_B, "3 Hours", 3, nullptr},
        {ID_A, nullptr, 0, nullptr}, // Cancel
    };
    std::string shown;
    int shownPoints = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id + " " + (row.duration ? row.duration : "Cancel"));
        int opened = 0, strayBoxes = 0;
        std::unique_ptr<BoxAnswerer> box;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            // A box nobody waits for is closed (and counted), so a fault
            // fails the test instead of leaving it waiting for an operator.
            auto* stray = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (stray != nullptr && stray->isVisible() && (!box || box->box().seen)) {
                ++strayBoxes;
                stray->button(QMessageBox::Ok)->click();
                return;
            }
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != "trackingLineDlg" || !dialog->isVisible() ||
                dialog->property("answered").toBool()) {
                return;
            }
            dialog->setProperty("answered", true);
            ++opened;
            if (row.duration == nullptr) {
                dialog->findChild<QPushButton*>("cancelButton")->click();
                return;
            }
            auto* list = dialog->findChild<QComboBox*>("durationList");
            list->setCurrentIndex(list->findText(row.duration));
            dialog->findChild<QPushButton*>("showButton")->click();
        });
        answer.start(20);
        if (row.told != nullptr) {
            box = std::make_unique<BoxAnswerer>(QMessageBox::Ok);
        }
        const QString entry = "'[id=\"" + QString::fromStdString(row.id) + "\"]'";
        QPoint at = centre(entry);
        QTest::mouseMove(view, at);
        QTest::mouseClick(view, Qt::RightButton, Qt::NoModifier, at);
        ASSERT_TRUE(waitUntil([this] { return evaluate("vehicleContextMenu.isVisible()").toBool(); }));
        at = centre("'#VehicleContextMenu [data-item=tracking]'");
        QTest::mouseMove(view, at);
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, at);
        ASSERT_TRUE(waitUntil([&] { return opened > 0; }));
        if (box) {
            ASSERT_TRUE(box->wait());
            EXPECT_EQ(box->box().text.toStdString(), row.told);
            EXPECT_EQ(box->box().icon, QMessageBox::Information);
            EXPECT_EQ(box->box().caption, "Velmora");
        }
        if (row.points > 0) {
            shown = row.id;
            shownPoints = row.points;
        }
        const QString history = QStringLiteral("trackHistory === null ? 'none' : trackHistory.vehicleID + ' ' + "
                                               "trackHistory.points.length");
        const QString expected =
            shown.empty() ? QStringLiteral("none") : QString::fromStdString(shown) + " " + QString::number(shownPoints);
        EXPECT_TRUE(waitUntil([&] { return evaluate(history).toString() == expected; }))
            << evaluate(history).toString().toStdString();
        // The tooltips are on again, and one click opened one window.
        EXPECT_TRUE(waitUntil([this] { return evaluate("global.tooltipEnabled").toBool(); }));
        pump(200);
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(strayBoxes, 0);
    }
}

// The image button opens the file dialog; the chosen file becomes the
// vehicle's image on the page and in app.db.
TEST_F(WindowTest, ChosenImageReachesThePageAndIsStored) {
    startWindow();
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
    const QString image = QString::fromStdString(dir.file("images/point_select.png"));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->objectName() == ImageFileDialog::OBJECT_NAME) {
            answer.stop();
            dialog->selectFile(image);
            // What a click on Open does.
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        }
    });
    answer.start(20);
    evaluate(QStringLiteral("cef.extension.onClickImgBtn('%1'); true").arg(QString::fromStdString(ID_A)));
    const QString imageOnPage = QStringLiteral("findVehicle('%1').imgPath").arg(QString::fromStdString(ID_A));
    ASSERT_TRUE(waitUntil([&] { return evaluate(imageOnPage).toString() == image; }))
        << evaluate(imageOnPage).toString().toStdString();
    stopWindow();
    EXPECT_EQ(queryText(appDb(), "select image_path from vehicle_info"), image.toStdString());
}

// Closing asks; No keeps everything running, Yes stops the server and closes
// the databases.
TEST_F(WindowTest, CloseAsksAndOnlyYesStops) {
    startWindow();
    {
        BoxAnswerer no(QMessageBox::No);
        window->close();
        ASSERT_TRUE(no.wait());
        EXPECT_EQ(no.box().text, "Are you sure to close?");
        EXPECT_EQ(no.box().defaultButton, QMessageBox::No);
    }
    pump(100);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isTornDown());
    EXPECT_EQ(window->getBoundPort(), port);
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));

    BoxAnswerer yes(QMessageBox::Yes);
    window->close();
    ASSERT_TRUE(yes.wait());
    ASSERT_TRUE(waitUntil([this] { return window->isTornDown(); }));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(udpPortState(port).sockets, 0);
    EXPECT_FALSE(DBManager::getInstance().isOpen());
}

// Neither Escape nor Enter closes the window or asks anything.
TEST_F(WindowTest, EscapeAndEnterAreSwallowed) {
    startWindow();
    // A default button, as an OK button would be: a dialog presses it on
    // Enter, and this one would end the window.
    auto* ok = new QPushButton(QStringLiteral("OK"), window.get());
    ok->setDefault(true);
    ok->show();
    int pressed = 0;
    QObject::connect(ok, &QPushButton::clicked, window.get(), [&] {
        ++pressed;
        window->accept();
    });
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &press);
        pump(100);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "something asked";
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isTornDown());
        EXPECT_EQ(pressed, 0);
    }
}

// The page is told its size when it has loaded and on every resize; the
// window never gets smaller than its minimum.
TEST_F(WindowTest, ThePageFollowsTheWindowSize) {
    startWindow();
    EXPECT_EQ(evaluate("global.width").toInt(), window->width());
    EXPECT_EQ(evaluate("global.height").toInt(), window->height());
    window->resize(1300, 900);
    ASSERT_TRUE(waitUntil([this] { return evaluate("global.width + 'x' + global.height").toString() == "1300x900"; }))
        << evaluate("global.width + 'x' + global.height").toString().toStdString();
    EXPECT_EQ(window->getHost().getBrowserWindow()->size(), QSize(1300, 900));
    window->resize(400, 300);
    pump(200);
    EXPECT_EQ(window->size(), QSize(VelmoraDlg::MINIMUM_WIDTH, VelmoraDlg::MINIMUM_HEIGHT));
}

// A port held by another program is reported once; a new port from Setup
// restarts the server there.
TEST_F(WindowTest, PortInUseIsReportedAndANewPortRestartsTheServer) {
    UdpPortHolder other;
    writeSetup(other.port());
    BoxAnswerer ok(QMessageBox::Ok);
    openWindow();
    ASSERT_TRUE(ok.wait());
    EXPECT_EQ(ok.box().text.toStdString(), "Callback port " + std::to_string(other.port()) +
                                               " is in use by another program. Choose another port in Setup.");
    EXPECT_EQ(window->getBoundPort(), 0);
    EXPECT_EQ(window->getProblems().size(), 1);

    ASSERT_TRUE(waitUntil([this] { return window->getHost().isPageLoaded(); }));
    WindowMessage::post(window.get(), WindowMessage::UWM_PORT_CHANGED, port);
    ASSERT_TRUE(waitUntil([this] { return window->getBoundPort() == port; }));
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
}

// An app.db that cannot be opened is reported; the fleet is still shown.
TEST_F(WindowTest, UnopenableAppDbIsReportedAndTheFleetStillShows) {
    std::filesystem::create_directory(appDb());
    BoxAnswerer ok(QMessageBox::Ok);
    writeSetup(port);
    openWindow();
    ASSERT_TRUE(ok.wait());
    EXPECT_EQ(ok.box().text, "The database app.db cannot be opened: unable to open database file. "
                             "Vehicles are shown but not stored.");
    EXPECT_EQ(ok.box().icon, QMessageBox::Warning);
    EXPECT_EQ(window->getBoundPort(), port) << "setup.db and the server do not depend on app.db";
    ASSERT_TRUE(waitUntil([this] { return window->getHost().isPageLoaded(); }));
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));
}

// SIGTERM closes the window without the question, even with a question
// open, and every datagram that reached the port before it is stored.
TEST_F(WindowTest, TerminationSignalStopsInOrderAndKeepsEveryArrivedFix) {
    startWindow();
    TerminationSignal signal;
    ASSERT_TRUE(signal.isValid());
    QObject::connect(&signal, &TerminationSignal::requested, window.get(), &VelmoraDlg::closeWithoutQuestion);
    ASSERT_TRUE(sender.send(port, santaClara(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return vehicleOnPage(ID_A); }));

    // The removal question stays open: nobody answers it. While it is open
    // (its own event loop runs), a burst arrives that is still in the port's
    // queue and the window's queue when the signal comes.
    constexpr int BURST = 300;
    long long dropped = -1;
    QTimer whileAsking;
    QObject::connect(&whileAsking, &QTimer::timeout, [&] {
        if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) == nullptr) {
            return;
        }
        whileAsking.stop();
        for (int i = 0; i < BURST; ++i) {
            sender.send(port, fixDatagram("Truck 1", ID_A, FIX_SANTA_CLARA));
        }
        dropped = udpPortState(port).drops;
        ::raise(SIGTERM);
    });
    whileAsking.start(20);
    evaluate(QStringLiteral("cef.extension.onClickRemove('%1'); true").arg(QString::fromStdString(ID_A)));
    ASSERT_TRUE(waitUntil([this] { return window->isTornDown(); }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_EQ(dropped, 0) << "the kernel dropped some (or the question never opened)";
    window.reset();
    EXPECT_EQ(queryText(appDb(), "select deleted from vehicle_info"), "0") << "the question was not answered Yes";
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), 1 + BURST);
}

// The stop comes while a burst is still being read from the port: nothing
// that reached the port before the signal is lost.
TEST_F(WindowTest, TerminationSignalDuringABurstStoresTheWholeBurst) {
    startWindow();
    TerminationSignal signal;
    ASSERT_TRUE(signal.isValid());
    QObject::connect(&signal, &TerminationSignal::requested, window.get(), &VelmoraDlg::closeWithoutQuestion);
    constexpr int BURST = 400;
    for (int i = 0; i < BURST; ++i) {
        ASSERT_TRUE(sender.send(port, fixDatagram("Truck " + std::to_string(i % 40), i % 2 ? ID_A : ID_B,
                                                  FIX_SANTA_CLARA)));
    }
    const long long dropped = udpPortState(port).drops;
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(waitUntil([this] { return window->isTornDown(); }));
    ASSERT_EQ(dropped, 0) << "the kernel dropped some: the count below would mean less";
    window.reset();
    EXPECT_EQ(queryCount(appDb(), "select count(*) from gps_data"), BURST);
    EXPECT_EQ(queryCount(appDb(), "select count(*) from vehicle_info"), 2);
}
