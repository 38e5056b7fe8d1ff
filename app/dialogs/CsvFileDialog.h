#pragma once

#include <QString>

class QWidget;

namespace velmora {

/// The save-file dialog of the CSV exports (event log, alarm report): Qt's
/// own dialog, so it looks the same everywhere and tests can answer it.
class CsvFileDialog {
public:
    static constexpr const char* FILTER = "CSV File(*.csv)";
    /// Object name of the dialog while it is open (for tests that answer it).
    static constexpr const char* OBJECT_NAME = "exportFileDialog";

    /// Runs the dialog modally with proposedName chosen; the path to write,
    /// or the empty text on Cancel.
    static QString choose(QWidget* parent, const QString& proposedName);
};

} // namespace velmora
