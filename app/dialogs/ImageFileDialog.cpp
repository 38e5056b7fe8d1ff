#include "app/dialogs/ImageFileDialog.h"

#include <QFileDialog>
#include <QStringList>

namespace velmora {

std::string ImageFileDialog::choose(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setObjectName(QString::fromLatin1(OBJECT_NAME));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QString::fromLatin1(FILTER).split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.selectFile(QStringLiteral("*.png"));
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return {};
    }
    // A backslash is an ordinary character of a file name here: kept.
    return chosen.first().toStdString();
}

} // namespace velmora
