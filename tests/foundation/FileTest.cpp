#include "tests/support/ReturnsWithin.h"
#include "foundation/File.h"
#include "foundation/SystemException.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

using namespace velmora;

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velmora-file-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }
    std::string path(const char* name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

using velmora::testing::returnsWithin;

} // namespace

TEST_F(FileTest, WriteSeekReadTruncate)
{
    const std::string name = path("data.bin");
    File file(name.c_str(), File::READ | File::WRITE | File::CREATE);
    EXPECT_EQ(file.write("hello world", 11), 11u);
    EXPECT_EQ(file.tell(), 11u);
    EXPECT_EQ(file.size(), 11u);
    file.seek(6);
    char buffer[16] = {};
    EXPECT_EQ(file.read(buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(file.read(buffer, sizeof buffer), 0u);
    file.truncate(5);
    EXPECT_EQ(file.size(), 5u);
    file.flush();
    EXPECT_TRUE(file.close());
    EXPECT_TRUE(file.close()); // the second close does nothing
    EXPECT_EQ(File::size(name.c_str()), 5u);
}

TEST_F(FileTest, CreateRefusesAnExistingFileAndKeepsIt)
{
    const std::string name = path("kept.bin");
    File::create(name.c_str(), 0);
    EXPECT_EQ(File::size(name.c_str()), 0u);
    {
        File file(name.c_str(), File::WRITE);
        file.write("keep", 4);
        file.close();
    }
    try {
        File::create(name.c_str(), 100);
        FAIL() << "create over an existing file";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), EEXIST);
    }
    EXPECT_EQ(File::size(name.c_str()), 4u);

    File::create(path("sized.bin").c_str(), 4096);
    EXPECT_EQ(File::size(path("sized.bin").c_str()), 4096u);
}

TEST_F(FileTest, ExistsTellsMissingFileFromMissingDirectory)
{
    const std::string name = path("here.txt");
    File::create(name.c_str(), 1);
    EXPECT_TRUE(File::exists(name.c_str()));
    EXPECT_FALSE(File::exists(path("absent.txt").c_str()));
    try {
        File::exists(path("no-such-dir/absent.txt").c_str());
        FAIL() << "exists under a missing directory";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), ENOENT);
    }
    // A relative name in the working directory.
    EXPECT_FALSE(File::exists("velmora-surely-absent-file.txt"));
}

TEST_F(FileTest, ExistsAsksTheFileSystemWithoutOpening)
{
    // A FIFO with no writer would block an open for ever; it exists.
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto answer = std::make_shared<std::atomic<int>>(-1);
    const bool returned = returnsWithin(std::chrono::seconds(2), [fifo, answer] {
        try {
            answer->store(File::exists(fifo.c_str()) ? 1 : 0);
        } catch (const SystemException&) {
            answer->store(2);
        }
    });
    if (!returned) {
        // Release the blocked open so that the helper ends.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (writer >= 0)
            ::close(writer);
    }
    ASSERT_TRUE(returned) << "exists() blocked on a FIFO";
    EXPECT_EQ(answer->load(), 1);

    // A file without read permission exists all the same.
    const std::string locked = path("locked");
    File::create(locked.c_str(), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_TRUE(File::exists(locked.c_str()));

    // A directory is no file: it neither exists as one nor is it missing.
    for (const std::string& directory : {m_dir, m_dir + "/"}) {
        SCOPED_TRACE(directory);
        try {
            const bool exists = File::exists(directory.c_str());
            ADD_FAILURE() << "exists() answered " << exists << " for a directory";
        } catch (const SystemException& e) {
            EXPECT_EQ(e.getErrorCode(), EISDIR);
        }
    }
    // A file used as a directory on the way.
    try {
        File::exists((locked + "/inner").c_str());
        ADD_FAILURE() << "exists() under a plain file";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), ENOTDIR);
    }
}

TEST_F(FileTest, OpenFailuresThrowWithTheErrno)
{
    File file;
    try {
        file.open(path("missing").c_str(), File::READ);
        FAIL() << "opened a missing file";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), ENOENT);
        EXPECT_STREQ(e.getName(), "SystemException");
    }
    EXPECT_FALSE(file.isOpen());
    EXPECT_THROW(File::size(path("missing").c_str()), SystemException);
}

TEST_F(FileTest, StaticQueries)
{
    const std::string a = path("a"), b = path("b");
    File::create(a.c_str(), 3);
    EXPECT_TRUE(File::rename(a.c_str(), b.c_str()));
    EXPECT_FALSE(File::rename(a.c_str(), b.c_str()));
    ::chmod(b.c_str(), 0444);
    EXPECT_TRUE(File::isReadOnly(b.c_str()));
    ::chmod(b.c_str(), 0644);
    EXPECT_FALSE(File::isReadOnly(b.c_str()));
    EXPECT_TRUE(File::remove(b.c_str()));
    EXPECT_FALSE(File::remove(b.c_str()));
    EXPECT_GT(File::freeSize(m_dir.c_str()), 0u);
    EXPECT_TRUE(File::isPhysicalDrive("\\\\.\\PHYSICALDRIVE0"));
    EXPECT_FALSE(File::isPhysicalDrive("/dev/sda"));
}
