#include "app/dialogs/LogDlg.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/EventTypeName.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QProgressDialog>
#include <QPushButton>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

using Records = std::vector<std::vector<std::string>>;

const std::string kVehicleA = "0b6d7a8e-1c2d-4e5f-8a9b-0c1d2e3f4a5b";
const std::string kVehicleB = "1f2e3d4c-5b6a-4978-8695-a4b3c2d1e0f9";

/// Reads RFC 4180 CSV: fields split by commas, quoted fields with doubled
/// quotes, every record ended by CR LF (the last one too). Anything else
/// is an error, reported in error.
bool parseCsv(const std::string& bytes, Records& records, std::string& error)
{
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        std::vector<std::string> record;
        for (;;) {
            std::string field;
            if (i < n && bytes[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= n) {
                        error = "unterminated quote";
                        return false;
                    }
                    if (bytes[i] == '"') {
                        if (i + 1 < n && bytes[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field += bytes[i++];
                }
            } else {
                while (i < n && bytes[i] != ',' && bytes[i] != '\r' && bytes[i] != '\n') {
                    if (bytes[i] == '"') {
                        error = "quote inside an unquoted field at " + std::to_string(i);
                        return false;
                    }
                    field += bytes[i++];
                }
            }
            record.push_back(field);
            if (i < n && bytes[i] == ',') {
                ++i;
                continue;
            }
            if (i + 1 < n && bytes[i] == '\r' && bytes[i + 1] == '\n') {
                i += 2;
                break;
            }
            error = "record not ended by CR LF at " + std::to_string(i);
            return false;
        }
        records.push_back(record);
    }
    return true;
}

/// A device text and the cell a spreadsheet must read for it: formulas
/// (and what turns into one once a leading tab or CR is stripped) behind an
/// apostrophe, everything else as it came.
struct AwkwardText {
    std::string stored;
    std::string cell;
};

const std::vector<AwkwardText>& awkwardTexts()
{
    static const std::vector<AwkwardText> texts = {
        {"plain", "plain"},
        {"comma, inside", "comma, inside"},
        {"quote \"q\" here", "quote \"q\" here"},
        {"line\nbreak", "line\nbreak"},
        {"cr\r\nlf", "cr\r\nlf"},
        {"=SUM(A1:A9)", "'=SUM(A1:A9)"},
        {"+1 555", "'+1 555"},
        {"-2", "'-2"},
        {"@cmd", "'@cmd"},
        {"\xC3\x9Cn\xC3\xAF c\xC3\xB8" "d\xC3\xA9", "\xC3\x9Cn\xC3\xAF c\xC3\xB8" "d\xC3\xA9"},
        {"'quoted", "'quoted"},
        {" spaced ", " spaced "},
        {"", ""},
        {"=", "'="},
        {"tab\there", "tab\there"},
        {"\t=1+2", "'\t=1+2"},
        {"\r=HYPERLINK(\"x\")", "'\r=HYPERLINK(\"x\")"},
        {"\tplain", "'\tplain"},
        {"\"", "\""},
        {",,,", ",,,"},
        {"-", "'-"},
        {"a=b", "a=b"},
    };
    return texts;
}

std::string guarded(const std::string& text)
{
    for (const AwkwardText& awkward : awkwardTexts()) {
        if (awkward.stored == text)
            return awkward.cell;
    }
    ADD_FAILURE() << "no expected cell for " << text;
    return text;
}

/// The header and one record per event matching condition, as the export
/// must write them, from the manager's own full read.
Records expectedCsv(const char* condition)
{
    Records records = {{"Vehicle Name", "Date/Time", "Event Type", "Device Title"}};
    DBManager::getInstance().loadEvents(condition);
    EventLogger& logger = EventLogger::getInstance();
    ScopedLock lock(logger.getLock());
    for (const EventLog& event : logger.getList()) {
        records.push_back({guarded(event.getName()), event.getTime(), eventTypeNameUtf8(event.getEventType()),
                           guarded(event.getDeviceTitle())});
    }
    return records;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> filesIn(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// Device texts that break naive CSV or would run as formulas.
std::vector<EventRow> awkwardEvents(int count)
{
    const std::vector<AwkwardText>& texts = awkwardTexts();
    std::vector<EventRow> rows;
    for (int i = 0; i < count; ++i) {
        EventRow row;
        row.name = texts[static_cast<size_t>(i) % texts.size()].stored;
        row.title = texts[static_cast<size_t>(i * 7 + 3) % texts.size()].stored;
        if (i % 23 != 5) {
            char time[32];
            std::snprintf(time, sizeof time, "2011-07-%02d %02d:%02d:00", 24 + i % 3, (i / 60) % 24, i % 60);
            row.time = time;
        }
        row.type = i % 16;
        row.vehicleId = i % 3 == 0 ? kVehicleB : kVehicleA;
        rows.push_back(row);
    }
    return rows;
}

class LogExportTest : public DatabaseFixture {
protected:
    void SetUp() override
    {
        DatabaseFixture::SetUp();
        m_out = std::make_unique<TempDir>();
    }

    std::unique_ptr<LogDlg> openLog()
    {
        auto dialog = std::make_unique<LogDlg>();
        dialog->show();
        QApplication::processEvents();
        return dialog;
    }

    /// Answers the save dialog with path typed into its name field;
    /// confirms replacing an existing file when asked.
    void answerSaveDialog(const std::string& path, bool& seen, ShownBox* replace = nullptr)
    {
        onNextModal(
            [path, &seen, replace](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            seen = true;
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            // Typed, the path would open the name completer's popup, which
            // takes the next click for itself.
            name->setText(QString::fromStdString(path));
            if (replace != nullptr)
                answerBox(*replace, QMessageBox::Yes);
            auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            ASSERT_NE(buttons, nullptr);
            QPushButton* save = buttons->button(QDialogButtonBox::Save);
            ASSERT_NE(save, nullptr);
            QTest::mouseClick(save, Qt::LeftButton);
            },
            5000,
            [](QWidget* modal) {
                return qobject_cast<QFileDialog*>(modal) != nullptr &&
                       modal->objectName() == QStringLiteral("exportFileDialog");
            });
    }

    std::unique_ptr<TempDir> m_out;
};

TEST_F(LogExportTest, ExportWritesEveryEventOfTheSearchInOrderAsGuardedCsv)
{
    insertVehicles(m_path, {vehicleRow(kVehicleA, "Alpha"), vehicleRow(kVehicleB, "Bravo")});
    insertEvents(m_path, awkwardEvents(400));
    openManager();
    auto dialog = openLog();
    auto* vehicles = dialog->findChild<QComboBox*>("vehicleList");
    auto* search = dialog->findChild<QPushButton*>("searchButton");
    auto* exportButton = dialog->findChild<QPushButton*>("exportButton");
    const std::string path = m_out->file("events.csv");

    struct Case {
        const char* name;
        const char* vehicle; // null: the search of the opening (every event)
        std::string condition;
    };
    const Case cases[] = {
        {"every event", nullptr, ""},
        {"one vehicle", "Bravo",
         "vehicle_id = '" + kVehicleB + "' AND time between '1970-01-01 00:00:00' AND '2100-12-31 24:59:59' "},
    };
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.vehicle != nullptr) {
            vehicles->setCurrentIndex(vehicles->findText(QString::fromLatin1(c.vehicle)));
            click(search);
        }
        bool seen = false;
        ShownBox replace;
        answerSaveDialog(path, seen, first ? nullptr : &replace);
        click(exportButton);
        EXPECT_TRUE(seen);
        EXPECT_EQ(replace.seen, !first);
        first = false;

        const std::string bytes = readFile(path);
        EXPECT_EQ(bytes.rfind("Vehicle Name,Date/Time,Event Type,Device Title\r\n", 0), 0u);
        EXPECT_TRUE(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8() ==
                    QByteArray::fromStdString(bytes))
            << "not UTF-8";
        Records records;
        std::string error;
        ASSERT_TRUE(parseCsv(bytes, records, error)) << error;
        const Records expected = expectedCsv(c.condition.empty() ? nullptr : c.condition.c_str());
        EXPECT_GT(expected.size(), 101u); // more than the page on screen
        EXPECT_EQ(records, expected);
        EXPECT_EQ(filesIn(m_out->path()), std::vector<std::string>{"events.csv"});
    }
}

TEST_F(LogExportTest, AFailedWriteIsReportedAndLeavesTheChosenNameAsItWas)
{
    insertEvents(m_path, awkwardEvents(5000));
    openManager();
    auto dialog = openLog();
    const std::string path = m_out->file("events.csv");
    std::ofstream(path, std::ios::binary) << "old\r\n";

    // Files of this process may grow to 20 kB only: the export's write fails
    // part way, as on a full disk.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    bool seen = false;
    ShownBox replace;
    ShownBox failure;
    answerSaveDialog(path, seen, &replace);
    answerBox(failure, QMessageBox::Ok, QStringLiteral("The events could not"), 10000);
    click(dialog->findChild<QPushButton*>("exportButton"));
    QTest::qWait(100);

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);

    EXPECT_TRUE(seen);
    EXPECT_TRUE(failure.seen);
    EXPECT_EQ(failure.icon, QMessageBox::Critical);
    EXPECT_TRUE(failure.text.startsWith(QString::fromStdString("The events could not be written to " + path)))
        << failure.text.toStdString();
    EXPECT_EQ(readFile(path), "old\r\n");
    EXPECT_EQ(filesIn(m_out->path()), std::vector<std::string>{"events.csv"});
}

TEST_F(LogExportTest, ALongExportShowsItsProgressAndCanBeCancelled)
{
    insertEvents(m_path, awkwardEvents(30000));
    openManager();
    auto dialog = openLog();
    const std::string path = m_out->file("events.csv");

    bool seen = false;
    bool progressShown = false;
    answerSaveDialog(path, seen);
    // The progress window follows the save dialog; cancel it.
    onNextModal(
        [&progressShown](QWidget* modal) {
            auto* progress = qobject_cast<QProgressDialog*>(modal);
            progressShown = true;
            EXPECT_EQ(progress->maximum(), 30000);
            QPushButton* cancel = progress->findChild<QPushButton*>();
            ASSERT_NE(cancel, nullptr);
            QTest::mouseClick(cancel, Qt::LeftButton);
        },
        10000, [](QWidget* modal) { return qobject_cast<QProgressDialog*>(modal) != nullptr; });
    click(dialog->findChild<QPushButton*>("exportButton"));

    EXPECT_TRUE(seen);
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(filesIn(m_out->path()).empty());
}

TEST_F(LogExportTest, NothingToExportOrACancelledChoiceWritesNothing)
{
    openManager();
    {
        auto dialog = openLog();
        ShownBox box;
        answerBox(box);
        click(dialog->findChild<QPushButton*>("exportButton"));
        EXPECT_TRUE(box.seen);
        EXPECT_EQ(box.text, QStringLiteral("No data found."));
    }
    DBManager::getInstance().shutdown();
    insertEvents(m_path, awkwardEvents(10));
    openManager();
    auto dialog = openLog();
    bool seen = false;
    onNextModal([&seen](QWidget* modal) {
        seen = qobject_cast<QFileDialog*>(modal) != nullptr;
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    click(dialog->findChild<QPushButton*>("exportButton"));
    EXPECT_TRUE(seen);
    EXPECT_TRUE(filesIn(m_out->path()).empty());
}

} // namespace
