#include "app/dialogs/SetupDlg.h"
#include "app/dialogs/TrackingLineDlg.h"
#include "app/dialogs/VehicleEditDlg.h"
#include "db/Setup.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QLabel>
#include <QPushButton>

#include <functional>
#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

class WindowTextsTest : public DatabaseFixture {};

// The small windows' captions, labels (right-aligned before their fields)
// and buttons, as the operator reads them.
TEST_F(WindowTextsTest, SmallWindowsShowTheirCaptionsLabelsAndButtons)
{
    const std::string id = "0b6d7a8e-1c2d-4e5f-8a9b-0c1d2e3f4a5b";
    insertVehicles(m_path, {vehicleRow(id, "Device 7")});
    openManager();
    TempDir setupDir;
    Setup::getInstance().open(setupDir.file("setup.db").c_str());

    struct Case {
        std::function<std::unique_ptr<QDialog>()> make;
        QString caption;
        QStringList labels; // sorted
        QStringList buttons;
        QStringList rightAligned;
    };
    const Case cases[] = {
        // The empty label is the MBTiles file's description, shown once a file is chosen.
        {[] { return std::make_unique<SetupDlg>(nullptr); }, "Setup",
         {"", "Archive Storage Bad", "Archive Storage Full", "Attribution :", "Attribution :",
          "Callback Port :", "Events that must be acknowledged, by priority (1 the most urgent).",
          "Fan Failure", "Fleet limit :", "G-Sensor", "MBTiles file :", "Motion", "Panic", "Per sender :",
          "Record Bad", "Road tiles :", "S.M.A.R.T. Bad", "S.M.A.R.T. Temp", "Satellite tiles :", "Sensor",
          "Silent", "Silent after :", "Source :", "Speed limit :", "Speeding", "Speeding after :", "Storage Bad",
          "Storage Full", "Take :", "Text-In", "Timeout :", "Video Loss", "Zone Entry", "Zone Exit",
          "km/h (0 none; a zone may have its own)", "minute", "minutes without a message (0 never)",
          "new vehicles a minute", "seconds above the limit", "vehicles"},
         {"Browse...", "Cancel", "OK"}, {"Callback Port :", "Timeout :", "Silent after :", "Speed limit :"}},
        {[id] { return std::make_unique<VehicleEditDlg>(id); }, "Edit Vehicle",
         {"Image :", "Info1 :", "Info2 :", "Name :", "Silent after :", "minutes (0 never)"}, {"...", "Cancel", "OK"},
         {"Image :", "Info1 :", "Info2 :", "Name :", "Silent after :"}},
        {[] { return std::make_unique<TrackingLineDlg>(); }, "Tracking Line", {"Duration :"}, {"Cancel", "Show"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption.toStdString());
        std::unique_ptr<QDialog> dialog = c.make();
        EXPECT_EQ(dialog->windowTitle(), c.caption);
        QStringList labels;
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            labels << label->text();
            if (c.rightAligned.contains(label->text())) {
                EXPECT_TRUE(label->alignment() & Qt::AlignRight) << label->text().toStdString();
            }
        }
        labels.sort();
        EXPECT_EQ(labels, c.labels);
        QStringList buttons;
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            buttons << button->text().remove(u'&');
        buttons.sort();
        EXPECT_EQ(buttons, c.buttons);
    }
    Setup::getInstance().close();
}

} // namespace
