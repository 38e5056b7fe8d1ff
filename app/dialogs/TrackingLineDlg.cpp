#include "app/dialogs/TrackingLineDlg.h"

#include "app/dialogs/MessageBox.h"
#include "app/dialogs/SortedComboBox.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace velmora {

namespace {

const char* const TITLE = "Tracking Line";
const char* const DURATION_LABEL = "Duration :";
const char* const SHOW_TEXT = "Show";
const char* const CANCEL_TEXT = "Cancel";
const char* const CHOOSE = "Choose a duration";

constexpr int LIST_WIDTH = 120;

// The entries in the order they are added; the list shows them sorted.
struct Duration {
    const char* text;
    int hours;
};
const Duration DURATIONS[] = {
    {"1 Hours", 1}, {"3 Hours", 3}, {"7 Hours", 7}, {"1 Days", 24}, {"3 Days", 72}, {"7 Days", 168},
};

} // namespace

TrackingLineDlg::TrackingLineDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("trackingLineDlg"));
    setWindowTitle(QString::fromLatin1(TITLE));

    m_durationList = new SortedComboBox(this);
    m_durationList->setObjectName(QStringLiteral("durationList"));
    for (const Duration& duration : DURATIONS) {
        m_durationList->addSortedItem(QString::fromLatin1(duration.text), duration.hours);
    }
    m_durationList->setCurrentIndex(-1);
    m_durationList->setMinimumWidth(LIST_WIDTH);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* show = buttons->addButton(QString::fromLatin1(SHOW_TEXT), QDialogButtonBox::AcceptRole);
    show->setObjectName(QStringLiteral("showButton"));
    show->setDefault(true);
    QPushButton* cancel = buttons->addButton(QString::fromLatin1(CANCEL_TEXT), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &TrackingLineDlg::onShow);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    auto* label = new QLabel(QString::fromLatin1(DURATION_LABEL), this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_durationList, 0, 1);
    grid->addWidget(buttons, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

int TrackingLineDlg::getDurationHours() const {
    const int index = m_durationList->currentIndex();
    return index < 0 ? 0 : m_durationList->itemData(index).toInt();
}

QString TrackingLineDlg::getDurationText() const {
    const int index = m_durationList->currentIndex();
    return index < 0 ? QString() : m_durationList->itemText(index);
}

void TrackingLineDlg::onShow() {
    if (m_durationList->currentIndex() < 0) {
        MessageBox::plain(this, QString::fromLatin1(CHOOSE));
        return;
    }
    accept();
}

} // namespace velmora
