#include "app/dialogs/LogDlg.h"

#include "app/alarms/AlarmReportDlg.h"
#include "app/dialogs/CsvFileDialog.h"
#include "app/dialogs/EventCsv.h"
#include "app/dialogs/MessageBox.h"
#include "app/dialogs/SortedComboBox.h"
#include "db/DBManager.h"
#include "db/DatabaseException.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/Trace.h"
#include "foundation/thread/ScopedLock.h"
#include "rules/AlarmKinds.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QResizeEvent>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace velmora {

namespace {

// The window's texts.
const char* const CAPTION = "Log - ";
const char* const VERSION = "v1.0.0 b201107251";
const char* const FROM_TEXT = " From :";
const char* const TO_TEXT = " To :";
const char* const VEHICLE_TEXT = "Vehicle name :";
const char* const ALL_VEHICLES = "(All Vehicles)";
const char* const DELETED_VEHICLE = "%1 (deleted)";
const char* const SEARCH_TEXT = "Search";
const char* const EXPORT_TEXT = "Export...";
const char* const ALARMS_TEXT = "Alarms...";
const char* const NO_DATA = "No data found.";
const char* const READ_FAILED = "The event log could not be read.\n%1";
const char* const NOT_OPEN = "The tracking database is not open.";
const char* const EXPORT_FAILED = "The events could not be written to %1.\n%2";
const char* const EXPORTING = "Exporting %1 events...";
const char* const CANCEL_TEXT = "Cancel";
const char* const EXPORT_FILE_NAME = "events.csv";
const char* const DATE_FORMAT = "yyyy-MM-dd";
const char* const INDICATOR = "%d / %d";
const char* const HEADINGS[] = {"Vehicle Name", "Date/Time", "Event Type", "Device Title"};

// The search: bounds of an unticked date and the condition, formatted
// into a buffer of CONDITION_SIZE bytes.
const char* const FROM_BOUND = "%d-%02d-%02d 00:00:00";
const char* const TO_BOUND = "%d-%02d-%02d 23:59:59";
const char* const NO_FROM = "1970-01-01 00:00:00";
const char* const NO_TO = "2100-12-31 24:59:59";
const char* const VEHICLE_CONDITION = "vehicle_id = '%s' AND time between '%s' AND '%s' ";
const char* const TIME_CONDITION = "time between '%s' AND '%s' ";
constexpr int CONDITION_SIZE = 128;
constexpr int BOUND_SIZE = 32;

// Exports of more rows than this show their progress from the start.
constexpr int EXPORT_PROGRESS_ROWS = 5000;
constexpr int EXPORT_PROGRESS_DELAY_MS = 500;

// Layout in pixels. The client area may never get smaller than CLIENT; the
// frame the window manager draws lies outside it.
const QSize CLIENT(640, 520);
const QRect FROM_CHECK(12, 12, 70, 24);
const QRect FROM_DATE(84, 12, 116, 24);
const QRect TO_CHECK(216, 12, 56, 24);
const QRect TO_DATE(274, 12, 116, 24);
const QRect VEHICLE_LABEL(12, 44, 96, 24);
const QRect VEHICLE_LIST(110, 44, 280, 24);
const QRect SEARCH_BUTTON(406, 44, 100, 24);
const QRect EXPORT_BUTTON(514, 44, 100, 24);
const QRect ALARMS_BUTTON(514, 12, 100, 24);
const QRect LIST(12, 80, 616, 396);
const QRect FIRST_BUTTON(192, 486, 40, 24);
const QRect PREVIOUS_BUTTON(236, 486, 40, 24);
const QRect PAGE_LABEL(280, 486, 80, 24);
const QRect NEXT_BUTTON(364, 486, 40, 24);
const QRect LAST_BUTTON(408, 486, 40, 24);
const int COLUMN_WIDTHS[] = {200, 150, 150};
// Column 3 takes what the list's inside leaves after the first three.
constexpr int FIXED_COLUMNS_WIDTH = 502;
constexpr int ROW_PADDING = 6;

QPushButton* button(QWidget* parent, const char* text, const char* name, const QRect& geometry) {
    auto* created = new QPushButton(QString::fromLatin1(text), parent);
    created->setObjectName(QString::fromLatin1(name));
    created->setGeometry(geometry);
    created->setAutoDefault(false);
    return created;
}

QDateEdit* datePicker(QWidget* parent, const char* name, const QRect& geometry) {
    auto* picker = new QDateEdit(QDate::currentDate(), parent);
    picker->setObjectName(QString::fromLatin1(name));
    picker->setGeometry(geometry);
    picker->setDisplayFormat(QString::fromLatin1(DATE_FORMAT));
    picker->setCalendarPopup(true);
    picker->setEnabled(false);
    return picker;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

LogDlg::LogDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("logDlg"));
    setWindowTitle(QString::fromLatin1(CAPTION) + QString::fromLatin1(VERSION));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    createControls();
    recordLayout();
    enableBackward(false);
    fillVehicleList();

    if (!DBManager::getInstance().isOpen()) {
        reportReadFailureLater(QString::fromLatin1(NOT_OPEN));
        setPageButtons(0);
        showIndicator();
        return;
    }
    try {
        load(nullptr);
    } catch (const DatabaseException& e) {
        traceException(e);
        reportReadFailureLater(QString::fromUtf8(e.getMessage()));
    }
}

LogDlg::~LogDlg() = default;

void LogDlg::createControls() {
    m_fromCheck = new QCheckBox(QString::fromLatin1(FROM_TEXT), this);
    m_fromCheck->setObjectName(QStringLiteral("fromCheck"));
    m_fromCheck->setGeometry(FROM_CHECK);
    m_fromDate = datePicker(this, "fromDate", FROM_DATE);
    m_toCheck = new QCheckBox(QString::fromLatin1(TO_TEXT), this);
    m_toCheck->setObjectName(QStringLiteral("toCheck"));
    m_toCheck->setGeometry(TO_CHECK);
    m_toDate = datePicker(this, "toDate", TO_DATE);
    connect(m_fromCheck, &QCheckBox::toggled, m_fromDate, &QWidget::setEnabled);
    connect(m_toCheck, &QCheckBox::toggled, m_toDate, &QWidget::setEnabled);

    m_vehicleLabel = new QLabel(QString::fromLatin1(VEHICLE_TEXT), this);
    m_vehicleLabel->setGeometry(VEHICLE_LABEL);
    m_vehicleList = new SortedComboBox(this);
    m_vehicleList->setObjectName(QStringLiteral("vehicleList"));
    m_vehicleList->setGeometry(VEHICLE_LIST);
    m_vehicleList->setMaxVisibleItems(20);

    m_searchButton = button(this, SEARCH_TEXT, "searchButton", SEARCH_BUTTON);
    m_searchButton->setDefault(true);
    m_exportButton = button(this, EXPORT_TEXT, "exportButton", EXPORT_BUTTON);
    connect(m_searchButton, &QPushButton::clicked, this, &LogDlg::onSearch);
    connect(m_exportButton, &QPushButton::clicked, this, &LogDlg::onExport);
    // The alarm report opens over the log, which is modal; it closes with it.
    QPushButton* alarms = button(this, ALARMS_TEXT, "alarmsButton", ALARMS_BUTTON);
    connect(alarms, &QPushButton::clicked, this, [this] {
        auto* report = new AlarmReportDlg(this);
        report->setAttribute(Qt::WA_DeleteOnClose);
        report->show();
    });

    m_list = new QTableWidget(0, 4, this);
    m_list->setObjectName(QStringLiteral("eventList"));
    m_list->setGeometry(LIST);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(true);
    m_list->setSortingEnabled(false);
    m_list->setWordWrap(false);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->verticalHeader()->hide();
    // Report-style rows: a line of text and a little air, not button height.
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + ROW_PADDING);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setStretchLastSection(false);
    QStringList headings;
    for (const char* heading : HEADINGS) {
        headings << QString::fromLatin1(heading);
    }
    m_list->setHorizontalHeaderLabels(headings);
    for (int column = 0; column < 3; ++column) {
        m_list->setColumnWidth(column, COLUMN_WIDTHS[column]);
    }
    const int scrollBar = m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_list);
    m_list->setColumnWidth(3, std::max(0, LIST.width() - 2 * m_list->frameWidth() - scrollBar - FIXED_COLUMNS_WIDTH));

    m_firstButton = button(this, "<<", "firstPageButton", FIRST_BUTTON);
    m_previousButton = button(this, "<", "previousPageButton", PREVIOUS_BUTTON);
    m_nextButton = button(this, ">", "nextPageButton", NEXT_BUTTON);
    m_lastButton = button(this, ">>", "lastPageButton", LAST_BUTTON);
    connect(m_firstButton, &QPushButton::clicked, this, &LogDlg::onFirstPage);
    connect(m_previousButton, &QPushButton::clicked, this, &LogDlg::onPreviousPage);
    connect(m_nextButton, &QPushButton::clicked, this, &LogDlg::onNextPage);
    connect(m_lastButton, &QPushButton::clicked, this, &LogDlg::onLastPage);
    m_pageLabel = new QLabel(QStringLiteral("/"), this);
    m_pageLabel->setObjectName(QStringLiteral("pageIndicator"));
    m_pageLabel->setAlignment(Qt::AlignCenter);
    m_pageLabel->setGeometry(PAGE_LABEL);
}

void LogDlg::recordLayout() {
    resize(CLIENT);
    m_initialClientSize = CLIENT;
    setMinimumSize(CLIENT);
    const QRect list = m_list->geometry();
    m_listMargins = QRect(QPoint(list.left(), list.top()),
                          QPoint(CLIENT.width() - (list.x() + list.width()), CLIENT.height() - (list.y() + list.height())));
    for (QWidget* widget : {static_cast<QWidget*>(m_firstButton), static_cast<QWidget*>(m_previousButton),
                            static_cast<QWidget*>(m_pageLabel), static_cast<QWidget*>(m_nextButton),
                            static_cast<QWidget*>(m_lastButton)}) {
        const QRect geometry = widget->geometry();
        m_bottomAnchors.push_back({widget, geometry.x(), geometry.size(), CLIENT.height() - geometry.y()});
    }
}

void LogDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_bottomAnchors.empty()) {
        return;
    }
    const QSize client = event->size();
    // m_listMargins holds left, top, right distance, bottom distance.
    m_list->setGeometry(m_listMargins.left(), m_listMargins.top(),
                        client.width() - m_listMargins.left() - m_listMargins.right(),
                        client.height() - m_listMargins.top() - m_listMargins.bottom());
    for (const BottomAnchor& anchor : m_bottomAnchors) {
        anchor.widget->setGeometry(QRect(QPoint(anchor.left, client.height() - anchor.fromBottom), anchor.size));
    }
    update();
}

void LogDlg::fillVehicleList() {
    m_vehicleList->clear();
    VehicleInfoContainer& container = VehicleInfoContainer::getInstance();
    {
        ScopedLock lock(container.getLock());
        for (const auto& [id, vehicle] : container.getMap()) {
            QString text;
            if (vehicle->getDeleted()) {
                // A removed vehicle is known by the name its device reported.
                text = QString::fromLatin1(DELETED_VEHICLE).arg(QString::fromStdString(vehicle->getName()));
            } else if (!vehicle->getEditedName().empty()) {
                text = QString::fromStdString(vehicle->getEditedName());
            } else {
                text = QString::fromStdString(vehicle->getName());
            }
            m_vehicleList->addSortedItem(text, QString::fromStdString(id.toText()));
        }
    }
    m_vehicleList->insertItem(0, QString::fromLatin1(ALL_VEHICLES));
    m_vehicleList->setCurrentIndex(0);
}

bool LogDlg::buildCondition(QByteArray& condition) const {
    char from[BOUND_SIZE];
    char to[BOUND_SIZE];
    // %d never follows the user's locale.
    if (m_fromCheck->isChecked()) {
        const QDate day = m_fromDate->date();
        std::snprintf(from, sizeof from, FROM_BOUND, day.year(), day.month(), day.day());
    } else {
        std::snprintf(from, sizeof from, "%s", NO_FROM);
    }
    if (m_toCheck->isChecked()) {
        const QDate day = m_toDate->date();
        std::snprintf(to, sizeof to, TO_BOUND, day.year(), day.month(), day.day());
    } else {
        std::snprintf(to, sizeof to, "%s", NO_TO);
    }
    char text[CONDITION_SIZE];
    int length = 0;
    const int index = m_vehicleList->currentIndex();
    if (index > 0) {
        const QByteArray id = m_vehicleList->itemData(index).toString().toLatin1();
        length = std::snprintf(text, sizeof text, VEHICLE_CONDITION, id.constData(), from, to);
    } else {
        length = std::snprintf(text, sizeof text, TIME_CONDITION, from, to);
    }
    // A cut condition would select other rows than asked for.
    if (length < 0 || length >= CONDITION_SIZE) {
        return false;
    }
    condition = QByteArray(text, length);
    return true;
}

int LogDlg::load(const char* condition) {
    m_currentPage = 1;
    emptyList();
    int count = 0;
    try {
        count = m_pager.search(condition);
    } catch (const DatabaseException&) {
        setPageButtons(0);
        showIndicator();
        throw;
    }
    setPageButtons(count);
    showIndicator();
    showPage(1);
    return count;
}

void LogDlg::setPageButtons(int count) {
    m_pageCount = (count + EventPager::PAGE_SIZE - 1) / EventPager::PAGE_SIZE;
    enableForward(count > EventPager::PAGE_SIZE);
    enableBackward(false);
}

void LogDlg::showIndicator() {
    m_pageLabel->setText(QString::asprintf(INDICATOR, m_currentPage, m_pageCount == 0 ? 1 : m_pageCount));
}

void LogDlg::showPage(int page) {
    if (page == 1) {
        enableBackward(false);
    }
    m_pager.loadPage(page, m_rows);
    m_list->setRowCount(static_cast<int>(m_rows.size()));
    int row = 0;
    for (const EventLog& event : m_rows) {
        m_list->setItem(row, 0, cell(QString::fromUtf8(event.getName())));
        m_list->setItem(row, 1, cell(QString::fromUtf8(event.getTime())));
        m_list->setItem(row, 2, cell(QString::fromUtf16(AlarmKinds::wideName(event.getEventType()))));
        m_list->setItem(row, 3, cell(QString::fromUtf8(event.getDeviceTitle())));
        ++row;
    }
    m_list->scrollToTop();
}

void LogDlg::emptyList() {
    m_list->clearContents();
    m_list->setRowCount(0);
}

void LogDlg::enableBackward(bool enabled) {
    m_firstButton->setEnabled(enabled);
    m_previousButton->setEnabled(enabled);
}

void LogDlg::enableForward(bool enabled) {
    m_nextButton->setEnabled(enabled);
    m_lastButton->setEnabled(enabled);
}

void LogDlg::onSearch() {
    QByteArray condition;
    if (!buildCondition(condition)) {
        trace("LogDlg: search condition too long");
        return;
    }
    try {
        load(condition.constData());
    } catch (const DatabaseException& e) {
        reportReadFailure(e);
        return;
    }
    if (m_list->rowCount() == 0) {
        MessageBox::information(this, QString::fromLatin1(NO_DATA));
    }
}

void LogDlg::onFirstPage() {
    emptyList();
    enableBackward(false);
    enableForward(m_pageCount != 1);
    m_currentPage = 1;
    try {
        showPage(m_currentPage);
    } catch (const DatabaseException& e) {
        reportReadFailure(e);
    }
    showIndicator();
}

void LogDlg::onPreviousPage() {
    emptyList();
    enableForward(true);
    --m_currentPage;
    try {
        showPage(m_currentPage);
    } catch (const DatabaseException& e) {
        reportReadFailure(e);
    }
    if (m_currentPage == 1) {
        enableBackward(false);
    }
    showIndicator();
}

void LogDlg::onNextPage() {
    emptyList();
    enableBackward(true);
    ++m_currentPage;
    try {
        showPage(m_currentPage);
    } catch (const DatabaseException& e) {
        reportReadFailure(e);
    }
    if (m_currentPage == m_pageCount) {
        enableForward(false);
    }
    showIndicator();
}

void LogDlg::onLastPage() {
    emptyList();
    enableForward(false);
    enableBackward(true);
    m_currentPage = m_pageCount;
    try {
        showPage(m_currentPage);
    } catch (const DatabaseException& e) {
        reportReadFailure(e);
    }
    showIndicator();
}

void LogDlg::reportReadFailure(const DatabaseException& e) {
    traceException(e);
    emptyList();
    const QString why = DBManager::getInstance().isOpen() ? QString::fromUtf8(e.getMessage())
                                                          : QString::fromLatin1(NOT_OPEN);
    MessageBox::error(this, QString::fromLatin1(READ_FAILED).arg(why));
}

void LogDlg::reportReadFailureLater(const QString& text) {
    // Shown once the window is on screen, not from inside its constructor.
    QTimer::singleShot(0, this, [this, text] {
        MessageBox::error(this, QString::fromLatin1(READ_FAILED).arg(text));
    });
}

void LogDlg::onExport() {
    if (m_pager.getCount() == 0) {
        MessageBox::information(this, QString::fromLatin1(NO_DATA));
        return;
    }
    const QString path = CsvFileDialog::choose(this, QString::fromLatin1(EXPORT_FILE_NAME));
    if (!path.isEmpty()) {
        exportTo(path);
    }
}

bool LogDlg::exportTo(const QString& path) {
    // The rows go to a temporary file beside the chosen one, which replaces
    // it only once everything is written: a failure or a cancel leaves the
    // chosen name as it was.
    QSaveFile file(path);
    const auto fail = [this, &path](const QString& why) {
        MessageBox::error(this, QString::fromLatin1(EXPORT_FAILED).arg(path, why));
        return false;
    };
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(file.errorString());
    }
    const int total = m_pager.getCount();
    QProgressDialog progress(QString::fromLatin1(EXPORTING).arg(total), QString::fromLatin1(CANCEL_TEXT), 0, total,
                             this);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(QString::fromLatin1(MessageBox::CAPTION));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(total > EXPORT_PROGRESS_ROWS ? 0 : EXPORT_PROGRESS_DELAY_MS);
    progress.setValue(0);

    bool writeFailed = file.write(EventCsv::headerLine()) < 0;
    bool cancelled = false;
    int written = 0;
    try {
        m_pager.forEach(EventPager::CHUNK_SIZE, [&](const std::vector<EventLog>& chunk) {
            QByteArray bytes;
            for (const EventLog& event : chunk) {
                bytes += EventCsv::line(event);
            }
            if (writeFailed || file.write(bytes) != bytes.size()) {
                writeFailed = true;
                return false;
            }
            written += static_cast<int>(chunk.size());
            progress.setValue(std::min(written, total));
            if (progress.wasCanceled()) {
                cancelled = true;
                return false;
            }
            return true;
        });
    } catch (const DatabaseException& e) {
        // The page on screen stays; only the export is given up.
        file.cancelWriting();
        progress.reset();
        traceException(e);
        MessageBox::error(this, QString::fromLatin1(READ_FAILED).arg(QString::fromUtf8(e.getMessage())));
        return false;
    }
    progress.reset();
    if (cancelled) {
        file.cancelWriting();
        return false;
    }
    if (writeFailed) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit()) {
        return fail(file.errorString());
    }
    return true;
}

} // namespace velmora
