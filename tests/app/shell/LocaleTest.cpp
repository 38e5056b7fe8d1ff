#include "app/dialogs/LogDlg.h"
#include "app/dialogs/SetupDlg.h"
#include "db/Setup.h"
#include "tests/support/GermanLocale.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <memory>
#include <string>

using namespace velmora;
using namespace velmora::test;

namespace {

/// The German locale of the C library and C++ (the shared test helper)
/// and Qt's default locale, which the windows would otherwise take from the
/// environment at start-up.
class GermanEverywhere {
public:
    GermanEverywhere() : m_savedQt(QLocale()) { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    ~GermanEverywhere() { QLocale::setDefault(m_savedQt); }
    bool isActive() const { return m_c.isActive() && QLocale().toString(10111) == QStringLiteral("10.111"); }
    std::string why() const { return m_c.isActive() ? "Qt kept its locale" : m_c.why(); }

private:
    GermanLocale m_c;
    QLocale m_savedQt;
};

class LocaleTest : public DatabaseFixture {};

// Ports, minutes, page numbers and the dates of a search are written and
// read as plain digits whatever the operator's locale says.
TEST_F(LocaleTest, WindowsReadAndWriteNumbersAsPlainDigits)
{
    GermanEverywhere german;
    ASSERT_TRUE(german.isActive()) << german.why();

    TempDir setupDir;
    const std::string setupPath = setupDir.file("setup.db");
    Setup::getInstance().open(setupPath.c_str());
    {
        MessageRecorder owner;
        SetupDlg dialog(&owner);
        auto* port = dialog.findChild<QLineEdit*>("portField");
        auto* timeout = dialog.findChild<QLineEdit*>("timeoutField");
        const int result = runModal(dialog, [&] {
            EXPECT_EQ(port->text(), QStringLiteral("10111"));
            EXPECT_EQ(timeout->text(), QStringLiteral("10"));
            retype(port, QStringLiteral("12.000"));
            EXPECT_EQ(port->text(), QStringLiteral("12000"));
            retype(timeout, QStringLiteral("1,440"));
            EXPECT_EQ(timeout->text(), QStringLiteral("1440"));
            click(dialog.findChild<QPushButton*>("okButton"));
        });
        EXPECT_EQ(result, QDialog::Accepted);
        QApplication::sendPostedEvents(&owner);
        EXPECT_EQ(owner.messages,
                  (std::vector<std::pair<int, qintptr>>{{WindowMessage::UWM_PORT_CHANGED, 12000},
                                                        {WindowMessage::UWM_TIMEOUT_CHANGED, 1440}}));
    }
    Setup::getInstance().close();
    EXPECT_EQ(queryValue(setupPath, "SELECT value FROM setup WHERE key='setup/Port';"), "12000");

    // Enough events for page numbers that a locale would group.
    std::vector<EventRow> rows;
    for (int i = 0; i < 250000; ++i)
        rows.push_back({"ev", i < 100000 ? "2011-07-24 10:00:00" : "2011-07-25 10:00:00", 1, "t",
                        "0b6d7a8e-1c2d-4e5f-8a9b-0c1d2e3f4a5b"});
    insertEvents(m_path, rows);
    openManager();
    LogDlg log;
    log.show();
    auto* indicator = log.findChild<QLabel*>("pageIndicator");
    EXPECT_EQ(indicator->text(), QStringLiteral("1 / 2500"));
    click(log.findChild<QCheckBox*>("fromCheck"));
    log.findChild<QDateEdit*>("fromDate")->setDate(QDate(2011, 7, 25));
    click(log.findChild<QPushButton*>("searchButton"));
    EXPECT_EQ(indicator->text(), QStringLiteral("1 / 1500"));
    click(log.findChild<QPushButton*>("lastPageButton"));
    EXPECT_EQ(indicator->text(), QStringLiteral("1500 / 1500"));
}

} // namespace
