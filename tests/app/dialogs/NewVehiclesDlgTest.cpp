// The New vehicles window: while the pointer is over a list its rows stay
// where they are, so the button under the pointer is the one for its row;
// the order is made anew when the pointer leaves. Each button acts on its
// own row's id or sender.

#include "tests/app/dialogs/WindowTestSupport.h"

#include "app/dialogs/NewVehiclesDlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

class ListedCandidates : public ICandidateList {
public:
    std::vector<VehicleAdmission::Candidate> candidates;
    std::vector<VehicleAdmission::UnreviewedSender> senders;
    std::vector<std::string> decided;

    std::vector<VehicleAdmission::Candidate> getCandidates() const override { return candidates; }
    void admit(const UniqueID& id) override { decided.push_back("admit " + id.toText()); }
    void ignore(const UniqueID& id) override { decided.push_back("ignore " + id.toText()); }
    std::vector<VehicleAdmission::UnreviewedSender> getUnreviewedSenders() const override { return senders; }
};

VehicleAdmission::Candidate candidate(const char* id, const char* address) {
    VehicleAdmission::Candidate made;
    UniqueID::parse(id, made.id);
    made.address = address;
    made.name = "Van";
    made.messages = 3;
    return made;
}

const char* const A = "0a000000-0000-4000-8000-00000000000a";
const char* const B = "0b000000-0000-4000-8000-00000000000b";
const char* const C = "0c000000-0000-4000-8000-00000000000c";
const char* const D = "0d000000-0000-4000-8000-00000000000d";

/// Each row's id and whether its buttons take clicks: "id+" or "id-".
std::vector<std::string> rowsOf(QTableWidget* table) {
    std::vector<std::string> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QWidget* actions = table->cellWidget(row, table->columnCount() - 1);
        const bool on = actions != nullptr && actions->isEnabled();
        rows.push_back(table->item(row, 0)->text().toStdString().substr(0, 2) + (on ? "+" : "-"));
    }
    return rows;
}

void pointer(QTableWidget* table, QEvent::Type type) {
    QEvent event(type);
    QCoreApplication::sendEvent(table->viewport(), &event);
}

} // namespace

TEST(NewVehiclesDlgTest, RowsHoldTheirPlacesUnderThePointerAndButtonsActOnTheirOwnRow) {
    ListedCandidates list;
    list.candidates = {candidate(A, "10.0.0.1"), candidate(B, "10.0.0.2"), candidate(C, "10.0.0.1")};
    list.senders = {{"10.0.0.7", 40}, {"10.0.0.8", 12}};
    NewVehiclesDlg window(list, nullptr);
    window.show();
    QTableWidget* table = window.getTable();
    EXPECT_EQ(rowsOf(table), (std::vector<std::string>{"0a+", "0b+", "0c+"}));

    // The pointer comes over the list; meanwhile B leaves it, D arrives and
    // C was seen most recently.
    pointer(table, QEvent::Enter);
    list.candidates = {candidate(C, "10.0.0.1"), candidate(D, "10.0.0.3"), candidate(A, "10.0.0.1")};
    window.refresh();
    EXPECT_EQ(rowsOf(table), (std::vector<std::string>{"0a+", "0b-", "0c+", "0d+"}));
    click(table->cellWidget(2, table->columnCount() - 1)->findChild<QPushButton*>("admitButton"));
    click(table->cellWidget(0, table->columnCount() - 1)->findChild<QPushButton*>("ignoreButton"));
    EXPECT_EQ(list.decided, (std::vector<std::string>{std::string("admit ") + C, std::string("ignore ") + A}));

    // Gone from under the pointer, the list takes its fresh order.
    pointer(table, QEvent::Leave);
    EXPECT_EQ(rowsOf(table), (std::vector<std::string>{"0c+", "0d+", "0a+"}));

    // The senders' list holds the same way; its button names its own row.
    QTableWidget* senders = window.getSenderTable();
    pointer(senders, QEvent::Enter);
    list.senders = {{"10.0.0.9", 70}, {"10.0.0.8", 12}};
    window.refresh();
    ASSERT_EQ(senders->rowCount(), 3);
    EXPECT_EQ(senders->item(0, 0)->text(), QStringLiteral("10.0.0.7"));
    EXPECT_FALSE(senders->cellWidget(0, 2)->isEnabled());
    EXPECT_EQ(senders->item(2, 0)->text(), QStringLiteral("10.0.0.9"));
    QSignalSpy asked(&window, &NewVehiclesDlg::deleteSenderRequested);
    click(senders->cellWidget(1, 2));
    ASSERT_EQ(asked.count(), 1);
    EXPECT_EQ(asked.at(0).at(0).toString(), QStringLiteral("10.0.0.8"));
    pointer(senders, QEvent::Leave);
    EXPECT_EQ(senders->item(0, 0)->text(), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(senders->rowCount(), 2);
}
