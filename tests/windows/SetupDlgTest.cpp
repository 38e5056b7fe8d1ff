#include "app/SetupDlg.h"
#include "app/WindowMessage.h"
#include "db/Setup.h"
#include "tests/windows/WindowTestSupport.h"

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

} // namespace
