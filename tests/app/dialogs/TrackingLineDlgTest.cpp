#include "app/dialogs/TrackingLineDlg.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QComboBox>
#include <QPushButton>

#include <string>

using namespace velmora;
using namespace velmora::test;

namespace {

TEST(TrackingLineDlgTest, EntriesAreSortedAndNoneIsChosenAtOpening)
{
    TrackingLineDlg dialog;
    auto* durations = dialog.findChild<QComboBox*>("durationList");
    ASSERT_NE(durations, nullptr);
    QStringList entries;
    for (int i = 0; i < durations->count(); ++i)
        entries << durations->itemText(i);
    EXPECT_EQ(entries, (QStringList{"1 Days", "1 Hours", "3 Days", "3 Hours", "7 Days", "7 Hours"}));
    EXPECT_EQ(durations->currentIndex(), -1);
    EXPECT_EQ(dialog.getDurationHours(), 0);
    EXPECT_EQ(dialog.getDurationText(), QString());
    EXPECT_TRUE(dialog.findChild<QPushButton*>("showButton")->isDefault());
}

TEST(TrackingLineDlgTest, ShowWithoutAChoiceAsksForOneAndStaysOpen)
{
    TrackingLineDlg dialog;
    ShownBox box;
    bool stayedOpen = false;
    const int result = runModal(dialog, [&] {
        answerBox(box);
        // Enter presses the default button, "Show".
        QTest::keyClick(&dialog, Qt::Key_Return);
        stayedOpen = dialog.isVisible();
        click(dialog.findChild<QPushButton*>("cancelButton"));
    });
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("Choose a duration"));
    EXPECT_EQ(box.title, QStringLiteral("Velmora"));
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, QDialog::Rejected);
}

TEST(TrackingLineDlgTest, AnyChosenEntryClosesWithShowAndTellsItsHours)
{
    struct Case {
        int downs; // arrow-down presses from no choice
        const char* text;
        int hours;
    };
    const Case cases[] = {
        {1, "1 Days", 24}, {2, "1 Hours", 1}, {3, "3 Days", 72}, {4, "3 Hours", 3}, {5, "7 Days", 168}, {6, "7 Hours", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TrackingLineDlg dialog;
        auto* durations = dialog.findChild<QComboBox*>("durationList");
        const int result = runModal(dialog, [&] {
            durations->setFocus();
            for (int i = 0; i < c.downs; ++i)
                QTest::keyClick(durations, Qt::Key_Down);
            click(dialog.findChild<QPushButton*>("showButton"));
        });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(dialog.getDurationText(), QString::fromLatin1(c.text));
        EXPECT_EQ(dialog.getDurationHours(), c.hours);
    }
}

} // namespace
