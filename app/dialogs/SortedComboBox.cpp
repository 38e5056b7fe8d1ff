#include "app/dialogs/SortedComboBox.h"

namespace velmora {

SortedComboBox::SortedComboBox(QWidget* parent) : QComboBox(parent) {}

bool SortedComboBox::lessThan(const QString& left, const QString& right) {
    // Ordinal comparisons, so the order never depends on the user's locale.
    const int folded = QString::compare(left, right, Qt::CaseInsensitive);
    if (folded != 0) {
        return folded < 0;
    }
    return QString::compare(left, right, Qt::CaseSensitive) < 0;
}

int SortedComboBox::addSortedItem(const QString& text, const QVariant& data) {
    // After every entry that does not sort behind text: equal texts keep
    // the order in which they were added.
    int low = 0;
    int high = count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (lessThan(text, itemText(middle))) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    insertItem(low, text, data);
    return low;
}

} // namespace velmora
