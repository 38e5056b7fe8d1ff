#pragma once

// The real velmora-receiver program as a child process, its standard error
// in a file the test reads.

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::test {

class ReceiverProcess {
public:
    /// Starts VELMORA_RECEIVER with args, its standard error into logPath.
    ReceiverProcess(const std::vector<std::string>& args, std::string logPath) : m_log(std::move(logPath))
    {
        std::vector<std::string> argv = {VELMORA_RECEIVER};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (posix_spawn(&m_pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~ReceiverProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    ReceiverProcess(const ReceiverProcess&) = delete;
    ReceiverProcess& operator=(const ReceiverProcess&) = delete;

    bool isStarted() const { return m_pid > 0; }
    int pid() const { return m_pid; }

    std::string log() const
    {
        std::ifstream in(m_log);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    /// Waits until the log holds text; false when the limit passed first or
    /// the program ended.
    bool waitForLog(const std::string& text, std::chrono::milliseconds limit) const
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > until || hasEnded()) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    /// The port from "listening on port N", waiting up to 30 s for the
    /// line; 0 when it does not come.
    int port() const
    {
        waitForLog("listening on port", std::chrono::seconds(30));
        const std::string text = log();
        const std::string mark = "listening on port ";
        const size_t at = text.find(mark);
        return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + mark.size());
    }

    /// Waits for the end within limit; the exit status, or -1 (still
    /// running, then killed) or 128 + signal.
    int waitForExit(std::chrono::milliseconds limit)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (m_pid > 0) {
            int status = 0;
            const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
            if (ended == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > until) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    /// SIGTERM, then waitForExit.
    int terminate(std::chrono::milliseconds limit)
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
        }
        return waitForExit(limit);
    }

private:
    bool hasEnded() const
    {
        if (m_pid <= 0) {
            return true;
        }
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
    }

    std::string m_log;
    pid_t m_pid = -1;
};

} // namespace velmora::test
