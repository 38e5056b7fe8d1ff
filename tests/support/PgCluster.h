#pragma once

// A throw-away PostgreSQL cluster for tests and benchmarks of the store:
// its own folder under the temporary directory, a Unix socket in that
// folder only (no TCP), a port no other server uses. initdb runs once per
// user and server version into a cached template that later clusters copy,
// so a test pays for a copy and a start, not for initdb.
//
// The server refuses to run as root: as root every server program runs as
// the postgres user through runuser, and the folder belongs to postgres.
//
// The cluster is stopped and its folder removed on every exit path: by the
// destructor, and, should the process die without it (a crash, a time-out
// kill), by a watchdog process in a session of its own that waits for the
// end of a pipe only this process holds.
//
// Usage:
//     velmora::test::PgCluster cluster;
//     ASSERT_TRUE(cluster.isUp()) << cluster.why();
//     PgConnection connection;
//     connection.open(cluster.conninfo(cluster.createDatabase()), "test");

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::test {

class PgCluster {
public:
    static constexpr const char* BIN = "/usr/lib/postgresql/15/bin";

    /// Options for the server (postgres -c name=value), e.g. a benchmark's
    /// own durability; by default a test server that never syncs to disk.
    explicit PgCluster(std::vector<std::string> settings = testSettings()) : m_settings(std::move(settings))
    {
        m_ok = make() && start();
    }

    ~PgCluster()
    {
        stop();
        if (m_watchdog >= 0) {
            ::close(m_watchdog);
        }
        std::error_code ignored;
        if (!m_folder.empty()) {
            std::filesystem::remove_all(m_folder, ignored);
        }
    }

    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    /// A server that answers quickly and durably enough for a test.
    static std::vector<std::string> testSettings()
    {
        return {"fsync=off", "full_page_writes=off", "synchronous_commit=off", "shared_buffers=16MB",
                "max_connections=40"};
    }

    bool isUp() const { return m_ok && m_running; }
    const std::string& why() const { return m_why; }
    int getPort() const { return m_port; }
    const std::string& getFolder() const { return m_folder; }

    /// The connection string of database on this cluster.
    std::string conninfo(const std::string& database = "postgres") const
    {
        return "host=" + m_folder + " port=" + std::to_string(m_port) + " user=postgres dbname=" + database;
    }

    /// Makes a database of its own (velmora_1, velmora_2, ...) and answers its
    /// name; "" when that failed (why() tells).
    std::string createDatabase()
    {
        const std::string name = "velmora_" + std::to_string(++m_databases);
        if (!run({std::string(BIN) + "/createdb", "-h", m_folder, "-p", std::to_string(m_port), "-U", "postgres",
                  name},
                 false)) {
            return std::string();
        }
        return name;
    }

    /// Starts the server again after stop(); false when it does not start.
    bool start()
    {
        if (m_running) {
            return true;
        }
        std::string options = "-k " + m_folder + " -c listen_addresses='' -p " + std::to_string(m_port);
        for (const std::string& setting : m_settings) {
            options += " -c " + setting;
        }
        m_running = run({std::string(BIN) + "/pg_ctl", "-D", m_folder + "/data", "-l", m_folder + "/server.log", "-w",
                         "-t", "60", "-o", options, "start"},
                        true);
        return m_running;
    }

    /// Stops the server ("fast": running transactions are rolled back and
    /// clients disconnected) and waits until it is gone.
    bool stop()
    {
        if (!m_running) {
            return true;
        }
        m_running = false;
        return run({std::string(BIN) + "/pg_ctl", "-D", m_folder + "/data", "-w", "-t", "60", "-m", "fast", "stop"},
                   true);
    }

    /// The server's log (for a failure message).
    std::string serverLog() const
    {
        std::ifstream in(m_folder + "/server.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    static bool isRoot() { return geteuid() == 0; }

    /// argv as the postgres user when we are root and asRoot says the
    /// program refuses root (the server programs).
    std::vector<std::string> asServerUser(std::vector<std::string> argv) const
    {
        if (isRoot()) {
            argv.insert(argv.begin(), {"runuser", "-u", "postgres", "--"});
        }
        return argv;
    }

    /// Runs argv to its end, its output into the folder's tools.log (or
    /// nowhere before the folder exists); false, with why(), when it fails.
    bool run(std::vector<std::string> argv, bool serverProgram)
    {
        if (serverProgram) {
            argv = asServerUser(std::move(argv));
        }
        const std::string log = m_folder.empty() ? "/dev/null" : m_folder + "/tools.log";
        const int status = spawnAndWait(argv, log);
        if (status != 0) {
            m_why = argv[serverProgram && isRoot() ? 4 : 0] + " failed (status " + std::to_string(status) + ")";
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            m_why += ": " + text.str();
            return false;
        }
        return true;
    }

    static int spawnAndWait(const std::vector<std::string>& argv, const std::string& log)
    {
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // The server inherits nothing of ours: no test socket, and above all
        // not the watchdog's pipe, which must close when this process ends.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        pid_t pid = 0;
        const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            return 127;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static bool giveToServerUser(const std::string& path)
    {
        if (!isRoot()) {
            return true;
        }
        const passwd* user = getpwnam("postgres");
        return user != nullptr && ::chown(path.c_str(), user->pw_uid, user->pw_gid) == 0;
    }

    static int freePort()
    {
        // The socket lives in our own folder, so any number would do; one
        // no TCP listener holds keeps the number unique on the machine too.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        if (probe >= 0) {
            ::close(probe);
        }
        return port != 0 ? port : 20000 + static_cast<int>(getpid() % 20000);
    }

    /// The initdb'ed template, made once per user: built aside and renamed
    /// into place, so no process ever copies half of one.
    bool templateFolder(std::string& folder)
    {
        namespace fs = std::filesystem;
        folder = (fs::temp_directory_path() / ("velmora-pg15-template-" + std::to_string(geteuid()))).string();
        std::error_code code;
        if (fs::exists(folder + "/data/PG_VERSION", code)) {
            return true;
        }
        std::string staging = folder + "-staging-XXXXXX";
        if (mkdtemp(staging.data()) == nullptr || !giveToServerUser(staging)) {
            m_why = "cannot make " + staging;
            return false;
        }
        const bool made = run({std::string(BIN) + "/initdb", "-D", staging + "/data", "-A", "trust", "-U", "postgres",
                               "-E", "UTF8", "--locale=C", "--no-sync", "--no-instructions"},
                              true);
        if (made) {
            fs::rename(staging, folder, code);
        }
        fs::remove_all(staging, code);
        if (!fs::exists(folder + "/data/PG_VERSION", code)) {
            if (m_why.empty()) {
                m_why = "initdb made no cluster in " + folder;
            }
            return false;
        }
        return true;
    }

    bool make()
    {
        std::string source;
        if (!templateFolder(source)) {
            return false;
        }
        std::string folder = (std::filesystem::temp_directory_path() / "velmora-pg-XXXXXX").string();
        if (mkdtemp(folder.data()) == nullptr) {
            m_why = "mkdtemp failed";
            return false;
        }
        m_folder = folder;
        if (!giveToServerUser(m_folder)) {
            m_why = "cannot give " + m_folder + " to the postgres user";
            return false;
        }
        // cp -a keeps the owner and the 0700 the server insists on.
        if (!run({"cp", "-a", source + "/data", m_folder + "/data"}, false)) {
            return false;
        }
        m_port = freePort();
        return armWatchdog();
    }

    bool armWatchdog()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            m_why = "pipe failed";
            return false;
        }
        std::string stopCommand = std::string(BIN) + "/pg_ctl -D '" + m_folder + "/data' -m immediate -w stop";
        if (isRoot()) {
            stopCommand = "runuser -u postgres -- " + stopCommand;
        }
        // Reads until every write end is closed: this process's end, which
        // nothing else inherits, closes when the process ends however it ends.
        const std::string script = "read _; " + stopCommand + "; rm -rf '" + m_folder + "'";
        const char* args[] = {"sh", "-c", script.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        // A session of its own: a kill of this process's group spares it.
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        pid_t pid = 0;
        const int failed =
            posix_spawnp(&pid, "sh", &actions, &attributes, const_cast<char* const*>(args), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(ends[0]);
        if (failed != 0) {
            ::close(ends[1]);
            m_why = "cannot start the cluster's watchdog";
            return false;
        }
        m_watchdog = ends[1];
        return true;
    }

    std::vector<std::string> m_settings;
    std::string m_folder;
    std::string m_why;
    int m_port = 0;
    int m_watchdog = -1;
    int m_databases = 0;
    bool m_ok = false;
    bool m_running = false;
};

} // namespace velmora::test
