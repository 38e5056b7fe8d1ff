#pragma once

#include <string>

namespace velmora {

/// Which directory holds the console's app.db, setup.db and images/.
///
///  1. --data-dir DIR: DIR (relative to the working directory).
///  2. Otherwise the working directory, as long as someone chose it: a
///     desktop menu or a session starts programs in the home directory (or
///     in /), and neither is a place to leave databases in. Then the
///     per-user data directory ${XDG_DATA_HOME}/velmora is used, with
///     XDG_DATA_HOME unset, empty or relative meaning ~/.local/share.
///
/// choose() is the rule alone, over given facts; fromEnvironment() feeds it
/// the process's own. The result is absolute and without a trailing slash.
class DataDirectory {
public:
    /// The facts the rule depends on.
    struct Facts {
        bool hasExplicit = false;
        std::string explicitDirectory; ///< --data-dir, as given
        std::string workingDirectory;  ///< absolute
        std::string homeDirectory;     ///< absolute; empty when unknown
        std::string xdgDataHome;       ///< the variable's value; empty when unset
    };
    /// The result: the directory and whether it is the per-user default.
    struct Choice {
        std::string directory;
        bool perUser = false;
    };

    /// The rule over given facts.
    static Choice choose(const Facts& facts);
    /// The rule over this process: getcwd, HOME (or the password entry),
    /// XDG_DATA_HOME.
    static Choice fromEnvironment(bool hasExplicit, const std::string& explicitDirectory);

    /// Makes directory and its parents (0700 for the ones made, as the
    /// databases hold the fleet's whereabouts); whether it exists afterwards.
    static bool create(const std::string& directory);

    /// Points <directory>/images at sharedImages when the directory has no
    /// images of its own (an entry that is missing or a link that leads
    /// nowhere, as after the program moved); a real folder is the
    /// operator's and is left alone. Whether <directory>/images is usable.
    static bool linkImages(const std::string& directory, const std::string& sharedImages);
};

} // namespace velmora
