#pragma once

#include <QString>

class QWidget;

namespace velmora {

/// The console's message boxes: caption "Velmora", the icon each situation
/// names, modal for the whole application. Questions offer Yes and No with No
/// as the default, so a stray Enter never confirms anything.
class MessageBox {
public:
    static constexpr const char* CAPTION = "Velmora";

    /// Yes/No question with the question icon; true for Yes.
    static bool question(QWidget* parent, const QString& text);
    /// OK box with the stop (critical) icon.
    static void stop(QWidget* parent, const QString& text);
    /// OK box with the error icon (the same picture as stop on this desktop).
    static void error(QWidget* parent, const QString& text);
    /// OK box with the information icon.
    static void information(QWidget* parent, const QString& text);
    /// OK box with the warning icon.
    static void warning(QWidget* parent, const QString& text);
    /// OK box without an icon.
    static void plain(QWidget* parent, const QString& text);
};

} // namespace velmora
