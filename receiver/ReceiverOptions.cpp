#include "receiver/ReceiverOptions.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace velmora {

namespace {

bool readNumber(const char* text, int64_t lowest, int64_t highest, int64_t& value)
{
    const char* end = text + std::strlen(text);
    const auto read = std::from_chars(text, end, value);
    return read.ec == std::errc() && read.ptr == end && value >= lowest && value <= highest;
}

} // namespace

std::string ReceiverOptions::usage()
{
    return "usage: velmora-receiver [--store CONNINFO] [--port N] [--spool FILE] [--spool-limit-mb N]\n"
           "       velmora-receiver [--store CONNINFO] --import APP_DB [--origin NAME]\n"
           "       velmora-receiver --help | --version\n"
           "\n"
           "Receives the fleet's device datagrams on UDP port N (default 10111) and writes them\n"
           "to the control room's store (PostgreSQL). CONNINFO is a libpq connection string or\n"
           "URI; without --store it is taken from the environment variable VELMORA_STORE, then\n"
           "from libpq's PG* variables. While the store is away, batches wait in the spool FILE\n"
           "(at most N MB, default 1024). --import copies a desk's app.db into the store.\n";
}

std::string ReceiverOptions::defaultSpoolPath()
{
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
        // systemd may list several folders, apart by colons: the first one.
        std::string folder = state;
        return folder.substr(0, folder.find(':')) + "/spool.db";
    }
    std::string folder;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
        folder = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        folder = std::string(home) + "/.local/state";
    } else {
        folder = ".";
    }
    return folder + "/velmora/receiver-spool.db";
}

ReceiverOptions ReceiverOptions::parse(int argc, const char* const* argv)
{
    ReceiverOptions options;
    bool storeGiven = false;
    const auto refuse = [&options](const std::string& why) {
        options.action = USAGE_ERROR;
        options.error = why;
        return options;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options.action = HELP;
            return options;
        }
        if (arg == "--version") {
            options.action = VERSION;
            return options;
        }
        if (arg != "--store" && arg != "--port" && arg != "--spool" && arg != "--spool-limit-mb" &&
            arg != "--import" && arg != "--origin") {
            return refuse("unknown option " + arg);
        }
        if (!hasValue) {
            return refuse(arg + " needs a value");
        }
        const char* value = argv[++i];
        int64_t number = 0;
        if (arg == "--store") {
            options.conninfo = value;
            storeGiven = true;
        } else if (arg == "--port") {
            if (!readNumber(value, 0, 65535, number)) {
                return refuse("--port must be between 0 and 65535");
            }
            options.port = static_cast<int>(number);
        } else if (arg == "--spool") {
            options.spoolPath = value;
        } else if (arg == "--spool-limit-mb") {
            if (!readNumber(value, 1, 1024 * 1024, number)) {
                return refuse("--spool-limit-mb must be between 1 and 1048576");
            }
            options.spoolLimitMb = number;
        } else if (arg == "--import") {
            options.action = IMPORT;
            options.importPath = value;
        } else {
            options.origin = value;
        }
    }
    if (!storeGiven) {
        const char* fromEnvironment = std::getenv("VELMORA_STORE");
        options.conninfo = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    if (options.spoolPath.empty()) {
        options.spoolPath = defaultSpoolPath();
    }
    return options;
}

} // namespace velmora
