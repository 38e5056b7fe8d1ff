#pragma once

#include <string>

class QWidget;

namespace velmora {

/// The open-file dialog for a vehicle's icon image: PNG, BMP and JPG files,
/// "*.png" proposed, the file must exist. Qt's own dialog (not the desktop's)
/// so it looks and behaves the same everywhere and tests can answer it.
class ImageFileDialog {
public:
    /// The filter list, in the order offered.
    static constexpr const char* FILTER = "PNG File(*.png);;BMP File(*.bmp);;JPG File(*.jpg)";
    /// Object name of the dialog while it is open (for tests that answer it).
    static constexpr const char* OBJECT_NAME = "imageFileDialog";

    /// Runs the dialog modally; the chosen path in UTF-8 as the file is
    /// named (backslashes included), or the empty text on Cancel.
    static std::string choose(QWidget* parent);
};

} // namespace velmora
