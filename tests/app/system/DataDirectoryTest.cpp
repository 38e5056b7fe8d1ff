// Where the console keeps its files: the rule over every combination of
// --data-dir, working directory, home and XDG_DATA_HOME, and the real
// directory and images/ link made in a temporary folder.

#include "app/system/DataDirectory.h"

#include "tests/support/ConsoleTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

using namespace velmora;
using namespace velmora::test;

namespace fs = std::filesystem;

namespace {

struct RuleCase {
    const char* what;
    bool hasExplicit;
    std::string explicitDirectory;
    std::string workingDirectory;
    std::string home;
    std::string xdg;
    std::string directory;
    bool perUser;
};

} // namespace

TEST(DataDirectory, TheRuleChoosesExplicitThenWorkingThenPerUser) {
    const RuleCase cases[] = {
        {"explicit, absolute", true, "/srv/fleet/", "/home/op", "/home/op", "", "/srv/fleet", false},
        {"explicit, relative to the working directory", true, "var", "/work/velmora", "/home/op", "", "/work/velmora/var", false},
        {"explicit wins over home", true, "../data", "/home/op/x", "/home/op", "/xdg", "/home/op/data", false},
        {"a chosen working directory", false, "", "/srv/fleet", "/home/op", "/xdg", "/srv/fleet", false},
        {"a folder below home is chosen", false, "", "/home/op/fleet", "/home/op", "", "/home/op/fleet", false},
        {"home, XDG unset", false, "", "/home/op", "/home/op", "", "/home/op/.local/share/velmora", true},
        {"home written with a slash", false, "", "/home/op", "/home/op/", "", "/home/op/.local/share/velmora", true},
        {"home, XDG set", false, "", "/home/op", "/home/op", "/data/op", "/data/op/velmora", true},
        {"home, XDG relative is ignored", false, "", "/home/op", "/home/op", "data", "/home/op/.local/share/velmora", true},
        {"root directory, as a session starts", false, "", "/", "/home/op", "", "/home/op/.local/share/velmora", true},
        {"no working directory", false, "", "", "/home/op", "/x/", "/x/velmora", true},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        DataDirectory::Facts facts;
        facts.hasExplicit = c.hasExplicit;
        facts.explicitDirectory = c.explicitDirectory;
        facts.workingDirectory = c.workingDirectory;
        facts.homeDirectory = c.home;
        facts.xdgDataHome = c.xdg;
        const DataDirectory::Choice choice = DataDirectory::choose(facts);
        EXPECT_EQ(choice.directory, c.directory);
        EXPECT_EQ(choice.perUser, c.perUser);
    }
}

// Home reached through a link is still home: launchers hand over the
// resolved path while HOME may name a link.
TEST(DataDirectory, HomeThroughALinkIsStillHome) {
    TempDir dir;
    fs::create_directory(dir.file("real"));
    fs::create_directory_symlink(dir.file("real"), dir.file("home"));
    DataDirectory::Facts facts;
    facts.workingDirectory = dir.file("real");
    facts.homeDirectory = dir.file("home");
    const DataDirectory::Choice choice = DataDirectory::choose(facts);
    EXPECT_TRUE(choice.perUser);
    EXPECT_EQ(choice.directory, dir.file("home") + "/.local/share/velmora");
}

// The directory is made with its parents, private to the user; images/
// leads to the shipped pictures unless the directory has its own.
TEST(DataDirectory, CreatesTheDirectoryAndLinksMissingImages) {
    TempDir dir;
    const std::string shared = dir.file("share/images");
    fs::create_directories(shared);
    std::ofstream(shared + "/line.png") << "png";

    const std::string data = dir.file("xdg/velmora");
    ASSERT_TRUE(DataDirectory::create(data));
    EXPECT_TRUE(DataDirectory::create(data)) << "a second start finds it";
    struct stat info {};
    ASSERT_EQ(::stat(data.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    ASSERT_TRUE(DataDirectory::linkImages(data, shared));
    EXPECT_TRUE(fs::is_symlink(data + "/images"));
    EXPECT_EQ(readFile(data + "/images/line.png"), "png");

    // A link left from a copy that moved leads nowhere: it is replaced.
    const std::string moved = dir.file("moved");
    fs::create_directories(moved);
    fs::create_directory_symlink(dir.file("gone"), moved + "/images");
    ASSERT_TRUE(DataDirectory::linkImages(moved, shared));
    EXPECT_EQ(fs::read_symlink(moved + "/images"), shared);

    // The operator's own folder stays as it is.
    const std::string own = dir.file("own");
    fs::create_directories(own + "/images");
    ASSERT_TRUE(DataDirectory::linkImages(own, shared));
    EXPECT_FALSE(fs::is_symlink(own + "/images"));
    EXPECT_FALSE(fs::exists(own + "/images/line.png"));

    // Nothing shipped: nothing linked, and the answer says so.
    const std::string bare = dir.file("bare");
    fs::create_directories(bare);
    EXPECT_FALSE(DataDirectory::linkImages(bare, dir.file("nowhere")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(bare + "/images")));

    // A directory that cannot be made is reported, not assumed.
    std::ofstream(dir.file("file")) << "x";
    EXPECT_FALSE(DataDirectory::create(dir.file("file/velmora")));
}
