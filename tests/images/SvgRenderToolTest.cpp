// velmora-svgrender as the build runs it: a real process on real files.

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace velmora {
namespace {

namespace fs = std::filesystem;

int runRenderer(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {VELMORA_SVGRENDER};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Keep the expected complaints out of the test log.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

class SvgRenderToolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "velmora-svgrender-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    std::string write(const std::string& name, const std::string& text)
    {
        const fs::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    fs::path m_dir;
};

// A 16x14 tile with transparent rounded corners.
const char* const kTile = R"svg(<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny"
  width="16" height="14" viewBox="0 0 16 14">
  <rect x="0" y="0" width="16" height="14" rx="4" ry="4" fill="#2C9C5A"/>
</svg>)svg";

TEST_F(SvgRenderToolTest, DrawsAtTheRequestedSizeKeepingTransparency)
{
    struct Row { const char* width; const char* height; int w; int h; };
    for (const Row& row : {Row{"16", "14", 16, 14}, Row{"32", "28", 32, 28}}) {
        SCOPED_TRACE(row.width);
        const std::string svg = write("tile.svg", kTile);
        const std::string png = (m_dir / "out dir" / "tile one.png").string();
        ASSERT_EQ(runRenderer({svg, png, row.width, row.height}), 0);
        const QImage image = QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), row.w);
        EXPECT_EQ(image.height(), row.h);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the rounded corner stays transparent";
        EXPECT_EQ(image.pixel(row.w / 2, row.h / 2), qRgba(0x2C, 0x9C, 0x5A, 0xFF));
    }
}

// Every refusal fails the build step and leaves an earlier output untouched.
TEST_F(SvgRenderToolTest, RefusesBadInputWithoutTouchingTheOutput)
{
    const std::string tile = write("tile.svg", kTile);
    const std::string garbage = write("garbage.svg", "this is not a drawing");
    const std::string dangling = write("dangling.svg",
        R"svg(<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" width="16" height="14"
             viewBox="0 0 16 14"><rect width="16" height="14" fill="url(#nowhere)"/></svg>)svg");
    const std::string missing = (m_dir / "missing.svg").string();

    struct Row { const char* what; std::vector<std::string> args; };
    const std::vector<Row> rows = {
        {"stretched to another aspect", {tile, "", "16", "16"}},
        {"not an svg", {garbage, "", "16", "14"}},
        {"missing input", {missing, "", "16", "14"}},
        {"unresolvable paint", {dangling, "", "16", "14"}},
        {"zero width", {tile, "", "0", "14"}},
        {"negative height", {tile, "", "16", "-14"}},
        {"unit suffix", {tile, "", "16px", "14"}},
        {"too large", {tile, "", "8000", "7000"}},
        {"missing argument", {tile, ""}},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.what);
        const std::string png = write("kept.png", "previous build");
        row.args[1] = png;
        EXPECT_NE(runRenderer(row.args), 0);
        std::ifstream in(png, std::ios::binary);
        const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kept, "previous build");
    }
}

} // namespace
} // namespace velmora
