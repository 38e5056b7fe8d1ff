#include "app/dialogs/LogDlg.h"
#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "foundation/UniqueID.h"
#include "foundation/thread/ScopedLock.h"
#include "intake/EventTypeName.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

using Row = std::array<QString, 4>;

const std::string kVehicleA = "0b6d7a8e-1c2d-4e5f-8a9b-0c1d2e3f4a5b";
const std::string kVehicleB = "1f2e3d4c-5b6a-4978-8695-a4b3c2d1e0f9";
const std::string kVehicleC = "2a3b4c5d-6e7f-4081-9293-a4b5c6d7e8f9";
// The list's 616 pixels less its frame, the scroll bar that is always
// shown and 502 for the first three columns, in the tests' style.
constexpr int LAST_COLUMN_WIDTH = 98;

/// The window's controls, found as a test finds them: by name.
struct LogControls {
    explicit LogControls(LogDlg& dialog)
        : fromCheck(dialog.findChild<QCheckBox*>("fromCheck")), fromDate(dialog.findChild<QDateEdit*>("fromDate")),
          toCheck(dialog.findChild<QCheckBox*>("toCheck")), toDate(dialog.findChild<QDateEdit*>("toDate")),
          vehicles(dialog.findChild<QComboBox*>("vehicleList")),
          search(dialog.findChild<QPushButton*>("searchButton")),
          exportButton(dialog.findChild<QPushButton*>("exportButton")),
          list(dialog.findChild<QTableWidget*>("eventList")), first(dialog.findChild<QPushButton*>("firstPageButton")),
          previous(dialog.findChild<QPushButton*>("previousPageButton")),
          next(dialog.findChild<QPushButton*>("nextPageButton")), last(dialog.findChild<QPushButton*>("lastPageButton")),
          indicator(dialog.findChild<QLabel*>("pageIndicator"))
    {
        EXPECT_TRUE(fromCheck && fromDate && toCheck && toDate && vehicles && search && exportButton && list && first &&
                    previous && next && last && indicator);
    }

    std::vector<Row> rows() const
    {
        std::vector<Row> shown;
        for (int r = 0; r < list->rowCount(); ++r) {
            Row row;
            for (int c = 0; c < 4; ++c)
                row[c] = list->item(r, c) != nullptr ? list->item(r, c)->text() : QStringLiteral("<none>");
            shown.push_back(row);
        }
        return shown;
    }
    /// "<<", "<", ">", ">>" enabled, as a four-letter text such as "--++".
    std::string buttons() const
    {
        std::string state;
        for (QPushButton* button : {first, previous, next, last})
            state += button->isEnabled() ? '+' : '-';
        return state;
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> shown;
        for (const Row& row : rows())
            shown.push_back(row[0].toStdString());
        return shown;
    }

    QCheckBox* fromCheck;
    QDateEdit* fromDate;
    QCheckBox* toCheck;
    QDateEdit* toDate;
    QComboBox* vehicles;
    QPushButton* search;
    QPushButton* exportButton;
    QTableWidget* list;
    QPushButton* first;
    QPushButton* previous;
    QPushButton* next;
    QPushButton* last;
    QLabel* indicator;
};

/// The rows the window must show for condition, in the order the manager's
/// own full read gives them.
std::vector<Row> expectedRows(const char* condition)
{
    DBManager::getInstance().loadEvents(condition);
    EventLogger& logger = EventLogger::getInstance();
    ScopedLock lock(logger.getLock());
    std::vector<Row> rows;
    for (const EventLog& event : logger.getList()) {
        rows.push_back({QString::fromUtf8(event.getName()), QString::fromUtf8(event.getTime()),
                        QString::fromUtf16(eventTypeName(event.getEventType())),
                        QString::fromUtf8(event.getDeviceTitle())});
    }
    return rows;
}

std::vector<Row> slice(const std::vector<Row>& all, int page)
{
    const size_t start = static_cast<size_t>(page - 1) * 100;
    if (start >= all.size())
        return {};
    return std::vector<Row>(all.begin() + static_cast<long>(start),
                            all.begin() + static_cast<long>(std::min(all.size(), start + 100)));
}

std::vector<EventRow> numberedEvents(int count, const std::string& vehicle = kVehicleA)
{
    std::vector<EventRow> rows;
    for (int i = 1; i <= count; ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "2011-07-25 %02d:%02d:%02d", (i / 3600) % 24, (i / 60) % 60, i % 60);
        rows.push_back({"ev" + std::to_string(i), std::string(time), i % 14, "CAM " + std::to_string(i % 4), vehicle});
    }
    return rows;
}

class LogDlgTest : public DatabaseFixture {
protected:
    /// Opens the window on screen and checks that opening showed no box.
    std::unique_ptr<LogDlg> openLog()
    {
        auto dialog = std::make_unique<LogDlg>();
        dialog->show();
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        return dialog;
    }
};

// The paging rules of the window, step by step: what each button shows,
// the indicator and which buttons stay usable.
TEST_F(LogDlgTest, PagesHoldAHundredEventsAndTheButtonsFollowThePage)
{
    struct Step {
        const char* click; // null: the window as it opens
        const char* indicator;
        int firstShown; // number of the first event shown, 0 for none
        int lastShown;
        const char* buttons;
    };
    struct Case {
        int events;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {250,
         {{nullptr, "1 / 3", 1, 100, "--++"},
          {">", "2 / 3", 101, 200, "++++"},
          {">>", "3 / 3", 201, 250, "++--"},
          {"<", "2 / 3", 101, 200, "++++"},
          {"<", "1 / 3", 1, 100, "--++"},
          {">>", "3 / 3", 201, 250, "++--"},
          {"<<", "1 / 3", 1, 100, "--++"},
          {">", "2 / 3", 101, 200, "++++"},
          {">", "3 / 3", 201, 250, "++--"}}},
        {100, {{nullptr, "1 / 1", 1, 100, "----"}}},
        {101,
         {{nullptr, "1 / 2", 1, 100, "--++"},
          {">", "2 / 2", 101, 101, "++--"},
          {"<", "1 / 2", 1, 100, "--++"},
          {">>", "2 / 2", 101, 101, "++--"},
          {"<<", "1 / 2", 1, 100, "--++"}}},
        {200, {{nullptr, "1 / 2", 1, 100, "--++"}, {">", "2 / 2", 101, 200, "++--"}}},
        {99, {{nullptr, "1 / 1", 1, 99, "----"}}},
        {1, {{nullptr, "1 / 1", 1, 1, "----"}}},
        {0, {{nullptr, "1 / 1", 0, 0, "----"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.events);
        fresh();
        insertEvents(m_path, numberedEvents(c.events));
        openManager();
        auto dialog = openLog();
        LogControls controls(*dialog);
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.click != nullptr ? step.click : "open");
            if (step.click != nullptr) {
                const std::string which = step.click;
                click(which == "<<" ? controls.first
                      : which == "<" ? controls.previous
                      : which == ">" ? controls.next
                                     : controls.last);
            }
            EXPECT_EQ(controls.indicator->text().toStdString(), step.indicator);
            EXPECT_EQ(controls.buttons(), step.buttons);
            std::vector<std::string> expected;
            for (int i = step.firstShown; i >= 1 && i <= step.lastShown; ++i)
                expected.push_back("ev" + std::to_string(i));
            EXPECT_EQ(controls.names(), expected);
        }
    }
}

// The From/To boxes and the vehicle choice, against events on the edges
// of the day, a NULL time and times outside the default bounds.
TEST_F(LogDlgTest, SearchUsesWholeDaysTheDefaultBoundsAndTheChosenVehicle)
{
    insertVehicles(m_path, {vehicleRow(kVehicleA, "Alpha", "", false), vehicleRow(kVehicleB, "Bravo", "Bee", true)});
    insertEvents(m_path, {{"A 24 23:59:59", "2011-07-24 23:59:59", 1, "t", kVehicleA},
                          {"A 25 00:00:00", "2011-07-25 00:00:00", 1, "t", kVehicleA},
                          {"B 25 12:00:00", "2011-07-25 12:00:00", 1, "t", kVehicleB},
                          {"A 25 23:59:59", "2011-07-25 23:59:59", 1, "t", kVehicleA},
                          {"B 26 00:00:00", "2011-07-26 00:00:00", 1, "t", kVehicleB},
                          {"A 2099", "2099-12-31 23:59:59", 1, "t", kVehicleA},
                          {"A null", std::nullopt, 1, "t", kVehicleA},
                          {"B 1969", "1969-12-31 23:00:00", 1, "t", kVehicleB}});
    openManager();
    auto dialog = openLog();
    LogControls controls(*dialog);
    // Opening reads every event, NULL times and all.
    EXPECT_EQ(controls.names().size(), 8u);
    EXPECT_FALSE(controls.fromDate->isEnabled());
    EXPECT_FALSE(controls.toDate->isEnabled());

    const QDate day(2011, 7, 25);
    struct Case {
        const char* name;
        bool from;
        QDate fromDay;
        bool to;
        QDate toDay;
        const char* vehicle; // entry text, null for "(All Vehicles)"
        std::vector<std::string> found;
    };
    const Case cases[] = {
        {"no bounds", false, day, false, day, nullptr,
         {"A 24 23:59:59", "A 25 00:00:00", "B 25 12:00:00", "A 25 23:59:59", "B 26 00:00:00", "A 2099"}},
        {"from only", true, day, false, day, nullptr,
         {"A 25 00:00:00", "B 25 12:00:00", "A 25 23:59:59", "B 26 00:00:00", "A 2099"}},
        {"to only", false, day, true, day, nullptr,
         {"A 24 23:59:59", "A 25 00:00:00", "B 25 12:00:00", "A 25 23:59:59"}},
        {"same day", true, day, true, day, nullptr, {"A 25 00:00:00", "B 25 12:00:00", "A 25 23:59:59"}},
        {"one vehicle, same day", true, day, true, day, "Alpha", {"A 25 00:00:00", "A 25 23:59:59"}},
        {"deleted vehicle", false, day, false, day, "Bravo (deleted)", {"B 25 12:00:00", "B 26 00:00:00"}},
        {"last day of the century", true, QDate(2099, 12, 31), false, day, nullptr, {"A 2099"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (controls.fromCheck->isChecked() != c.from)
            click(controls.fromCheck);
        if (controls.toCheck->isChecked() != c.to)
            click(controls.toCheck);
        EXPECT_EQ(controls.fromDate->isEnabled(), c.from);
        EXPECT_EQ(controls.toDate->isEnabled(), c.to);
        controls.fromDate->setDate(c.fromDay);
        controls.toDate->setDate(c.toDay);
        const int entry = c.vehicle != nullptr ? controls.vehicles->findText(QString::fromUtf8(c.vehicle)) : 0;
        ASSERT_GE(entry, 0);
        controls.vehicles->setCurrentIndex(entry);
        click(controls.search);
        EXPECT_EQ(controls.names(), c.found);
        EXPECT_EQ(controls.indicator->text(), QStringLiteral("1 / 1"));
    }

    // An end before the start finds nothing, and says so.
    if (!controls.fromCheck->isChecked())
        click(controls.fromCheck);
    if (!controls.toCheck->isChecked())
        click(controls.toCheck);
    controls.fromDate->setDate(QDate(2011, 7, 26));
    controls.toDate->setDate(QDate(2011, 7, 24));
    controls.vehicles->setCurrentIndex(0);
    ShownBox box;
    answerBox(box);
    click(controls.search);
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.text, QStringLiteral("No data found."));
    EXPECT_EQ(box.title, QStringLiteral("Velmora"));
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_TRUE(controls.names().empty());
    EXPECT_EQ(controls.indicator->text(), QStringLiteral("1 / 1"));
    EXPECT_EQ(controls.buttons(), "----");
}

TEST_F(LogDlgTest, VehicleListIsSortedWithAllVehiclesFirstAndCarriesIds)
{
    insertVehicles(m_path, {vehicleRow(kVehicleA, "device-a", "Zulu", false),
                            vehicleRow(kVehicleB, "alpha", "", false),
                            vehicleRow(kVehicleC, "Bravo", "renamed", true)});
    openManager();
    auto dialog = openLog();
    LogControls controls(*dialog);
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < controls.vehicles->count(); ++i) {
        entries.emplace_back(controls.vehicles->itemText(i).toStdString(),
                             controls.vehicles->itemData(i).toString().toStdString());
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"(All Vehicles)", ""}, {"alpha", kVehicleB}, {"Bravo (deleted)", kVehicleC}, {"Zulu", kVehicleA}};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(controls.vehicles->currentIndex(), 0);
}

TEST_F(LogDlgTest, ColumnsShowNameTimeTypeNameAndTitleCentred)
{
    std::vector<EventRow> rows;
    for (int type : {0, 3, 11, 13, 14, 15, -1, 1000})
        rows.push_back({"bus " + std::to_string(type), "2011-07-25 10:00:00", type, "Fr\xC3\xBCh camera", kVehicleA});
    insertEvents(m_path, rows);
    openManager();
    auto dialog = openLog();
    LogControls controls(*dialog);

    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Log - v1.0.0 b201107251"));
    QStringList headings;
    for (int c = 0; c < controls.list->columnCount(); ++c)
        headings << controls.list->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headings, (QStringList{"Vehicle Name", "Date/Time", "Event Type", "Device Title"}));
    EXPECT_EQ(controls.list->columnWidth(0), 200);
    EXPECT_EQ(controls.list->columnWidth(1), 150);
    EXPECT_EQ(controls.list->columnWidth(2), 150);
    EXPECT_EQ(controls.list->columnWidth(3), LAST_COLUMN_WIDTH);

    QStringList texts;
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        texts << button->text();
    for (QLabel* label : dialog->findChildren<QLabel*>())
        texts << label->text();
    texts.removeAll(QString()); // the list's corner button
    texts.sort();
    EXPECT_EQ(texts, (QStringList{" From :", " To :", "1 / 1", "<", "<<", ">", ">>", "Alarms...", "Export...",
                                  "Search", "Vehicle name :"}));

    // Kinds no device or rule has show no name; 1000 is the watch rules' Silent.
    const std::vector<QString> typeNames = {"Sensor", "Text-In", "G-Sensor", "Panic", "", "", "", "Silent"};
    const std::vector<Row> shown = controls.rows();
    ASSERT_EQ(shown.size(), typeNames.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i][2], typeNames[i]) << i;
        EXPECT_EQ(shown[i][1], QStringLiteral("2011-07-25 10:00:00"));
        EXPECT_EQ(shown[i][3], QString::fromUtf8("Fr\xC3\xBCh camera"));
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(controls.list->item(static_cast<int>(i), c)->textAlignment(), int(Qt::AlignCenter));
    }
    EXPECT_EQ(controls.list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(controls.list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(controls.list->isSortingEnabled());
    EXPECT_TRUE(controls.list->showGrid());
}

TEST_F(LogDlgTest, TheListGrowsWithTheWindowAndTheWindowNeverShrinksBelowItsFirstSize)
{
    openManager();
    auto dialog = openLog();
    LogControls controls(*dialog);
    const QSize initial = dialog->size();
    const QRect list = controls.list->geometry();
    const QRect search = controls.search->geometry();
    std::vector<QRect> bottomRow;
    for (QWidget* w : {static_cast<QWidget*>(controls.first), static_cast<QWidget*>(controls.previous),
                       static_cast<QWidget*>(controls.indicator), static_cast<QWidget*>(controls.next),
                       static_cast<QWidget*>(controls.last)})
        bottomRow.push_back(w->geometry());

    struct Case {
        QSize asked;
        QSize expected;
    };
    const Case cases[] = {
        {initial + QSize(200, 150), initial + QSize(200, 150)},
        {initial + QSize(37, 0), initial + QSize(37, 0)},
        {initial - QSize(100, 100), initial},
        {QSize(initial.width() + 50, 10), QSize(initial.width() + 50, initial.height())},
        {initial, initial},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked.width());
        dialog->resize(c.asked);
        QApplication::processEvents();
        ASSERT_EQ(dialog->size(), c.expected);
        const QSize grown = c.expected - initial;
        EXPECT_EQ(controls.list->geometry(), list.adjusted(0, 0, grown.width(), grown.height()));
        EXPECT_EQ(controls.search->geometry(), search);
        size_t i = 0;
        for (QWidget* w : {static_cast<QWidget*>(controls.first), static_cast<QWidget*>(controls.previous),
                           static_cast<QWidget*>(controls.indicator), static_cast<QWidget*>(controls.next),
                           static_cast<QWidget*>(controls.last)})
            EXPECT_EQ(w->geometry(), bottomRow[i++].translated(0, grown.height()));
    }
}

// Events stored while the log is open change neither the count nor the
// pages until the next search, exactly as a list read at once would.
TEST_F(LogDlgTest, PagesStayThoseOfTheSearchWhileNewEventsArrive)
{
    insertEvents(m_path, numberedEvents(250));
    openManager();
    auto dialog = openLog();
    LogControls controls(*dialog);
    EXPECT_EQ(controls.indicator->text(), QStringLiteral("1 / 3"));

    std::vector<EventRow> later = numberedEvents(350);
    later.erase(later.begin(), later.begin() + 250);
    insertEvents(m_path, later);

    // Counted from the end, the last page is still that of the search.
    click(controls.last);
    EXPECT_EQ(controls.indicator->text(), QStringLiteral("3 / 3"));
    ASSERT_EQ(controls.names().size(), 50u);
    EXPECT_EQ(controls.names().front(), "ev201");
    EXPECT_EQ(controls.names().back(), "ev250");
    EXPECT_EQ(controls.buttons(), "++--");
    click(controls.previous);
    ASSERT_EQ(controls.names().size(), 100u);
    EXPECT_EQ(controls.names().front(), "ev101");
    click(controls.next);
    ASSERT_EQ(controls.names().size(), 50u);
    EXPECT_EQ(controls.names().back(), "ev250");

    click(controls.search);
    EXPECT_EQ(controls.indicator->text(), QStringLiteral("1 / 4"));
    click(controls.last);
    ASSERT_EQ(controls.names().size(), 50u);
    EXPECT_EQ(controls.names().front(), "ev301");
}

// The window pages from SQL; a list read whole by the manager is the
// reference. Random fleets, random searches, random walks over the pages.
TEST_F(LogDlgTest, SqlPagesAgreeWithTheWholeListOnRandomData)
{
    const std::string ids[] = {kVehicleA, kVehicleB, kVehicleC, "3c4d5e6f-7081-4293-a4b5-c6d7e8f90a1b"};
    for (int size : {0, 1, 99, 100, 101, 250, 10000}) {
        SCOPED_TRACE(size);
        fresh();
        std::mt19937 random(static_cast<unsigned>(size) * 7919u + 1u);
        insertVehicles(m_path, {vehicleRow(ids[0], "Alpha", "", false),
                                vehicleRow(ids[1], "bravo", "Bravo Edited", false),
                                vehicleRow(ids[2], "Charlie", "", true),
                                vehicleRow(ids[3], "delta", "", false)});
        std::vector<EventRow> rows;
        for (int i = 0; i < size; ++i) {
            EventRow row;
            row.name = "n" + std::to_string(i);
            if (random() % 30 != 0) {
                char time[32];
                std::snprintf(time, sizeof time, "2011-07-%02d %02d:%02d:%02d", 20 + static_cast<int>(random() % 8),
                              static_cast<int>(random() % 24), static_cast<int>(random() % 60),
                              static_cast<int>(random() % 60));
                row.time = time;
            }
            row.type = static_cast<int>(random() % 17) - 1;
            row.title = "title " + std::to_string(random() % 50);
            // Mostly a few vehicles, so one-vehicle searches still span pages.
            row.vehicleId = ids[random() % 4];
            rows.push_back(row);
        }
        insertEvents(m_path, rows);
        openManager();
        auto dialog = openLog();
        LogControls controls(*dialog);

        const int searches = size >= 10000 ? 3 : 4;
        for (int s = 0; s <= searches; ++s) {
            std::string condition;
            if (s > 0) {
                const bool from = random() % 2 == 0;
                const bool to = random() % 2 == 0;
                const QDate fromDay(2011, 7, 19 + static_cast<int>(random() % 10));
                const QDate toDay(2011, 7, 19 + static_cast<int>(random() % 10));
                const int entry = static_cast<int>(random() % static_cast<unsigned>(controls.vehicles->count()));
                if (controls.fromCheck->isChecked() != from)
                    click(controls.fromCheck);
                if (controls.toCheck->isChecked() != to)
                    click(controls.toCheck);
                controls.fromDate->setDate(fromDay);
                controls.toDate->setDate(toDay);
                controls.vehicles->setCurrentIndex(entry);
                // The condition as the window must write it.
                const std::string lower =
                    from ? fromDay.toString("yyyy-MM-dd").toStdString() + " 00:00:00" : "1970-01-01 00:00:00";
                const std::string upper =
                    to ? toDay.toString("yyyy-MM-dd").toStdString() + " 23:59:59" : "2100-12-31 24:59:59";
                condition = entry > 0 ? "vehicle_id = '" + controls.vehicles->itemData(entry).toString().toStdString() +
                                            "' AND time between '" + lower + "' AND '" + upper + "' "
                                      : "time between '" + lower + "' AND '" + upper + "' ";
            }
            const std::vector<Row> all = expectedRows(s == 0 ? nullptr : condition.c_str());
            SCOPED_TRACE(condition);
            if (s > 0) {
                ShownBox box;
                if (all.empty())
                    answerBox(box);
                click(controls.search);
                EXPECT_EQ(box.seen, all.empty());
            }
            const int pageCount = static_cast<int>((all.size() + 99) / 100);
            int page = 1;
            bool backward = false;
            bool forward = all.size() > 100;
            for (int step = 0; step < 40; ++step) {
                ASSERT_EQ(controls.indicator->text().toStdString(),
                          std::to_string(page) + " / " + std::to_string(pageCount == 0 ? 1 : pageCount));
                ASSERT_EQ(controls.buttons(), std::string(2, backward ? '+' : '-') + std::string(2, forward ? '+' : '-'));
                ASSERT_EQ(controls.rows(), slice(all, page)) << "page " << page;
                if (!backward && !forward)
                    break;
                // Walk mostly to the neighbours, sometimes to an end.
                const unsigned pick = random() % 10;
                if (forward && (pick < 5 || !backward)) {
                    if (pick == 0) {
                        click(controls.last);
                        page = pageCount;
                        forward = false;
                    } else {
                        click(controls.next);
                        ++page;
                        forward = page != pageCount;
                    }
                    backward = true;
                } else {
                    if (pick == 9) {
                        click(controls.first);
                        page = 1;
                        forward = pageCount != 1;
                    } else {
                        click(controls.previous);
                        --page;
                        forward = true;
                    }
                    backward = page != 1;
                }
            }
        }
    }
}

TEST_F(LogDlgTest, AClosedDatabaseIsReportedAndTheWindowStaysUsable)
{
    // The manager is shut: nothing can be read.
    auto dialog = std::make_unique<LogDlg>();
    ShownBox opened;
    answerBox(opened);
    dialog->show();
    QTest::qWait(50);
    EXPECT_TRUE(opened.seen);
    EXPECT_EQ(opened.icon, QMessageBox::Critical);
    EXPECT_TRUE(opened.text.contains(QStringLiteral("not open"))) << opened.text.toStdString();
    LogControls controls(*dialog);
    EXPECT_EQ(controls.indicator->text(), QStringLiteral("1 / 1"));
    EXPECT_EQ(controls.buttons(), "----");

    ShownBox searched;
    answerBox(searched);
    click(controls.search);
    EXPECT_TRUE(searched.seen);
    EXPECT_EQ(searched.icon, QMessageBox::Critical);
    EXPECT_TRUE(searched.text.contains(QStringLiteral("not open"))) << searched.text.toStdString();

    // Once the database is back, the same window searches again.
    insertEvents(m_path, numberedEvents(3));
    openManager();
    click(controls.search);
    EXPECT_EQ(controls.names(), (std::vector<std::string>{"ev1", "ev2", "ev3"}));
}

} // namespace
