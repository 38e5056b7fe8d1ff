#include "app/dialogs/VehicleEditDlg.h"
#include "app/hub/RuleSettings.h"
#include "db/Setup.h"
#include "db/DBManager.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/UniqueID.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string kId = "0b6d7a8e-1c2d-4e5f-8a9b-0c1d2e3f4a5b";

/// The operator's texts of the vehicle as the file holds them.
struct Stored {
    std::string name;
    std::string editedName;
    std::string info1;
    std::string info2;
    std::string imagePath;
    bool operator==(const Stored&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stored& s)
{
    return out << "{" << s.name << "|" << s.editedName << "|" << s.info1 << "|" << s.info2 << "|" << s.imagePath
               << "}";
}

class VehicleEditDlgTest : public DatabaseFixture {
protected:
    void addVehicle(const VehicleRow& row)
    {
        insertVehicles(m_path, {row});
        openManager();
    }
    /// Writes what is queued, then reads the row back.
    Stored storedRow()
    {
        DBManager::getInstance().shutdown();
        const Rows rows =
            queryRows(m_path, "SELECT name, edited_name, info1, info2, image_path FROM vehicle_info WHERE id = '" +
                                  kId + "';");
        EXPECT_EQ(rows.size(), 1u);
        if (rows.empty())
            return {};
        return {rows[0][0], rows[0][1], rows[0][2], rows[0][3], rows[0][4]};
    }
    Stored inContainer()
    {
        VehicleInfo* vehicle = VehicleInfoContainer::getInstance().find(UniqueID(kId.c_str()));
        EXPECT_NE(vehicle, nullptr);
        if (vehicle == nullptr)
            return {};
        return {vehicle->getName(), vehicle->getEditedName(), vehicle->getInfo1(), vehicle->getInfo2(),
                vehicle->getImagePath()};
    }
    std::string makeFile(const std::string& relative)
    {
        const std::filesystem::path path = std::filesystem::path(m_dir->path()) / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "png";
        return path.string();
    }
};

TEST_F(VehicleEditDlgTest, OkStoresWhatWasTypedAndOnlyImagesThatExist)
{
    struct Case {
        const char* name;
        VehicleRow before;
        std::string shownName;
        // Typed into Name, Info1, Info2, Image; none leaves the field alone.
        std::optional<std::string> name_, info1, info2, image;
        Stored after;
    };
    const std::string longDirs = std::string(60, 'd') + "/" + std::string(60, 'e') + "/" + std::string(60, 'f') +
                                 "/" + std::string(60, 'g') + "/" + std::string(60, 'h');
    const std::string existing = makeFile("icons/bus.png");
    const std::string longExisting = makeFile(longDirs + "/" + std::string(100, 'i') + ".png");
    ASSERT_GT(longExisting.size(), 400u);
    const std::string thirtyTwo(32, 'x');
    const std::string fortyWithUmlauts = std::string(30, 'a') + "\xC3\x9C\xC3\x9C" + "bbbbbbbb";

    const Case cases[] = {
        {"device name becomes the edited name", vehicleRow(kId, "Device 7"), "Device 7", {}, {}, {}, {},
         {"Device 7", "Device 7", "", "", ""}},
        {"edited name is shown", vehicleRow(kId, "Device 7", "Mine"), "Mine", {}, {}, {}, {},
         {"Device 7", "Mine", "", "", ""}},
        {"an empty name clears the edited name", vehicleRow(kId, "Device 7", "Mine"), "Mine", "", {}, {}, {},
         {"Device 7", "", "", "", ""}},
        {"33rd character refused", vehicleRow(kId, "Device 7"), "Device 7", std::string(40, 'x'),
         std::string(33, 'y'), std::string(50, 'z'), {},
         {"Device 7", thirtyTwo, std::string(32, 'y'), std::string(32, 'z'), ""}},
        {"characters, not bytes, are counted", vehicleRow(kId, "Device 7"), "Device 7", fortyWithUmlauts, {}, {}, {},
         {"Device 7", std::string(30, 'a') + "\xC3\x9C\xC3\x9C", "", "", ""}},
        {"existing image", vehicleRow(kId, "Device 7"), "Device 7", {}, "first", "second", existing,
         {"Device 7", "Device 7", "first", "second", existing}},
        {"long image path", vehicleRow(kId, "Device 7"), "Device 7", {}, {}, {}, longExisting,
         {"Device 7", "Device 7", "", "", longExisting}},
        {"missing file", vehicleRow(kId, "Device 7"), "Device 7", {}, {}, {}, m_dir->file("icons/none.png"),
         {"Device 7", "Device 7", "", "", ""}},
        {"missing folder", vehicleRow(kId, "Device 7"), "Device 7", {}, {}, {}, m_dir->file("nowhere/none.png"),
         {"Device 7", "Device 7", "", "", ""}},
        {"a folder is no image", vehicleRow(kId, "Device 7"), "Device 7", {}, {}, {}, m_dir->file("icons"),
         {"Device 7", "Device 7", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closeAll();
        executeSql(m_path, "DELETE FROM vehicle_info;");
        addVehicle(c.before);
        VehicleEditDlg dialog(kId);
        auto* name = dialog.findChild<QLineEdit*>("nameEdit");
        auto* info1 = dialog.findChild<QLineEdit*>("info1Edit");
        auto* info2 = dialog.findChild<QLineEdit*>("info2Edit");
        auto* image = dialog.findChild<QLineEdit*>("imageEdit");
        ASSERT_TRUE(name && info1 && info2 && image);
        const int result = runModal(dialog, [&] {
            EXPECT_EQ(name->text().toStdString(), c.shownName);
            const auto type = [](QLineEdit* field, const std::optional<std::string>& text) {
                if (text)
                    retype(field, QString::fromStdString(*text));
            };
            type(name, c.name_);
            type(info1, c.info1);
            type(info2, c.info2);
            type(image, c.image);
            if (c.image) {
                EXPECT_EQ(image->text().toStdString(), *c.image); // any length
            }
            click(dialog.findChild<QPushButton*>("okButton"));
        });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(inContainer(), c.after);
        EXPECT_EQ(storedRow(), c.after);
    }
}

TEST_F(VehicleEditDlgTest, PastedTextIsCutToTheLimitExceptTheImagePath)
{
    addVehicle(vehicleRow(kId, "Device 7"));
    VehicleEditDlg dialog(kId);
    auto* name = dialog.findChild<QLineEdit*>("nameEdit");
    auto* image = dialog.findChild<QLineEdit*>("imageEdit");
    runModal(dialog, [&] {
        QGuiApplication::clipboard()->setText(QString(40, u'n'));
        name->setFocus();
        QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
        QGuiApplication::clipboard()->setText(QString(40000, u'p'));
        image->setFocus();
        QTest::keyClick(image, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(name->text(), QString(32, u'n'));
        EXPECT_EQ(image->text().size(), 40000);
        click(dialog.findChild<QPushButton*>("cancelButton"));
    });
}

// Texts stored longer than the limit (by the device, or before the limit
// existed) come back from OK unchanged; typing may shorten them but never
// lengthen them, and nothing typed splits a surrogate pair.
TEST_F(VehicleEditDlgTest, LongerStoredTextsAreKeptAndOnlyTypingIsLimited)
{
    const std::string truck = "\xF0\x9F\x9A\x9A"; // one character, two UTF-16 units
    const std::string forty = "Device name of forty characters, exactly";
    ASSERT_EQ(forty.size(), 40u);
    VehicleRow row = vehicleRow(kId, forty);
    row.info1 = std::string(31, 'a') + truck;
    row.info2 = std::string(31, 'b');

    struct Case {
        const char* name;
        std::function<void(QLineEdit* name, QLineEdit* info1, QLineEdit* info2)> keys;
        Stored after;
    };
    const Case cases[] = {
        {"OK without a change", [](QLineEdit*, QLineEdit*, QLineEdit*) {},
         {forty, forty, std::string(31, 'a') + truck, std::string(31, 'b'), ""}},
        {"typing at the end and in the middle adds nothing",
         [](QLineEdit* name, QLineEdit* info1, QLineEdit* info2) {
             name->setFocus();
             QTest::keyClick(name, Qt::Key_End);
             QTest::keyClicks(name, "xyz");
             QTest::keyClick(name, Qt::Key_Home);
             QTest::keyClicks(name, "w");
             info1->setFocus();
             QTest::keyClick(info1, Qt::Key_End);
             QTest::keyClicks(info1, "c");
             info2->setFocus();
             QTest::keyClick(info2, Qt::Key_End);
             QTest::sendKeyEvent(QTest::Click, info2, Qt::Key_unknown, QString::fromUtf8("\xF0\x9F\x9A\x9A"),
                                 Qt::NoModifier);
         },
         {forty, forty, std::string(31, 'a') + truck, std::string(31, 'b'), ""}},
        {"a shortened text does not grow back past the limit",
         [](QLineEdit* name, QLineEdit*, QLineEdit*) {
             name->setFocus();
             QTest::keyClick(name, Qt::Key_End);
             QTest::keyClick(name, Qt::Key_Backspace);
             QTest::keyClicks(name, "yz");
         },
         {forty, forty.substr(0, 39), std::string(31, 'a') + truck, std::string(31, 'b'), ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closeAll();
        executeSql(m_path, "DELETE FROM vehicle_info;");
        addVehicle(row);
        VehicleEditDlg dialog(kId);
        runModal(dialog, [&] {
            c.keys(dialog.findChild<QLineEdit*>("nameEdit"), dialog.findChild<QLineEdit*>("info1Edit"),
                   dialog.findChild<QLineEdit*>("info2Edit"));
            click(dialog.findChild<QPushButton*>("okButton"));
        });
        EXPECT_EQ(storedRow(), c.after);
    }
}

TEST_F(VehicleEditDlgTest, CancelAfterEditingEveryFieldChangesNothing)
{
    VehicleRow row = vehicleRow(kId, "Device 7", "Mine");
    row.info1 = "one";
    row.info2 = "two";
    row.imagePath = makeFile("bus.png");
    addVehicle(row);
    const Stored before = inContainer();
    VehicleEditDlg dialog(kId);
    const int result = runModal(dialog, [&] {
        for (const char* field : {"nameEdit", "info1Edit", "info2Edit", "imageEdit"})
            retype(dialog.findChild<QLineEdit*>(field), QStringLiteral("changed"));
        click(dialog.findChild<QPushButton*>("cancelButton"));
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(inContainer(), before);
    EXPECT_EQ(storedRow(), before);
}

TEST_F(VehicleEditDlgTest, TheImageButtonFillsThePathAndItsCancelKeepsIt)
{
    addVehicle(vehicleRow(kId, "Device 7"));
    // A backslash is part of a file name here, not a separator.
    const std::string chosen = makeFile("icons/tr\\uck.png");
    VehicleEditDlg dialog(kId);
    auto* image = dialog.findChild<QLineEdit*>("imageEdit");
    auto* browse = dialog.findChild<QPushButton*>("browseButton");
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->text(), QStringLiteral("..."));
    const auto isImageDialog = [](QWidget* modal) {
        return qobject_cast<QFileDialog*>(modal) != nullptr && modal->objectName() == QStringLiteral("imageFileDialog");
    };
    const int result = runModal(dialog, [&] {
        onNextModal(
            [&](QWidget* modal) {
                auto* files = qobject_cast<QFileDialog*>(modal);
                EXPECT_EQ(files->nameFilters(),
                          QStringList({"PNG File(*.png)", "BMP File(*.bmp)", "JPG File(*.jpg)"}));
                EXPECT_EQ(files->selectedNameFilter(), QStringLiteral("PNG File(*.png)"));
                EXPECT_EQ(files->defaultSuffix(), QStringLiteral("png"));
                auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                auto* buttons = modal->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
                // Only an existing file can be chosen: Open stays without effect.
                name->setText(QString::fromStdString(m_dir->file("icons/none.png")));
                QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
                EXPECT_TRUE(modal->isVisible()) << "a missing file was accepted";
                name->setText(QString::fromStdString(chosen));
                QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
            },
            5000, isImageDialog);
        click(browse);
        EXPECT_EQ(image->text().toStdString(), chosen);

        onNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); }, 5000, isImageDialog);
        click(browse);
        EXPECT_EQ(image->text().toStdString(), chosen);
        click(dialog.findChild<QPushButton*>("okButton"));
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(storedRow().imagePath, chosen);
}

TEST_F(VehicleEditDlgTest, AnUnknownVehicleOpensNothingAndStoresNothing)
{
    addVehicle(vehicleRow(kId, "Device 7", "Mine"));
    const Stored before = inContainer();
    for (const std::string& id : {std::string("1f2e3d4c-5b6a-4978-8695-a4b3c2d1e0f9"), std::string("not an id"),
                                  std::string(), std::string("00000000-0000-0000-0000-000000000000")}) {
        SCOPED_TRACE(id);
        VehicleEditDlg dialog(id);
        bool opened = false;
        QTimer::singleShot(0, [&] { opened = dialog.isVisible(); });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        QApplication::processEvents();
        EXPECT_FALSE(opened);
        EXPECT_EQ(dialog.getVehicle(), nullptr);
    }
    EXPECT_EQ(storedRow(), before);
}

} // namespace

// The vehicle's own silent time: blank follows the Setup window's (shown
// as the hint), a number is kept in setup.db under the vehicle's id, 0 is
// never, and blanking it drops it again.
TEST_F(VehicleEditDlgTest, TheSilentTimeOfItsOwnIsKeptInSetupDb)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_dir->file("setup.db").c_str());
    addVehicle(vehicleRow(kId, "Device 7"));
    UniqueID id;
    ASSERT_TRUE(UniqueID::parse(kId.c_str(), id));
    struct Step {
        const char* typed; // null: left alone
        const char* shown; // before typing
        int32_t stored;    // -1: none of its own
    };
    const Step steps[] = {
        {nullptr, "", -1}, {"25", "", 25}, {nullptr, "25", 25}, {"0", "25", 0}, {"", "0", -1}, {"9x9", "", 99},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.typed != nullptr ? step.typed : "(left alone)");
        VehicleEditDlg dialog(kId);
        auto* silent = dialog.findChild<QLineEdit*>("silentEdit");
        ASSERT_NE(silent, nullptr);
        runModal(dialog, [&] {
            EXPECT_EQ(silent->text().toStdString(), step.shown);
            EXPECT_EQ(silent->placeholderText(), QStringLiteral("as in Setup (10)"));
            if (step.typed != nullptr) {
                // Typed key by key: the field takes digits only.
                silent->clear();
                QTest::keyClicks(silent, QString::fromLatin1(step.typed));
            }
            click(dialog.findChild<QPushButton*>("okButton"));
        });
        EXPECT_EQ(RuleSettings::vehicleSilentMinutes(setup, id), step.stored);
    }
    setup.close();
}
