// The console's command line: what each line makes the program do, judged
// before anything is opened.

#include "app/system/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;

namespace {

struct LineCase {
    std::vector<std::string> arguments;
    CommandLine::Action action;
    std::string dataDirectory; // for Run
    std::string error;         // a part of it, for UsageError
    const char* store = nullptr; // the --store string, for Run; null: no desk
};

} // namespace

TEST(CommandLine, EachLineRunsHelpsOrIsRefused) {
    const LineCase cases[] = {
        {{}, CommandLine::Run, "", ""},
        {{"--data-dir", "/srv/fleet"}, CommandLine::Run, "/srv/fleet", ""},
        {{"--data-dir=var"}, CommandLine::Run, "var", ""},
        {{"--data-dir", "--help"}, CommandLine::Run, "--help", ""}, // a directory may look like an option
        {{"--help"}, CommandLine::Help, "", ""},
        {{"-h"}, CommandLine::Help, "", ""},
        {{"--version"}, CommandLine::Version, "", ""},
        {{"--version", "--help"}, CommandLine::Help, "", ""},
        {{"--data-dir", "x", "--version"}, CommandLine::Version, "", ""},
        {{"--bogus"}, CommandLine::UsageError, "", "unknown option '--bogus'"},
        {{"--help", "--bogus"}, CommandLine::UsageError, "", "unknown option"},
        {{"-platform", "xcb"}, CommandLine::UsageError, "", "unknown option '-platform'"},
        {{"stray"}, CommandLine::UsageError, "", "unexpected argument 'stray'"},
        {{"--data-dir"}, CommandLine::UsageError, "", "needs a directory"},
        {{"--data-dir="}, CommandLine::UsageError, "", "needs a directory"},
        {{"--data-dir", ""}, CommandLine::UsageError, "", "needs a directory"},
        {{"--data-dir", "a", "--data-dir", "b"}, CommandLine::UsageError, "", "twice"},
        {{"--data-dirx"}, CommandLine::UsageError, "", "unknown option"},
        {{"--"}, CommandLine::UsageError, "", "unknown option"},
        {{"--store", "host=db dbname=velmora"}, CommandLine::Run, "", "", "host=db dbname=velmora"},
        {{"--store=postgresql://db/velmora", "--data-dir", "d1"}, CommandLine::Run, "d1", "",
         "postgresql://db/velmora"},
        {{"--store", ""}, CommandLine::Run, "", "", ""}, // the PG* environment
        {{"--store="}, CommandLine::Run, "", "", ""},
        {{"--store"}, CommandLine::UsageError, "", "needs a connection string"},
        {{"--store", "a", "--store=b"}, CommandLine::UsageError, "", "--store is given twice"},
        {{"--storex"}, CommandLine::UsageError, "", "unknown option"},
    };
    for (const LineCase& c : cases) {
        std::string shown;
        for (const std::string& argument : c.arguments) {
            shown += "[" + argument + "]";
        }
        SCOPED_TRACE(shown);
        const CommandLine line = CommandLine::parse(c.arguments);
        EXPECT_EQ(line.getAction(), c.action);
        if (c.action == CommandLine::Run) {
            EXPECT_EQ(line.hasDataDirectory(), !c.dataDirectory.empty());
            EXPECT_EQ(line.getDataDirectory(), c.dataDirectory);
            EXPECT_EQ(line.hasStore(), c.store != nullptr);
            EXPECT_EQ(line.getStore(), c.store != nullptr ? c.store : "");
        }
        if (c.action == CommandLine::UsageError) {
            EXPECT_NE(line.getError().find(c.error), std::string::npos) << line.getError();
        }
    }
}

// argv as main() gets it: the program name is not an argument.
TEST(CommandLine, ArgvSkipsTheProgramNameAndNamesTheVersion) {
    char program[] = "velmora";
    char option[] = "--data-dir";
    char directory[] = "/tmp/v";
    char* argv[] = {program, option, directory, nullptr};
    const CommandLine line = CommandLine::parse(3, argv);
    EXPECT_EQ(line.getAction(), CommandLine::Run);
    EXPECT_EQ(line.getDataDirectory(), "/tmp/v");
    EXPECT_EQ(CommandLine::versionText(), std::string("velmora ") + VELMORA_VERSION + "\n");
    EXPECT_NE(CommandLine::usage().find("--data-dir DIR"), std::string::npos);
    EXPECT_NE(CommandLine::usage().find("--store CONNINFO"), std::string::npos);
}
