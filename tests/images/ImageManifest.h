#pragma once

#include <string>
#include <vector>

namespace velmora {

/// One picture of the page as listed in mapview/page/images/images.txt.
struct ImageEntry
{
    std::string name; ///< file name as the page uses it, e.g. "icon_record bad.png"
    int width = 0;
    int height = 0;
    bool blank = false; ///< meant to show nothing (a placeholder)
};

/// Reads the manifest the build renders from; throws std::runtime_error on a
/// missing file or a line the build would also reject.
std::vector<ImageEntry> readImageManifest(const std::string& path);

} // namespace velmora
