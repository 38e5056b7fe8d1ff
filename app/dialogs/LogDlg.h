#pragma once

#include "db/EventLog.h"
#include "db/HistoryReader.h"

#include <QDialog>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

class QCheckBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora {

class DatabaseException;
class SortedComboBox;

/// The event log: stored events 100 to a page, oldest first, narrowed to
/// one vehicle and a range of days, and exported as CSV. Pages are read one
/// at a time through the history reader it is given (app.db's by default,
/// the store's at a control-room desk), so a log of millions of events
/// opens as fast as a small one. The window never writes; it reads the
/// vehicles of the VehicleInfoContainer.
///
/// A database that cannot be read is reported in a message box; the window
/// then shows an empty list and stays usable. Window thread only.
class LogDlg : public QDialog {
    Q_OBJECT

public:
    /// history: where the events are read (none: app.db).
    explicit LogDlg(QWidget* parent = nullptr, HistoryReader* history = nullptr);
    ~LogDlg() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onSearch();
    void onExport();
    void onFirstPage();
    void onPreviousPage();
    void onNextPage();
    void onLastPage();

private:
    /// Where a control sits relative to the client edges, as recorded at
    /// opening: the list keeps its four distances, the paging row its left
    /// edge, size and distance from the bottom.
    struct BottomAnchor {
        QWidget* widget;
        int left;
        QSize size;
        int fromBottom;
    };

    void createControls();
    void recordLayout();
    void fillVehicleList();
    /// The search of the From/To boxes and the vehicle entry.
    HistoryReader::EventFilter buildFilter() const;
    /// Runs a search and shows page 1; the count.
    int load(const HistoryReader::EventFilter& filter);
    void setPageButtons(int count);
    void showIndicator();
    void showPage(int page);
    void emptyList();
    void enableBackward(bool enabled);
    void enableForward(bool enabled);
    void reportReadFailure(const DatabaseException& e);
    void reportReadFailureLater(const QString& text);
    bool exportTo(const QString& path);

    QCheckBox* m_fromCheck = nullptr;
    QDateEdit* m_fromDate = nullptr;
    QCheckBox* m_toCheck = nullptr;
    QDateEdit* m_toDate = nullptr;
    QLabel* m_vehicleLabel = nullptr;
    SortedComboBox* m_vehicleList = nullptr;
    QPushButton* m_searchButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QTableWidget* m_list = nullptr;
    QPushButton* m_firstButton = nullptr;
    QPushButton* m_previousButton = nullptr;
    QPushButton* m_nextButton = nullptr;
    QPushButton* m_lastButton = nullptr;
    QLabel* m_pageLabel = nullptr;

    int32_t m_pageCount = 0;
    int32_t m_currentPage = 1;
    QSize m_initialClientSize;
    // The list's left and top and its distances from the right and bottom.
    QRect m_listMargins;
    std::vector<BottomAnchor> m_bottomAnchors;

    HistoryReader* m_history;
    std::unique_ptr<HistoryReader::EventPages> m_pager;
    std::vector<EventLog> m_rows;
};

} // namespace velmora
