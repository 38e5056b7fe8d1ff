#include "tests/images/ImageManifest.h"

#include <fstream>
#include <regex>
#include <stdexcept>

namespace velmora {

std::vector<ImageEntry> readImageManifest(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    // The same grammar as images.cmake: name.png WxH [blank]; # starts a comment.
    static const std::regex skip(R"(^[ \t]*(#.*)?$)");
    static const std::regex entry(R"(^(.*[^ \t]\.png)[ \t]+([0-9]+)x([0-9]+)([ \t]+blank)?[ \t]*$)");
    std::vector<ImageEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_match(line, skip))
            continue;
        if (!std::regex_match(line, match, entry))
            throw std::runtime_error("unreadable manifest line: " + line);
        entries.push_back({match[1].str(), std::stoi(match[2].str()), std::stoi(match[3].str()), match[4].matched});
    }
    return entries;
}

} // namespace velmora
