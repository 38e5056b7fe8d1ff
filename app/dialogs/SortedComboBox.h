#pragma once

#include <QComboBox>

namespace velmora {

/// A drop-down list that keeps the entries added through addSortedItem in
/// order of their text, letter case ignored (ties in order of addition).
/// insertItem places an entry where it is told, so a fixed first entry such
/// as "(All Vehicles)" stays in front of the sorted ones.
class SortedComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit SortedComboBox(QWidget* parent = nullptr);

    /// Inserts text (carrying data) at its sorted place; returns its index.
    int addSortedItem(const QString& text, const QVariant& data = QVariant());
    /// The order addSortedItem keeps: case-insensitive, then case-sensitive.
    static bool lessThan(const QString& left, const QString& right);
};

} // namespace velmora
