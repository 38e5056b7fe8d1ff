#include "app/alarms/AlarmReportDlg.h"

#include "app/alarms/AlarmReport.h"
#include "app/dialogs/CsvFileDialog.h"
#include "app/dialogs/MessageBox.h"
#include "db/DatabaseException.h"
#include "db/SqliteHistoryReader.h"
#include "foundation/Trace.h"

#include <QDateTimeEdit>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace velmora {

namespace {

constexpr int DEFAULT_DAYS = 7;

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

// A stored UTC time as the operator's local time; "" when unset.
QString localTime(const std::string& stored) {
    const std::time_t utc = AlarmRecord::parseTime(stored);
    return utc == 0 ? QString()
                    : QDateTime::fromSecsSinceEpoch(utc).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QTableWidget* makeTable(QWidget* parent, const QStringList& headers, const char* name) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

} // namespace

AlarmReportDlg::AlarmReportDlg(QWidget* parent, HistoryReader* history)
    : QDialog(parent), m_history(history != nullptr ? history : &SqliteHistoryReader::getInstance()) {
    setWindowTitle(QStringLiteral("Alarms"));
    setObjectName(QStringLiteral("alarmReport"));
    resize(1100, 640);
    auto* layout = new QVBoxLayout(this);

    auto* range = new QHBoxLayout;
    const QDateTime now = QDateTime::currentDateTime();
    m_from = new QDateTimeEdit(now.addDays(-DEFAULT_DAYS), this);
    m_to = new QDateTimeEdit(now.addSecs(3600), this);
    for (QDateTimeEdit* edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setCalendarPopup(true);
    }
    auto* showButton = new QPushButton(QStringLiteral("Show"), this);
    m_exportButton = new QPushButton(QStringLiteral("Export..."), this);
    m_exportButton->setObjectName(QStringLiteral("alarmExport"));
    range->addWidget(new QLabel(QStringLiteral("From"), this));
    range->addWidget(m_from);
    range->addWidget(new QLabel(QStringLiteral("to"), this));
    range->addWidget(m_to);
    range->addWidget(showButton);
    range->addStretch(1);
    range->addWidget(m_exportButton);
    layout->addLayout(range);

    m_summary = makeTable(this,
                          {QStringLiteral("Priority"), QStringLiteral("Alarms"), QStringLiteral("Median to acknowledge"),
                           QStringLiteral("95% to acknowledge"), QStringLiteral("Median to close"),
                           QStringLiteral("95% to close")},
                          "alarmSummary");
    m_summary->setMaximumHeight(120);
    layout->addWidget(m_summary);

    m_table = makeTable(this,
                        {QStringLiteral("Alarm"), QStringLiteral("P"), QStringLiteral("Vehicle"), QStringLiteral("Kind"),
                         QStringLiteral("Device title"), QStringLiteral("Received"), QStringLiteral("Repeats"),
                         QStringLiteral("Acknowledged"), QStringLiteral("By"), QStringLiteral("To acknowledge"),
                         QStringLiteral("Closed"), QStringLiteral("By"), QStringLiteral("To close"),
                         QStringLiteral("Notes")},
                        "alarmRows");
    layout->addWidget(m_table, 1);

    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);

    connect(showButton, &QPushButton::clicked, this, &AlarmReportDlg::refresh);
    connect(m_exportButton, &QPushButton::clicked, this, &AlarmReportDlg::onExport);
    refresh();
}

AlarmReportDlg::~AlarmReportDlg() = default;

void AlarmReportDlg::setRange(std::time_t from, std::time_t to) {
    m_from->setDateTime(QDateTime::fromSecsSinceEpoch(from).toLocalTime());
    m_to->setDateTime(QDateTime::fromSecsSinceEpoch(to).toLocalTime());
    refresh();
}

QString AlarmReportDlg::getStatus() const { return m_status->text(); }

void AlarmReportDlg::refresh() {
    if (m_reading) {
        // One read at a time; the newest range is read once it is back.
        m_again = true;
        return;
    }
    m_reading = true;
    m_again = false;
    m_status->setText(QStringLiteral("Reading..."));
    m_exportButton->setEnabled(false);
    const std::time_t from = static_cast<std::time_t>(m_from->dateTime().toSecsSinceEpoch());
    const std::time_t to = static_cast<std::time_t>(m_to->dateTime().toSecsSinceEpoch());
    HistoryReader* history = m_history;
    auto* watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_reading = false;
        display(watcher->result());
        if (m_again) {
            refresh();
        }
    });
    // The worker touches nothing of the window: it hands back its rows.
    watcher->setFuture(QtConcurrent::run([history, from, to] {
        Result result;
        try {
            result.alarms = history->loadAlarms(from, to);
        } catch (const DatabaseException& e) {
            traceException(e);
            result.error = QString::fromUtf8(e.getMessage());
        }
        return result;
    }));
}

void AlarmReportDlg::display(const Result& result) {
    m_alarms = result.alarms;
    const std::vector<AlarmReport::Figures> figures = AlarmReport::figures(m_alarms);
    m_summary->setRowCount(static_cast<int>(figures.size()));
    for (int row = 0; row < static_cast<int>(figures.size()); ++row) {
        const AlarmReport::Figures& f = figures[row];
        const QString values[] = {QString::number(f.priority),
                                  QString::number(f.count),
                                  AlarmReport::duration(f.medianAcknowledge),
                                  AlarmReport::duration(f.p95Acknowledge),
                                  AlarmReport::duration(f.medianClose),
                                  AlarmReport::duration(f.p95Close)};
        for (int column = 0; column < static_cast<int>(std::size(values)); ++column) {
            m_summary->setItem(row, column, cell(values[column]));
        }
    }
    m_table->setRowCount(static_cast<int>(m_alarms.size()));
    for (int row = 0; row < static_cast<int>(m_alarms.size()); ++row) {
        const AlarmRecord& a = m_alarms[row];
        const AlarmReport::Durations d = AlarmReport::durations(a);
        QString notes = QString::fromStdString(a.notes);
        const QString values[] = {QString::number(a.id),
                                  QString::number(a.priority),
                                  QString::fromStdString(a.vehicleName),
                                  AlarmReport::kindName(a.eventType),
                                  QString::fromStdString(a.deviceTitle),
                                  localTime(a.received),
                                  QString::number(a.repeatCount),
                                  localTime(a.acknowledged),
                                  QString::fromStdString(a.acknowledgedBy),
                                  AlarmReport::duration(static_cast<double>(d.toAcknowledge)),
                                  localTime(a.closed),
                                  QString::fromStdString(a.closedBy),
                                  AlarmReport::duration(static_cast<double>(d.toClose)),
                                  notes.replace(QLatin1Char('\n'), QStringLiteral(" | "))};
        for (int column = 0; column < static_cast<int>(std::size(values)); ++column) {
            m_table->setItem(row, column, cell(values[column]));
        }
        m_table->item(row, m_table->columnCount() - 1)->setToolTip(QString::fromStdString(a.notes));
    }
    m_summary->resizeColumnsToContents();
    m_table->resizeColumnsToContents();
    // Notes can be long: they get what the window has left, the whole
    // text is in the tooltip.
    m_table->setColumnWidth(m_table->columnCount() - 1, 300);
    m_exportButton->setEnabled(!m_alarms.empty());
    if (!result.error.isEmpty()) {
        m_status->setText(QStringLiteral("The alarms cannot be read: %1").arg(result.error));
    } else {
        m_status->setText(m_alarms.size() == 1 ? QStringLiteral("1 alarm")
                                               : QStringLiteral("%1 alarms").arg(m_alarms.size()));
    }
}

void AlarmReportDlg::onExport() {
    const QString path = CsvFileDialog::choose(this, QStringLiteral("alarms.csv"));
    if (!path.isEmpty()) {
        exportTo(path);
    }
}

bool AlarmReportDlg::exportTo(const QString& path) {
    // Written beside the chosen file, which it replaces only when whole.
    QSaveFile file(path);
    QByteArray bytes = AlarmReport::csvHeaderLine();
    for (const AlarmRecord& alarm : m_alarms) {
        bytes += AlarmReport::csvLine(alarm);
    }
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        MessageBox::error(this, QStringLiteral("The file %1 cannot be written: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

} // namespace velmora
