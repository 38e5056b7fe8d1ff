#include "app/dialogs/NewVehiclesDlg.h"

#include "intake/VehicleAdmission.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <map>
#include <set>

namespace velmora {

namespace {

const char* const TITLE = "New vehicles";
const char* const COLUMNS[] = {"Vehicle ID", "Sender", "Name", "First seen", "Last seen", "Messages", ""};
const char* const SENDER_COLUMNS[] = {"Sender", "Unreviewed vehicles", ""};
const char* const ADMIT = "Admit";
const char* const IGNORE = "Ignore";
const char* const DELETE_ALL = "Delete all...";
const char* const EMPTY = "No new vehicles are waiting.";
const char* const SUMMARY = "%1 new vehicles are waiting. Admit the ones that belong to your fleet.";
const char* const NO_SENDERS = "No vehicle admitted itself since the console started, or all were reviewed.";
const char* const SENDER_SUMMARY =
    "Vehicles that admitted themselves and were not reviewed yet, by the address that brought them:";
constexpr int NAME_COLUMN = 2;
constexpr int ACTION_COLUMN = 6;
constexpr int SENDER_ACTION_COLUMN = 2;

QString timeText(std::time_t seconds) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

void setHeaders(QTableWidget* table, const char* const* columns, int count) {
    table->setColumnCount(count);
    QStringList headers;
    for (int i = 0; i < count; ++i) {
        headers << QString::fromLatin1(columns[i]);
    }
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

// The row order: while held, the rows shown keep their places and new keys
// come after them; otherwise the fresh order.
template <typename Key>
std::vector<Key> rowOrder(bool held, const std::vector<Key>& shown, const std::vector<Key>& fresh) {
    // Rows kept for ids gone are bounded: past twice the list's size the
    // order is made anew even under the pointer.
    if (!held || shown.size() > 2 * VehicleAdmission::MAX_CANDIDATES) {
        return fresh;
    }
    std::vector<Key> order = shown;
    const std::set<Key> present(shown.begin(), shown.end());
    for (const Key& key : fresh) {
        if (present.count(key) == 0) {
            order.push_back(key);
        }
    }
    return order;
}

} // namespace

NewVehiclesDlg::NewVehiclesDlg(VehicleAdmission& admission, QWidget* parent)
    : NewVehiclesDlg(std::make_unique<AdmissionCandidates>(admission), nullptr, parent) {}

NewVehiclesDlg::NewVehiclesDlg(ICandidateList& candidates, QWidget* parent)
    : NewVehiclesDlg(nullptr, &candidates, parent) {}

NewVehiclesDlg::NewVehiclesDlg(std::unique_ptr<ICandidateList> own, ICandidateList* candidates, QWidget* parent)
    : QDialog(parent), m_own(std::move(own)), m_candidates(candidates != nullptr ? *candidates : *m_own),
      m_table(new QTableWidget(this)), m_senders(new QTableWidget(this)), m_summary(new QLabel(this)),
      m_senderSummary(new QLabel(this)), m_timer(new QTimer(this)) {
    setObjectName(QStringLiteral("newVehiclesDlg"));
    setWindowTitle(QString::fromLatin1(TITLE));
    setModal(false);
    m_summary->setTextFormat(Qt::PlainText);
    m_senderSummary->setTextFormat(Qt::PlainText);
    m_table->setObjectName(QStringLiteral("newVehiclesTable"));
    setHeaders(m_table, COLUMNS, static_cast<int>(std::size(COLUMNS)));
    // The name takes what is left; the buttons keep their room.
    m_table->horizontalHeader()->setSectionResizeMode(NAME_COLUMN, QHeaderView::Stretch);
    m_senders->setObjectName(QStringLiteral("unreviewedSendersTable"));
    setHeaders(m_senders, SENDER_COLUMNS, static_cast<int>(std::size(SENDER_COLUMNS)));
    m_senders->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    // Each list holds its order while the pointer is over it.
    m_table->viewport()->installEventFilter(this);
    m_senders->viewport()->installEventFilter(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_table, 3);
    layout->addWidget(m_senderSummary);
    layout->addWidget(m_senders, 1);
    layout->addWidget(buttons);
    resize(1040, 520);
    connect(m_timer, &QTimer::timeout, this, &NewVehiclesDlg::refresh);
    refresh();
}

bool NewVehiclesDlg::eventFilter(QObject* watched, QEvent* event) {
    const bool enter = event->type() == QEvent::Enter;
    if (enter || event->type() == QEvent::Leave) {
        if (watched == m_table->viewport()) {
            m_holdCandidates = enter;
            if (!enter) {
                refreshCandidates();
            }
        } else if (watched == m_senders->viewport()) {
            m_holdSenders = enter;
            if (!enter) {
                refreshSenders();
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void NewVehiclesDlg::refresh() {
    refreshCandidates();
    refreshSenders();
}

void NewVehiclesDlg::refreshCandidates() {
    const std::vector<VehicleAdmission::Candidate> candidates = m_candidates.getCandidates();
    m_summary->setText(candidates.empty() ? QString::fromLatin1(EMPTY)
                                          : QString::fromLatin1(SUMMARY).arg(candidates.size()));
    std::map<UniqueID, const VehicleAdmission::Candidate*> byId;
    std::vector<UniqueID> fresh;
    for (const VehicleAdmission::Candidate& candidate : candidates) {
        byId[candidate.id] = &candidate;
        fresh.push_back(candidate.id);
    }
    const std::vector<UniqueID> order = rowOrder(m_holdCandidates, m_shownIds, fresh);
    m_table->setRowCount(static_cast<int>(order.size()));
    for (int row = 0; row < static_cast<int>(order.size()); ++row) {
        const UniqueID& vehicle = order[static_cast<size_t>(row)];
        const auto found = byId.find(vehicle);
        const QString id = QString::fromStdString(vehicle.toText());
        if (found != byId.end()) {
            const VehicleAdmission::Candidate& candidate = *found->second;
            m_table->setItem(row, 0, cell(id));
            m_table->setItem(row, 1, cell(QString::fromStdString(candidate.address)));
            m_table->setItem(row, 2, cell(QString::fromStdString(candidate.name)));
            m_table->setItem(row, 3, cell(timeText(candidate.firstSeen)));
            m_table->setItem(row, 4, cell(timeText(candidate.lastSeen)));
            m_table->setItem(row, 5, cell(QString::number(candidate.messages)));
        }
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
            connect(admit, &QPushButton::clicked, this, [this, vehicle] { decide(vehicle, true); });
            connect(ignore, &QPushButton::clicked, this, [this, vehicle] { decide(vehicle, false); });
            m_table->setCellWidget(row, ACTION_COLUMN, actions);
        }
        // A row kept in place after its id left the list takes no clicks.
        actions->setEnabled(found != byId.end());
    }
    m_shownIds = order;
}

void NewVehiclesDlg::refreshSenders() {
    const std::vector<VehicleAdmission::UnreviewedSender> senders = m_candidates.getUnreviewedSenders();
    m_senderSummary->setText(QString::fromLatin1(senders.empty() ? NO_SENDERS : SENDER_SUMMARY));
    std::map<std::string, size_t> vehiclesOf;
    std::vector<std::string> fresh;
    for (const VehicleAdmission::UnreviewedSender& sender : senders) {
        vehiclesOf[sender.address] = sender.vehicles;
        fresh.push_back(sender.address);
    }
    const std::vector<std::string> order = rowOrder(m_holdSenders, m_shownSenders, fresh);
    m_senders->setRowCount(static_cast<int>(order.size()));
    for (int row = 0; row < static_cast<int>(order.size()); ++row) {
        const std::string& address = order[static_cast<size_t>(row)];
        const auto found = vehiclesOf.find(address);
        const QString sender = QString::fromStdString(address);
        m_senders->setItem(row, 0, cell(sender));
        m_senders->setItem(row, 1, cell(QString::number(found == vehiclesOf.end() ? 0 : found->second)));
        auto* button = qobject_cast<QPushButton*>(m_senders->cellWidget(row, SENDER_ACTION_COLUMN));
        if (button == nullptr || button->property("sender").toString() != sender) {
            button = new QPushButton(QString::fromLatin1(DELETE_ALL), m_senders);
            button->setObjectName(QStringLiteral("deleteSenderButton"));
            button->setProperty("sender", sender);
            connect(button, &QPushButton::clicked, this, [this, sender] { emit deleteSenderRequested(sender); });
            m_senders->setCellWidget(row, SENDER_ACTION_COLUMN, button);
        }
        button->setEnabled(found != vehiclesOf.end());
    }
    m_shownSenders = order;
}

void NewVehiclesDlg::decide(const UniqueID& id, bool admit) {
    if (admit) {
        // Admitted by hand: reviewed from now on.
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
