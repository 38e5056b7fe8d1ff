#include "app/dialogs/SetupDlg.h"
#include "app/shell/WindowMessage.h"
#include "db/Setup.h"
#include "tests/app/dialogs/WindowTestSupport.h"
#include "tests/support/MBTilesMaker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <fstream>

#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

using Posted = std::vector<std::pair<int, qintptr>>;
constexpr int PORT = WindowMessage::UWM_PORT_CHANGED;
constexpr int TIMEOUT = WindowMessage::UWM_TIMEOUT_CHANGED;
constexpr int MAP = WindowMessage::UWM_MAP_CHANGED;

const char* const kPortRange = "Port must be between 1500 ~ 32000";
const char* const kTimeoutRange = "Timeout must be between 1 ~ 28800";

class SetupDlgTest : public ::testing::Test {
protected:
    void SetUp() override { Setup::getInstance().open(m_path.c_str()); }
    void TearDown() override { Setup::getInstance().close(); }

    /// The stored value of key, or none when the file has no such entry.
    std::optional<std::string> stored(const char* key) const
    {
        const Rows rows = queryRows(m_path, std::string("SELECT value FROM setup WHERE key='") + key + "';");
        if (rows.empty())
            return std::nullopt;
        return rows[0][0];
    }
    void storeDirectly(const char* key, int value)
    {
        executeSql(m_path, std::string("INSERT OR REPLACE INTO setup VALUES ('") + key + "', " +
                               std::to_string(value) + ");");
    }
    static Posted delivered(MessageRecorder& owner)
    {
        QApplication::sendPostedEvents(&owner);
        return owner.messages;
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("setup.db");
};

// One press of OK per row: what the fields hold before it, what is typed,
// which box (if any) answers, and what is stored and announced.
TEST_F(SetupDlgTest, OkChecksStoresAndAnnouncesOnlyChangedValues)
{
    struct Case {
        const char* name;
        std::optional<int> storedTimeout; // stored before the window opens
        const char* port;                 // typed; null leaves the field alone
        const char* timeout;
        const char* box; // the box OK shows, null for none (the window closes)
        std::string portAfter;
        std::string timeoutAfter;
        Posted posted;
    };
    const Case cases[] = {
        {"unchanged", std::nullopt, nullptr, nullptr, nullptr, "10111", "10", {}},
        {"port 1499", std::nullopt, "1499", nullptr, kPortRange, "10111", "10", {}},
        {"port 32001", std::nullopt, "32001", nullptr, kPortRange, "10111", "10", {}},
        {"port 1500", std::nullopt, "1500", nullptr, nullptr, "1500", "10", {{PORT, 1500}}},
        {"port 32000", std::nullopt, "32000", nullptr, nullptr, "32000", "10", {{PORT, 32000}}},
        {"port empty", std::nullopt, "", nullptr, kPortRange, "10111", "10", {}},
        {"port too long to read", std::nullopt, "4294977407", nullptr, kPortRange, "10111", "10", {}},
        {"letters refused", std::nullopt, "2x0y0z0", nullptr, nullptr, "2000", "10", {{PORT, 2000}}},
        {"time-out 0", std::nullopt, nullptr, "0", kTimeoutRange, "10111", "10", {}},
        {"time-out empty", std::nullopt, nullptr, "", kTimeoutRange, "10111", "10", {}},
        {"time-out 28801", std::nullopt, nullptr, "28801", kTimeoutRange, "10111", "10", {}},
        {"time-out 28800", std::nullopt, nullptr, "28800", nullptr, "10111", "28800", {{TIMEOUT, 28800}}},
        {"time-out 1", 45, nullptr, "1", nullptr, "10111", "1", {{TIMEOUT, 1}}},
        {"both", std::nullopt, "20000", "60", nullptr, "20000", "60", {{PORT, 20000}, {TIMEOUT, 60}}},
        {"port stored, time-out refused", std::nullopt, "12000", "0", kTimeoutRange, "12000", "10", {{PORT, 12000}}},
        {"same value retyped", 45, "10111", "45", nullptr, "10111", "45", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        std::filesystem::remove(m_path);
        SetUp();
        if (c.storedTimeout)
            storeDirectly(Setup::KEY_TIMEOUT_DURATION, *c.storedTimeout);
        MessageRecorder owner;
        SetupDlg dialog(&owner);
        auto* port = dialog.findChild<QLineEdit*>("portField");
        auto* timeout = dialog.findChild<QLineEdit*>("timeoutField");
        ASSERT_TRUE(port && timeout);
        ShownBox box;
        bool stayedOpen = false;
        const int result = runModal(dialog, [&] {
            EXPECT_EQ(port->text(), QStringLiteral("10111"));
            EXPECT_EQ(timeout->text(), QString::number(c.storedTimeout.value_or(10)));
            if (c.port != nullptr)
                retype(port, QString::fromLatin1(c.port));
            if (c.timeout != nullptr)
                retype(timeout, QString::fromLatin1(c.timeout));
            if (c.box != nullptr)
                answerBox(box);
            click(dialog.findChild<QPushButton*>("okButton"));
            if (dialog.isVisible()) {
                stayedOpen = true;
                // The entry is kept as typed for the operator to correct.
                if (c.port != nullptr) {
                    EXPECT_EQ(port->text().toStdString(), c.port);
                }
                click(dialog.findChild<QPushButton*>("cancelButton"));
            }
        });
        EXPECT_EQ(box.seen, c.box != nullptr);
        if (c.box != nullptr) {
            EXPECT_EQ(box.text.toStdString(), c.box);
            EXPECT_EQ(box.title, QStringLiteral("Velmora"));
            EXPECT_EQ(box.icon, QMessageBox::Critical);
        }
        EXPECT_EQ(stayedOpen, c.box != nullptr);
        EXPECT_EQ(result, c.box != nullptr ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_EQ(stored(Setup::KEY_PORT), c.portAfter);
        EXPECT_EQ(stored(Setup::KEY_TIMEOUT_DURATION), c.timeoutAfter);
        EXPECT_EQ(delivered(owner), c.posted);
    }
}

// After the time-out was refused, the port stored by the same press is the
// window's value: a second OK announces only the corrected time-out.
TEST_F(SetupDlgTest, ASecondOkAfterARefusedTimeoutDoesNotAnnounceThePortAgain)
{
    MessageRecorder owner;
    SetupDlg dialog(&owner);
    auto* port = dialog.findChild<QLineEdit*>("portField");
    auto* timeout = dialog.findChild<QLineEdit*>("timeoutField");
    ShownBox box;
    const int result = runModal(dialog, [&] {
        retype(port, QStringLiteral("12000"));
        retype(timeout, QStringLiteral("0"));
        answerBox(box);
        click(dialog.findChild<QPushButton*>("okButton"));
        EXPECT_TRUE(dialog.isVisible());
        retype(timeout, QStringLiteral("30"));
        click(dialog.findChild<QPushButton*>("okButton"));
    });
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(delivered(owner), (Posted{{PORT, 12000}, {TIMEOUT, 30}}));
    EXPECT_EQ(stored(Setup::KEY_PORT), "12000");
    EXPECT_EQ(stored(Setup::KEY_TIMEOUT_DURATION), "30");
}

TEST_F(SetupDlgTest, CancelStoresAndAnnouncesNothing)
{
    MessageRecorder owner;
    SetupDlg dialog(&owner);
    const int result = runModal(dialog, [&] {
        retype(dialog.findChild<QLineEdit*>("portField"), QStringLiteral("20000"));
        retype(dialog.findChild<QLineEdit*>("timeoutField"), QStringLiteral("99"));
        click(dialog.findChild<QPushButton*>("cancelButton"));
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(delivered(owner).empty());
    EXPECT_EQ(stored(Setup::KEY_PORT), "10111");
    EXPECT_EQ(stored(Setup::KEY_TIMEOUT_DURATION), "10"); // the read stored the default
}

// A store that refuses the write is reported; the window stays open and
// announces nothing, and the store is left able to take the next write.
TEST_F(SetupDlgTest, ARefusedWriteIsReportedAndTheStoreRecovers)
{
    MessageRecorder owner;
    SetupDlg dialog(&owner);
    ShownBox box;
    bool stayedOpen = false;
    const int result = runModal(dialog, [&] {
        retype(dialog.findChild<QLineEdit*>("portField"), QStringLiteral("20000"));
        Setup::getInstance().getDatabase().execute("PRAGMA query_only = 1;");
        answerBox(box);
        click(dialog.findChild<QPushButton*>("okButton"));
        stayedOpen = dialog.isVisible();
        Setup::getInstance().getDatabase().execute("PRAGMA query_only = 0;");
        click(dialog.findChild<QPushButton*>("okButton"));
    });
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("The setting could not be stored."))) << box.text.toStdString();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(delivered(owner), (Posted{{PORT, 20000}}));
    EXPECT_EQ(stored(Setup::KEY_PORT), "20000");
}

// The "Map" group, driven as an operator does: choose the source with the
// keyboard, type the addresses or the file, click the check box. A setting
// that cannot work is refused with its message and the window stays open;
// a good one is stored and announced once.
TEST_F(SetupDlgTest, TheMapGroupChecksStoresAndAnnouncesItsSettings)
{
    MBTilesContent region;
    region.maxZoom = 1;
    region.metadata = {{"name", "Region"}, {"format", "png"}, {"bounds", "5.5,45.25,10.5,47.75"},
                       {"attribution", "<b>Test</b> tiles"}};
    makeMBTiles(m_dir.file("region.mbtiles"), region);
    std::ofstream(m_dir.file("broken.mbtiles")) << "this is not a database";

    struct Case {
        const char* name;
        int source;         // presses of the down arrow in the source list
        const char* road;   // typed, null leaves the field alone
        const char* satellite;
        const char* file;   // a file in the test directory
        int groupingClicks; // from "partly checked" (automatic)
        const char* box;    // the start of the box OK shows, null for none
        std::string sourceAfter;
        std::string groupingAfter;
        Posted posted;
    };
    const Case cases[] = {
        {"unchanged", 0, nullptr, nullptr, nullptr, 0, nullptr, "0", "-1", {}},
        {"online without addresses", 1, nullptr, nullptr, nullptr, 0,
         "Enter a road or a satellite tile address, or choose the offline map only.", "0", "-1", {}},
        {"not http", 1, "ftp://tiles.test/{z}/{x}/{y}.png", nullptr, nullptr, 0,
         "The road tile address must start with http:// or https://.", "0", "-1", {}},
        {"no row", 1, "https://tiles.test/{z}/{x}.png", nullptr, nullptr, 0,
         "The road tile address must contain {z}, {x} and {y}.", "0", "-1", {}},
        {"unknown placeholder", 1, nullptr, "https://sat.test/{z}/{x}/{y}.jpg?key={apikey}", nullptr, 0,
         "The satellite tile address holds {apikey}; only {z}, {x}, {y}, {s} and {r} are filled in.", "0", "-1", {}},
        {"no host", 1, "https:///{z}/{x}/{y}.png", nullptr, nullptr, 0,
         "The road tile address is not a valid web address.", "0", "-1", {}},
        {"online with subdomains", 1, "https://{s}.tiles.test/{z}/{x}/{y}.png", "http://sat.test:8080/{z}/{y}/{x}", nullptr,
         0, nullptr, "1", "-1", {{MAP, 0}}},
        {"file not chosen", 2, nullptr, nullptr, nullptr, 0, "Choose an MBTiles file, or choose the offline map only.",
         "0", "-1", {}},
        {"broken file", 2, nullptr, nullptr, "broken.mbtiles", 0, "The file ", "0", "-1", {}},
        {"good file", 2, nullptr, nullptr, "region.mbtiles", 0, nullptr, "2", "-1", {{MAP, 0}}},
        {"grouping always", 0, nullptr, nullptr, nullptr, 1, nullptr, "0", "1", {{MAP, 0}}},
        {"grouping never", 0, nullptr, nullptr, nullptr, 2, nullptr, "0", "0", {{MAP, 0}}},
        {"back to automatic", 0, nullptr, nullptr, nullptr, 3, nullptr, "0", "-1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        std::filesystem::remove(m_path);
        SetUp();
        MessageRecorder owner;
        SetupDlg dialog(&owner);
        auto* source = dialog.findChild<QComboBox*>("mapSource");
        auto* road = dialog.findChild<QLineEdit*>("roadTilesField");
        auto* satellite = dialog.findChild<QLineEdit*>("satelliteTilesField");
        auto* file = dialog.findChild<QLineEdit*>("mbtilesFileField");
        auto* info = dialog.findChild<QLabel*>("mbtilesInfo");
        auto* grouping = dialog.findChild<QCheckBox*>("groupingBox");
        ASSERT_TRUE(source && road && satellite && file && info && grouping);
        ShownBox box;
        bool stayedOpen = false;
        QString infoShown;
        runModal(dialog, [&] {
            EXPECT_EQ(source->currentIndex(), 0);
            EXPECT_EQ(grouping->checkState(), Qt::PartiallyChecked);
            source->setFocus();
            for (int i = 0; i < c.source; ++i)
                QTest::keyClick(source, Qt::Key_Down);
            EXPECT_EQ(road->isEnabled(), c.source == 1);
            EXPECT_EQ(file->isEnabled(), c.source == 2);
            if (c.road != nullptr)
                retype(road, QString::fromLatin1(c.road));
            if (c.satellite != nullptr)
                retype(satellite, QString::fromLatin1(c.satellite));
            if (c.file != nullptr) {
                retype(file, QString::fromStdString(m_dir.file(c.file)));
                QTest::keyClick(file, Qt::Key_Tab);
            }
            infoShown = info->text();
            for (int i = 0; i < c.groupingClicks; ++i)
                QTest::mouseClick(grouping, Qt::LeftButton, Qt::NoModifier, QPoint(8, grouping->height() / 2));
            if (c.box != nullptr)
                answerBox(box);
            click(dialog.findChild<QPushButton*>("okButton"));
            if (dialog.isVisible()) {
                stayedOpen = true;
                click(dialog.findChild<QPushButton*>("cancelButton"));
            }
        });
        EXPECT_EQ(box.seen, c.box != nullptr);
        if (c.box != nullptr) {
            EXPECT_TRUE(box.text.startsWith(QString::fromLatin1(c.box))) << box.text.toStdString();
            EXPECT_EQ(box.icon, QMessageBox::Critical);
        }
        EXPECT_EQ(stayedOpen, c.box != nullptr);
        EXPECT_EQ(stored(Setup::KEY_MAP_SOURCE).value_or("absent"), c.sourceAfter);
        EXPECT_EQ(stored(Setup::KEY_GROUPING).value_or("absent"), c.groupingAfter);
        EXPECT_EQ(delivered(owner), c.posted);
        if (std::string(c.name) == "online with subdomains") {
            EXPECT_EQ(stored(Setup::KEY_ROAD_TILES), std::string("https://{s}.tiles.test/{z}/{x}/{y}.png"));
            EXPECT_EQ(stored(Setup::KEY_SATELLITE_TILES), std::string("http://sat.test:8080/{z}/{y}/{x}"));
        }
        if (std::string(c.name) == "broken file") {
            EXPECT_TRUE(box.text.contains("is not a usable MBTiles file: file is not a database")) << box.text.toStdString();
            EXPECT_TRUE(infoShown.contains("is not a usable MBTiles file")) << infoShown.toStdString();
        }
        if (std::string(c.name) == "good file") {
            EXPECT_EQ(infoShown, QStringLiteral("Region, zoom 0 to 1, bounds 5.5000, 45.2500 to 10.5000, 47.7500\n"
                                                "<b>Test</b> tiles"));
            EXPECT_EQ(stored(Setup::KEY_MBTILES_FILE), m_dir.file("region.mbtiles"));
        }
    }
}

} // namespace

// The alarm group shows the stored priorities (defaults on a new file),
// stores a changed one and announces it once; an unchanged OK announces
// nothing.
TEST_F(SetupDlgTest, TheAlarmGroupStoresAndAnnouncesPriorities)
{
    for (int round = 0; round < 2; ++round) {
        MessageRecorder owner;
        SetupDlg dialog(&owner);
        auto* panic = dialog.findChild<QComboBox*>("alarmPriority13");
        auto* gSensor = dialog.findChild<QComboBox*>("alarmPriority11");
        auto* sensor = dialog.findChild<QComboBox*>("alarmPriority0");
        ASSERT_NE(panic, nullptr);
        EXPECT_EQ(panic->currentIndex(), 1);
        EXPECT_EQ(gSensor->currentIndex(), round == 0 ? 2 : 0);
        EXPECT_EQ(sensor->currentIndex(), round == 0 ? 0 : 3);
        runModal(dialog, [&] {
            if (round == 0) {
                gSensor->setCurrentIndex(0);
                sensor->setCurrentIndex(3);
            }
            click(dialog.findChild<QPushButton*>("okButton"));
        });
        const Posted expected = round == 0 ? Posted{{WindowMessage::UWM_ALARMS_CHANGED, 0}} : Posted{};
        EXPECT_EQ(delivered(owner), expected);
    }
    EXPECT_EQ(stored("setup/AlarmPriority/11"), "0");
    EXPECT_EQ(stored("setup/AlarmPriority/0"), "3");
}

// The watch rules' group and the rule kinds in the alarm group: the stored
// values are shown (the defaults on a new file), a value out of range is
// refused with its message and the window stays open, a good change is
// stored and announced once with the alarm priorities' message.
TEST_F(SetupDlgTest, TheWatchRulesAreSetAndAnnouncedWithTheAlarms)
{
    MessageRecorder owner;
    SetupDlg dialog(&owner);
    auto* silent = dialog.findChild<QLineEdit*>("silentMinutesField");
    auto* limit = dialog.findChild<QLineEdit*>("speedLimitField");
    auto* speeding = dialog.findChild<QLineEdit*>("speedingSecondsField");
    ASSERT_NE(silent, nullptr);
    EXPECT_EQ(silent->text(), QStringLiteral("10"));
    EXPECT_EQ(limit->text(), QStringLiteral("0"));
    EXPECT_EQ(speeding->text(), QStringLiteral("10"));
    // Every rule kind has its priority box, with its default.
    const struct {
        const char* box;
        int index;
    } kinds[] = {{"alarmPriority1000", 2}, {"alarmPriority1001", 3}, {"alarmPriority1002", 3}, {"alarmPriority1003", 3}};
    for (const auto& kind : kinds) {
        auto* box = dialog.findChild<QComboBox*>(kind.box);
        ASSERT_NE(box, nullptr) << kind.box;
        EXPECT_EQ(box->currentIndex(), kind.index) << kind.box;
    }
    ShownBox box;
    const int result = runModal(dialog, [&] {
        retype(limit, QStringLiteral("1001"));
        answerBox(box);
        click(dialog.findChild<QPushButton*>("okButton"));
        EXPECT_TRUE(dialog.isVisible());
        retype(silent, QStringLiteral("30"));
        retype(limit, QStringLiteral("90"));
        retype(speeding, QStringLiteral("5"));
        dialog.findChild<QComboBox*>("alarmPriority1003")->setCurrentIndex(1);
        click(dialog.findChild<QPushButton*>("okButton"));
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("Speed limit must be between 0 ~ 1000 km/h"));
    EXPECT_EQ(delivered(owner), (Posted{{WindowMessage::UWM_ALARMS_CHANGED, 0}}));
    EXPECT_EQ(stored("setup/SilentMinutes"), "30");
    EXPECT_EQ(stored("setup/SpeedLimitKmh"), "90");
    EXPECT_EQ(stored("setup/SpeedingSeconds"), "5");
    EXPECT_EQ(stored("setup/AlarmPriority/1003"), "1");
    EXPECT_EQ(stored("setup/AlarmPriority/1000"), "2");
}
