#pragma once

#include <cstdint>
#include <string>

namespace velmora {

/// The command line of velmora-receiver:
///
///     velmora-receiver [--store CONNINFO] [--port N] [--spool FILE] [--spool-limit-mb N]
///     velmora-receiver [--store CONNINFO] --import APP_DB [--origin NAME]
///     velmora-receiver --help | --version
///
/// The connection string comes from --store, else from the environment
/// variable VELMORA_STORE (so a service keeps it, and any password in it,
/// off the command line); "" leaves it to libpq's PG* variables and
/// ~/.pgpass. The spool is $STATE_DIRECTORY/spool.db under systemd, else
/// ${XDG_STATE_HOME:-~/.local/state}/velmora/receiver-spool.db.
class ReceiverOptions {
public:
    enum Action { RUN, IMPORT, HELP, VERSION, USAGE_ERROR };

    static constexpr int DEFAULT_PORT = 10111;
    static constexpr int64_t DEFAULT_SPOOL_LIMIT_MB = 1024;

    /// Reads argv; environment variables as getenv finds them.
    static ReceiverOptions parse(int argc, const char* const* argv);
    static std::string usage();
    static std::string defaultSpoolPath();

    Action action = RUN;
    std::string conninfo;
    int port = DEFAULT_PORT;
    std::string spoolPath;
    int64_t spoolLimitMb = DEFAULT_SPOOL_LIMIT_MB;
    std::string importPath;
    std::string origin;
    /// Why the command line was refused (USAGE_ERROR).
    std::string error;
};

} // namespace velmora
