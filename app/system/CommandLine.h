#pragma once

#include <string>
#include <vector>

namespace velmora {

/// The console's command line, read before anything else is made: no
/// window, database or socket exists while it is judged, so a mistyped
/// option costs nothing.
///
///   velmora [--data-dir DIR] [--store CONNINFO] [--help] [--version]
///
/// "--data-dir=DIR" is the same as "--data-dir DIR", "--store=CONNINFO" as
/// "--store CONNINFO"; CONNINFO may be empty (the PG* environment then says
/// where the store is). Anything else (an unknown option, a stray argument,
/// an option without its value or given twice) is a usage error: the caller
/// prints usage() to standard error and exits with status 2.
class CommandLine {
public:
    enum Action { Run, Help, Version, UsageError };

    /// Reads the arguments after the program name.
    static CommandLine parse(const std::vector<std::string>& arguments);
    /// parse() over argv[1..argc-1].
    static CommandLine parse(int argc, char** argv);

    /// The text of --help, ending with a line break.
    static std::string usage();
    /// "velmora <version>", ending with a line break.
    static std::string versionText();

    Action getAction() const { return m_action; }
    /// The --data-dir directory as given; empty when absent.
    const std::string& getDataDirectory() const { return m_dataDirectory; }
    bool hasDataDirectory() const { return m_hasDataDirectory; }
    /// The --store connection string: the console works as a control-room
    /// desk of that store.
    const std::string& getStore() const { return m_store; }
    bool hasStore() const { return m_hasStore; }
    /// What was wrong, for a usage error ("unknown option '--x'").
    const std::string& getError() const { return m_error; }

private:
    Action m_action = Run;
    std::string m_dataDirectory;
    bool m_hasDataDirectory = false;
    std::string m_store;
    bool m_hasStore = false;
    std::string m_error;
};

} // namespace velmora
