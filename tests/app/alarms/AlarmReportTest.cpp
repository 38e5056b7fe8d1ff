#include "app/alarms/AlarmReport.h"
#include "app/alarms/AlarmReportDlg.h"
#include "db/AlarmRecord.h"
#include "db/DBManager.h"
#include "tests/app/dialogs/WindowTestSupport.h"

#include <QElapsedTimer>
#include <QTableWidget>

#include <fstream>
#include <sstream>

using namespace velmora;
using namespace velmora::test;

namespace {

class AlarmReportTest : public DatabaseFixture {};

bool settle(const AlarmReportDlg& report) {
    QElapsedTimer waited;
    waited.start();
    while (report.isReading() && waited.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return !report.isReading();
}

} // namespace

// Alarms written through the writer (a row, then its lifecycle) read back
// in the report for their range only, and export as CSV the way the event
// log does: header, one CR LF line each, nothing of a failed write left.
TEST_F(AlarmReportTest, RangeFiguresAndExport) {
    openManager();
    const std::time_t base = AlarmRecord::parseTime("2026-12-01 08:00:00");
    for (int i = 0; i < 4; ++i) {
        AlarmRecord alarm;
        alarm.id = i + 1;
        alarm.priority = 1;
        alarm.eventType = 13;
        alarm.vehicleName = "Truck " + std::to_string(i);
        alarm.received = AlarmRecord::timeText(base + i * 86400);
        alarm.setOperation(AbstractDatabaseRecord::OPERATION_INSERT);
        ASSERT_TRUE(DBManager::getInstance().enqueue(alarm));
        alarm.acknowledged = AlarmRecord::timeText(base + i * 86400 + 10 * (i + 1));
        alarm.acknowledgedBy = "ops";
        alarm.notes = i == 1 ? "=1+1, \"quoted\"" : "";
        alarm.setOperation(AbstractDatabaseRecord::OPERATION_UPDATE);
        ASSERT_TRUE(DBManager::getInstance().enqueue(alarm));
    }
    DBManager::getInstance().shutdown();
    openManager();

    AlarmReportDlg report;
    // Days 2 and 3 of the four.
    report.setRange(base + 86400, base + 3 * 86400);
    ASSERT_TRUE(settle(report));
    ASSERT_EQ(report.getAlarms().size(), 2u) << report.getStatus().toStdString();
    EXPECT_EQ(report.getAlarms()[0].vehicleName, "Truck 1");
    EXPECT_EQ(report.getAlarms()[0].eventId, 0) << "no event was stored before it";
    EXPECT_EQ(report.getSummary()->item(0, 2)->text(), QStringLiteral("25s"));
    EXPECT_EQ(report.getSummary()->item(0, 3)->text(), QStringLiteral("30s"));

    const std::string path = m_dir->file("alarms.csv");
    ASSERT_TRUE(report.exportTo(QString::fromStdString(path)));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), std::string(AlarmReport::CSV_HEADER) + "\r\n" +
                              "2,1,Truck 1,Panic,,2026-12-02 08:00:00,0,2026-12-02 08:00:20,ops,,,20,,"
                              "\"'=1+1, \"\"quoted\"\"\"\r\n"
                              "3,1,Truck 2,Panic,,2026-12-03 08:00:00,0,2026-12-03 08:00:30,ops,,,30,,\r\n");

    ShownBox box;
    answerBox(box);
    EXPECT_FALSE(report.exportTo(QString::fromStdString(m_dir->file("missing/alarms.csv"))));
    EXPECT_TRUE(box.seen);
}
