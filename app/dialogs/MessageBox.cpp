#include "app/dialogs/MessageBox.h"

#include "foundation/Trace.h"

#include <QMessageBox>

namespace velmora {

namespace {

QMessageBox::StandardButton show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault) {
    // With VELMORA_TRACE=1 every box is also a line on standard error, so a
    // console run without a screen in view still says what it asked.
    trace("MessageBox: %s", qPrintable(text));
    QMessageBox box(icon, QString::fromLatin1(MessageBox::CAPTION), text, buttons, parent);
    box.setDefaultButton(byDefault);
    box.setWindowModality(Qt::ApplicationModal);
    // Device and operator texts are shown as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

bool MessageBox::question(QWidget* parent, const QString& text) {
    return show(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void MessageBox::stop(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::error(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::information(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::warning(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::plain(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace velmora
