#pragma once

#include "db/AlarmRecord.h"

#include <QDialog>
#include <QString>

#include <ctime>
#include <vector>

class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora {

class HistoryReader;

/// The "Alarms" report: the alarms received in a time range, each with how
/// long it took to be acknowledged and closed, the median and 95th
/// percentile of those times per priority, and a CSV export.
///
/// The rows are read on a worker thread through the history reader it is
/// given (app.db's by default, whose lock a writer batch may hold for a
/// while; the store's at a control-room desk), so the window never waits;
/// it shows "Reading..." meanwhile. Not modal: the queue stays usable.
class AlarmReportDlg : public QDialog {
    Q_OBJECT

public:
    explicit AlarmReportDlg(QWidget* parent = nullptr, HistoryReader* history = nullptr);
    ~AlarmReportDlg() override;

    /// Reads the alarms of the range the window shows.
    void refresh();
    /// Sets the range (UTC seconds, to exclusive) and reads it.
    void setRange(std::time_t from, std::time_t to);
    /// Writes the rows shown to path; false (and a box) when it fails.
    bool exportTo(const QString& path);

    bool isReading() const { return m_reading; }
    const std::vector<AlarmRecord>& getAlarms() const { return m_alarms; }
    QTableWidget* getSummary() const { return m_summary; }
    QTableWidget* getTable() const { return m_table; }
    QString getStatus() const;

private:
    struct Result {
        std::vector<AlarmRecord> alarms;
        QString error;
    };
    void display(const Result& result);
    void onExport();

    QDateTimeEdit* m_from = nullptr;
    QDateTimeEdit* m_to = nullptr;
    QPushButton* m_exportButton = nullptr;
    QTableWidget* m_summary = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    HistoryReader* m_history;
    std::vector<AlarmRecord> m_alarms;
    bool m_reading = false;
    bool m_again = false;
};

} // namespace velmora
