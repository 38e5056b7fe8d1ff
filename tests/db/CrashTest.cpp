#include "tests/support/SqliteRows.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

extern char** environ;

using namespace velmora;

// A process writing under load is killed mid-run. The file must be sound and
// hold every row of every batch committed before the kill: the rows seen
// committed are all there, numbered without a gap.
TEST(CrashTest, KilledWriterLeavesEveryCommittedBatch)
{
    test::TempDir dir;
    const std::string path = dir.file("app.db");
    const std::string child = VELMORA_DB_CRASH_CHILD;
    char* const argv[] = {const_cast<char*>(child.c_str()), const_cast<char*>(path.c_str()),
                          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, child.c_str(), nullptr, nullptr, argv, environ), 0);

    // Wait until several batches are committed, then kill at once.
    int seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (seen < 4000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        try {
            seen = std::stoi(test::queryValue(path, "SELECT COUNT(*) FROM event_info;"));
        } catch (const std::exception&) {
            // Not created yet, or locked beyond the time-out: look again.
        }
    }
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    ASSERT_GE(seen, 4000) << "the child did not write in time";

    EXPECT_EQ(test::queryValue(path, "PRAGMA integrity_check;"), "ok");
    const test::Rows rows = test::queryRows(path, "SELECT name FROM event_info ORDER BY id;");
    ASSERT_GE(rows.size(), static_cast<size_t>(seen));
    for (size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i][0], std::to_string(i)) << "row " << i;
}
