#pragma once

// The real velmora-receiver program as a child process, its standard error
// in a file the test reads. The including target defines VELMORA_RECEIVER,
// the program's path ($<TARGET_FILE:velmora-receiver>).

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

class ReceiverProcess {
public:
    /// Starts VELMORA_RECEIVER with args, its standard error into logPath.
    /// The program is killed should this process end without stopping it
    /// (a crash, a time-out kill), so none outlives a test.
    ReceiverProcess(const std::vector<std::string>& args, std::string logPath) : m_log(std::move(logPath))
    {
        std::vector<std::string> argv = {VELMORA_RECEIVER};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);
        const pid_t parent = getpid();
        const int log = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(127);
            }
            ::dup2(nothing, 0);
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::close_range(3, ~0U, 0);
            ::execv(pointers[0], pointers.data());
            _exit(127);
        }
        ::close(log);
        ::close(nothing);
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
