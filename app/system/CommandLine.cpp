#include "app/system/CommandLine.h"

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace velmora {

namespace {

const char* const DATA_DIR = "--data-dir";
const char* const STORE = "--store";

CommandLine::Action actionFor(const std::string& argument) {
    if (argument == "--help" || argument == "-h") {
        return CommandLine::Help;
    }
    if (argument == "--version") {
        return CommandLine::Version;
    }
    return CommandLine::Run;
}

} // namespace

CommandLine CommandLine::parse(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return parse(arguments);
}

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    auto fail = [&line](const std::string& error) {
        line.m_action = UsageError;
        line.m_error = error;
        return line;
    };
    bool help = false;
    bool version = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const Action action = actionFor(argument);
        if (action == Help) {
            help = true;
            continue;
        }
        if (action == Version) {
            version = true;
            continue;
        }
        if (argument == STORE || argument.rfind(std::string(STORE) + "=", 0) == 0) {
            if (line.m_hasStore) {
                return fail("--store is given twice");
            }
            if (argument == STORE) {
                if (i + 1 == arguments.size()) {
                    return fail("--store needs a connection string (\"\" for the PG* environment)");
                }
                line.m_store = arguments[++i];
            } else {
                line.m_store = argument.substr(std::char_traits<char>::length(STORE) + 1);
            }
            line.m_hasStore = true;
            continue;
        }
        std::string value;
        if (argument == DATA_DIR) {
            if (i + 1 == arguments.size()) {
                return fail("--data-dir needs a directory");
            }
            value = arguments[++i];
        } else if (argument.rfind(std::string(DATA_DIR) + "=", 0) == 0) {
            value = argument.substr(std::char_traits<char>::length(DATA_DIR) + 1);
        } else if (!argument.empty() && argument[0] == '-') {
            return fail("unknown option '" + argument + "'");
        } else {
            return fail("unexpected argument '" + argument + "'");
        }
        if (value.empty()) {
            return fail("--data-dir needs a directory");
        }
        if (line.m_hasDataDirectory) {
            return fail("--data-dir is given twice");
        }
        line.m_dataDirectory = value;
        line.m_hasDataDirectory = true;
    }
    // Help wins over version, as the whole line was well-formed.
    line.m_action = help ? Help : version ? Version : Run;
    return line;
}

std::string CommandLine::usage() {
    return "Usage: velmora [--data-dir DIR] [--store CONNINFO]\n"
           "       velmora --help | --version\n"
           "The fleet console: receives the vehicle recorders' UDP messages on the callback\n"
           "port and shows the fleet on a map.\n"
           "\n"
           "Options:\n"
           "  --data-dir DIR  keep app.db, setup.db and the page's images/ in DIR\n"
           "                  (created when missing)\n"
           "  --store CONNINFO work as a control-room desk of the store at CONNINFO (a\n"
           "                  PostgreSQL connection string or URI; \"\" for the PG*\n"
           "                  environment; the password belongs in ~/.pgpass): no\n"
           "                  callback port, the fleet and alarms shared with the\n"
           "                  other desks. Each desk of one user needs a data\n"
           "                  directory of its own.\n"
           "  --help          this text\n"
           "  --version       the version\n"
           "\n"
           "Without --data-dir the console works in the current directory, unless that is\n"
           "the home directory or / (as when started from the desktop menu): then it uses\n"
           "${XDG_DATA_HOME:-~/.local/share}/velmora, made on the first start.\n";
}

std::string CommandLine::versionText() {
    return std::string("velmora ") + VELMORA_VERSION + "\n";
}

} // namespace velmora
