#include "app/dialogs/NewVehiclesDlg.h"

#include "intake/VehicleAdmission.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace velmora {

namespace {

const char* const TITLE = "New vehicles";
const char* const COLUMNS[] = {"Vehicle ID", "Sender", "Name", "First seen", "Last seen", "Messages", ""};
const char* const ADMIT = "Admit";
const char* const IGNORE = "Ignore";
const char* const EMPTY = "No new vehicles are waiting.";
const char* const SUMMARY = "%1 new vehicles are waiting. Admit the ones that belong to your fleet.";
constexpr int NAME_COLUMN = 2;
constexpr int ACTION_COLUMN = 6;

QString timeText(std::time_t seconds) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

NewVehiclesDlg::NewVehiclesDlg(VehicleAdmission& admission, QWidget* parent)
    : NewVehiclesDlg(std::make_unique<AdmissionCandidates>(admission), nullptr, parent) {}

NewVehiclesDlg::NewVehiclesDlg(ICandidateList& candidates, QWidget* parent)
    : NewVehiclesDlg(nullptr, &candidates, parent) {}

NewVehiclesDlg::NewVehiclesDlg(std::unique_ptr<ICandidateList> own, ICandidateList* candidates, QWidget* parent)
    : QDialog(parent), m_own(std::move(own)), m_candidates(candidates != nullptr ? *candidates : *m_own), m_table(new QTableWidget(this)), m_summary(new QLabel(this)),
      m_timer(new QTimer(this)) {
    setObjectName(QStringLiteral("newVehiclesDlg"));
    setWindowTitle(QString::fromLatin1(TITLE));
    setModal(false);
    m_summary->setTextFormat(Qt::PlainText);
    m_table->setObjectName(QStringLiteral("newVehiclesTable"));
    m_table->setColumnCount(static_cast<int>(std::size(COLUMNS)));
    QStringList headers;
    for (const char* column : COLUMNS) {
        headers << QString::fromLatin1(column);
    }
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The name takes what is left; the buttons keep their room.
    m_table->horizontalHeader()->setSectionResizeMode(NAME_COLUMN, QHeaderView::Stretch);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    resize(1040, 380);
    connect(m_timer, &QTimer::timeout, this, &NewVehiclesDlg::refresh);
    refresh();
}

void NewVehiclesDlg::refresh() {
    const std::vector<VehicleAdmission::Candidate> candidates = m_candidates.getCandidates();
    m_summary->setText(candidates.empty() ? QString::fromLatin1(EMPTY)
                                          : QString::fromLatin1(SUMMARY).arg(candidates.size()));
    m_table->setRowCount(static_cast<int>(candidates.size()));
    for (int row = 0; row < static_cast<int>(candidates.size()); ++row) {
        const VehicleAdmission::Candidate& candidate = candidates[static_cast<size_t>(row)];
        const QString id = QString::fromStdString(candidate.id.toText());
        m_table->setItem(row, 0, cell(id));
        m_table->setItem(row, 1, cell(QString::fromStdString(candidate.address)));
        m_table->setItem(row, 2, cell(QString::fromStdString(candidate.name)));
        m_table->setItem(row, 3, cell(timeText(candidate.firstSeen)));
        m_table->setItem(row, 4, cell(timeText(candidate.lastSeen)));
        m_table->setItem(row, 5, cell(QString::number(candidate.messages)));
        // The row's buttons are made again only when another id took the row.
        QWidget* actions = m_table->cellWidget(row, ACTION_COLUMN);
        if (actions == nullptr || actions->property("vehicleId").toString() != id) {
            actions = new QWidget(m_table);
            actions->setProperty("vehicleId", id);
            auto* layout = new QHBoxLayout(actions);
            layout->setContentsMargins(2, 0, 2, 0);
            auto* admit = new QPushButton(QString::fromLatin1(ADMIT), actions);
            admit->setObjectName(QStringLiteral("admitButton"));
            auto* ignore = new QPushButton(QString::fromLatin1(IGNORE), actions);
            ignore->setObjectName(QStringLiteral("ignoreButton"));
            layout->addWidget(admit);
            layout->addWidget(ignore);
            const UniqueID vehicle = candidate.id;
            connect(admit, &QPushButton::clicked, this, [this, vehicle] { decide(vehicle, true); });
            connect(ignore, &QPushButton::clicked, this, [this, vehicle] { decide(vehicle, false); });
            m_table->setCellWidget(row, ACTION_COLUMN, actions);
        }
    }
}

void NewVehiclesDlg::decide(const UniqueID& id, bool admit) {
    if (admit) {
        m_candidates.admit(id);
    } else {
        m_candidates.ignore(id);
    }
    // Deferred: the clicked button lives in the table that is refilled.
    QTimer::singleShot(0, this, &NewVehiclesDlg::refresh);
}

void NewVehiclesDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    refresh();
    m_timer->start(REFRESH_MS);
}

void NewVehiclesDlg::hideEvent(QHideEvent* event) {
    m_timer->stop();
    QDialog::hideEvent(event);
}

} // namespace velmora
