#include "app/dialogs/CsvFileDialog.h"

#include <QFileDialog>
#include <QStringList>

namespace velmora {

QString CsvFileDialog::choose(QWidget* parent, const QString& proposedName) {
    QFileDialog dialog(parent);
    dialog.setObjectName(QString::fromLatin1(OBJECT_NAME));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromLatin1(FILTER));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

} // namespace velmora
