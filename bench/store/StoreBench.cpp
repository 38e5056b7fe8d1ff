// The store's benchmark: the real velmora-receiver takes the fixes of a
// fleet (10,000 vehicles by default) from several local senders, as fast as
// it is asked, for --seconds, into a local cluster; the baseline, in the
// same run, is the same rows written by one client with COPY into the same
// schema. Then the outage: fixes at --outage-rate while the cluster is
// stopped for --outage-seconds and started again.
//
// Latency is measured from send to commit, outside the receiver: one fix in
// SAMPLE carries its send time, and a listener reads the sampled rows after
// each commit's notice.
//
// store: vehicles= sent= stored= lost= fixes_per_s= copy_baseline_per_s= ratio= p99_commit_ms=
//        outage_sent= outage_stored= spool_peak_mb= rss_mb=

#include "support/ReceiverProcess.h"
#include "support/PgCluster.h"

#include "foundation/UniqueID.h"
#include "store/ChangeFeed.h"
#include "store/CopyBinary.h"
#include "store/CopyText.h"
#include "store/FeedReader.h"
#include "store/PgConnection.h"
#include "store/PgCopyIn.h"
#include "store/PgTransaction.h"
#include "store/SharedSettings.h"
#include "store/StoreException.h"
#include "store/StoreSchema.h"
#include "store/StoreText.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int SAMPLE = 20;
/// Every sentence begins so; the phase letter follows it.
const char* const PREFIX = "$GPRMC,134530,A,4722.614,N,00832.502,E,1,0,170512,,,";

struct Options {
    int seconds = 60;
    int vehicles = 10000;
    int senders = 4;
    int rate = 85000;
    int outageSeconds = 10;
    int outageRate = 10000;
    bool outage = true;
};

int64_t microsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

/// One fix datagram. phase tells the runs apart, sender and sequence make
/// it unique; a sampled one carries its send time (microseconds since the
/// bench began).
std::string fix(const std::string& id, int vehicle, char phase, int sender, int64_t sequence, int64_t sentAt)
{
    char sentence[128];
    std::snprintf(sentence, sizeof sentence, "%s%c%d.%lld.%lld", PREFIX, phase, sender,
                  static_cast<long long>(sequence), static_cast<long long>(sentAt));
    return "Car " + std::to_string(vehicle) + ",100,0, ,GPS,0,131859729,863518, ,0, ," + id + "," + sentence + "*00";
}

class Senders {
public:
    Senders(int port, const std::vector<std::string>& ids, int senders) : m_ids(ids), m_senders(senders)
    {
        m_to.sin_family = AF_INET;
        m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_to.sin_port = htons(static_cast<uint16_t>(port));
    }

    /// Sends rate fixes a second in all for seconds; answers how many went.
    int64_t run(char phase, int rate, double seconds, Clock::time_point benchStart)
    {
        std::atomic<int64_t> sent{0};
        std::vector<std::thread> threads;
        const auto start = Clock::now();
        const int64_t each = static_cast<int64_t>(rate * seconds) / m_senders;
        for (int s = 0; s < m_senders; ++s) {
            threads.emplace_back([&, s] {
                const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                int buffer = 4 * 1024 * 1024;
                ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
                const double interval = static_cast<double>(m_senders) / rate; // seconds between two sends
                // Sent GROUP at a time (sendmmsg), as a busy network card
                // would hand them over; paced per group.
                constexpr int GROUP = 16;
                std::vector<std::string> texts(GROUP);
                std::vector<iovec> parts(GROUP);
                std::vector<mmsghdr> headers(GROUP);
                int vehicle = s;
                for (int64_t i = 0; i < each; i += GROUP) {
                    const auto due =
                        start + std::chrono::microseconds(static_cast<int64_t>(static_cast<double>(i) * interval * 1e6));
                    if (Clock::now() < due) {
                        std::this_thread::sleep_until(due);
                    }
                    const int count = static_cast<int>(std::min<int64_t>(GROUP, each - i));
                    for (int k = 0; k < count; ++k) {
                        const int64_t sequence = m_next.fetch_add(1);
                        const bool sampled = sequence % SAMPLE == 0;
                        texts[static_cast<size_t>(k)] =
                            fix(m_ids[static_cast<size_t>(vehicle)], vehicle,
                                sampled ? phase : static_cast<char>(phase + 32), s, sequence,
                                sampled ? microsSince(benchStart) : 0);
                        parts[static_cast<size_t>(k)] = {texts[static_cast<size_t>(k)].data(),
                                                         texts[static_cast<size_t>(k)].size()};
                        headers[static_cast<size_t>(k)] = {};
                        headers[static_cast<size_t>(k)].msg_hdr.msg_name = &m_to;
                        headers[static_cast<size_t>(k)].msg_hdr.msg_namelen = sizeof m_to;
                        headers[static_cast<size_t>(k)].msg_hdr.msg_iov = &parts[static_cast<size_t>(k)];
                        headers[static_cast<size_t>(k)].msg_hdr.msg_iovlen = 1;
                        vehicle += m_senders;
                        if (vehicle >= static_cast<int>(m_ids.size())) {
                            vehicle = s;
                        }
                    }
                    // A full send queue on loopback waits; it never drops.
                    int done = 0;
                    while (done < count) {
                        const int went = ::sendmmsg(fd, headers.data() + done, static_cast<unsigned>(count - done), 0);
                        if (went <= 0) {
                            break;
                        }
                        done += went;
                    }
                    sent += done;
                }
                ::close(fd);
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        return sent.load();
    }

private:
    const std::vector<std::string>& m_ids;
    const int m_senders;
    sockaddr_in m_to{};
    std::atomic<int64_t> m_next{0};
};

/// Follows the store's feed as a desk would, and counts the fixes of each
/// phase it sees committed; for every sampled fix of the main phase it
/// notes how long after its sending that was. It reads each committed row
/// once, however the store comes and goes, so its counts are the stored rows.
class FeedCounter {
public:
    FeedCounter(std::string conninfo, Clock::time_point benchStart)
        : m_conninfo(std::move(conninfo)), m_start(benchStart)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~FeedCounter() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    /// Rows of a phase (its sampled and its other fixes) seen so far.
    int64_t seen(char phase)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts[static_cast<unsigned char>(phase)] + m_counts[static_cast<unsigned char>(phase + 32)];
    }
    int64_t p99Ms()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_latencies.empty()) {
            return -1;
        }
        std::vector<int64_t> sorted = m_latencies;
        std::sort(sorted.begin(), sorted.end());
        return sorted[(sorted.size() * 99 + 99) / 100 - 1] / 1000;
    }
    size_t samples()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_latencies.size();
    }

private:
    void run()
    {
        PgConnection connection;
        int64_t position = 0;
        const int64_t phaseAt = static_cast<int64_t>(std::strlen(PREFIX)) + 1;
        while (!m_stop) {
            try {
                if (!connection.isOpen()) {
                    connection.open(m_conninfo, "bench feed", 2000);
                    connection.listen(ChangeFeed::CHANNEL);
                    if (position == 0) {
                        position = FeedReader::currentPosition(connection);
                    }
                }
                if (connection.waitForInput(100)) {
                    connection.takeNotices();
                }
                PgTransaction read(connection, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
                const int64_t below =
                    connection.execute("SELECT pg_snapshot_xmin(pg_current_snapshot())::text::bigint").getInt64(0, 0);
                if (below <= position) {
                    read.commit();
                    continue;
                }
                const PgResult counts = connection.query(
                    "SELECT substr(gps_data, $3, 1), COUNT(*) FROM gps_data WHERE tx >= $1 AND tx < $2 GROUP BY 1",
                    {position, below, phaseAt});
                const PgResult sampled = connection.query(
                    "SELECT gps_data FROM gps_data WHERE tx >= $1 AND tx < $2 AND substr(gps_data, $3, 1) = 'M'",
                    {position, below, phaseAt});
                read.commit();
                const int64_t now = microsSince(m_start);
                position = below;
                std::lock_guard<std::mutex> lock(m_mutex);
                for (int row = 0; row < counts.getRowCount(); ++row) {
                    const std::string phase = counts.getString(row, 0);
                    if (!phase.empty()) {
                        m_counts[static_cast<unsigned char>(phase[0])] += counts.getInt64(row, 1);
                    }
                }
                for (int row = 0; row < sampled.getRowCount(); ++row) {
                    const std::string text = sampled.getString(row, 0);
                    const size_t last = text.rfind('.');
                    if (last != std::string::npos) {
                        m_latencies.push_back(now - std::atoll(text.c_str() + last + 1));
                    }
                }
            } catch (const StoreException&) {
                connection.close();
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        }
    }

    std::string m_conninfo;
    Clock::time_point m_start;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    int64_t m_counts[256] = {};
    std::vector<int64_t> m_latencies;
    std::thread m_thread;
};

int64_t count(PgConnection& store, const std::string& conninfo, const std::string& sql)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        try {
            if (!store.isOpen()) {
                store.open(conninfo, "bench", 2000);
            }
            return store.execute(sql).getInt64(0, 0);
        } catch (const StoreException&) {
            store.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    return -1;
}

/// Waits until the counter has seen target rows of phase, or none more for
/// quiet; answers the count and when it last grew.
int64_t waitForRows(FeedCounter& counter, char phase, int64_t target, std::chrono::seconds quiet,
                    Clock::time_point& lastGrowth)
{
    int64_t seen = -1;
    lastGrowth = Clock::now();
    for (;;) {
        const int64_t now = counter.seen(phase);
        if (now != seen) {
            seen = now;
            lastGrowth = Clock::now();
        }
        if (seen >= target || Clock::now() - lastGrowth > quiet) {
            return seen;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int64_t peakRssMb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atoll(line.c_str() + 6) / 1024;
        }
    }
    return -1;
}

double copyBaseline(const std::string& conninfo, const std::vector<UniqueID>& ids, int64_t rows)
{
    PgConnection store;
    store.open(conninfo, "bench baseline");
    StoreSchema::migrate(store, "bench");
    const int64_t day = StoreText::dayOfMicros(StoreText::nowMicros());
    StoreSchema::ensureFixDays(store, {day, day + 1});
    // The rows the receiver stored, made ahead so only the writing is timed.
    constexpr int64_t CHUNK = 50000;
    // The rows carry a transaction number as the receiver's do.
    const int64_t tx = store.execute("SELECT pg_current_xact_id()::text::bigint").getInt64(0, 0);
    // In the receiver's format, binary.
    std::vector<CopyBinary> chunks;
    for (int64_t done = 0; done < rows; done += CHUNK) {
        CopyBinary data;
        const int64_t now = StoreText::nowMicros();
        for (int64_t i = done; i < std::min(rows, done + CHUNK); ++i) {
            char sentence[128];
            std::snprintf(sentence, sizeof sentence, "%sm0.%lld.0", PREFIX, static_cast<long long>(i));
            data.row(5);
            data.text(sentence);
            data.timeSeconds(1337262330);
            data.uuid(ids[static_cast<size_t>(i) % ids.size()]);
            data.timeMicros(now);
            data.bigint(tx);
        }
        data.finish();
        chunks.push_back(std::move(data));
    }
    const auto start = Clock::now();
    for (const CopyBinary& chunk : chunks) {
        PgTransaction transaction(store);
        PgCopyIn copy(store,
                      "COPY gps_data (gps_data, update_time, vehicle_id, received, tx) FROM STDIN (FORMAT binary)");
        copy.write(chunk);
        copy.end();
        transaction.commit();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(rows) / seconds;
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&]() { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (arg == "--seconds") {
            options.seconds = next();
        } else if (arg == "--vehicles") {
            options.vehicles = next();
        } else if (arg == "--senders") {
            options.senders = next();
        } else if (arg == "--rate") {
            options.rate = next();
        } else if (arg == "--outage-seconds") {
            options.outageSeconds = next();
        } else if (arg == "--outage-rate") {
            options.outageRate = next();
        } else if (arg == "--no-outage") {
            options.outage = false;
        } else {
            std::fprintf(stderr,
                         "usage: bench_store [--seconds N] [--vehicles N] [--senders N] [--rate FIXES_PER_S] "
                         "[--outage-seconds N] [--outage-rate FIXES_PER_S] [--no-outage]\n");
            std::exit(2);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    const Clock::time_point benchStart = Clock::now();
    // A server as one would run it: durable commits, room for the WAL.
    test::PgCluster cluster({"shared_buffers=256MB", "max_wal_size=4GB", "checkpoint_timeout=30min",
                             "max_connections=40"});
    if (!cluster.isUp()) {
        std::fprintf(stderr, "bench_store: no cluster: %s\n", cluster.why().c_str());
        return 1;
    }
    const std::string database = cluster.createDatabase();
    const std::string baselineDatabase = cluster.createDatabase();
    const std::string conninfo = cluster.conninfo(database);

    // A known fleet, and room for it in the admission rules.
    std::vector<UniqueID> vehicles(static_cast<size_t>(options.vehicles));
    std::vector<std::string> ids;
    for (const UniqueID& id : vehicles) {
        ids.push_back(id.toText());
    }
    {
        PgConnection setup;
        setup.open(conninfo, "bench");
        StoreSchema::migrate(setup, "bench");
        SharedSettings::Values values = SharedSettings::load(setup);
        values.admission.newPerMinute = SharedSettings::PER_MINUTE_MAX;
        values.admission.fleetLimit = SharedSettings::FLEET_LIMIT_MAX;
        SharedSettings::store(setup, values, "bench");
        CopyText fleet;
        for (int i = 0; i < options.vehicles; ++i) {
            fleet.text(ids[static_cast<size_t>(i)]);
            fleet.text("Car " + std::to_string(i));
            fleet.endRow();
        }
        PgTransaction transaction(setup);
        PgCopyIn copy(setup, "COPY vehicle_info (id, name) FROM STDIN");
        copy.write(fleet);
        copy.end();
        transaction.commit();
    }

    std::string folder = (std::filesystem::temp_directory_path() / "velmora-bench-store-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        return 1;
    }
    const std::string spool = folder + "/spool.db";
    test::ReceiverProcess receiver({"--store", conninfo, "--port", "0", "--spool", spool}, folder + "/receiver.log");
    if (!receiver.waitForLog("writing to the store", std::chrono::seconds(60))) {
        std::fprintf(stderr, "bench_store: the receiver did not start:\n%s", receiver.log().c_str());
        return 1;
    }
    Senders senders(receiver.port(), ids, options.senders);
    PgConnection store;

    // The main run.
    FeedCounter counter(conninfo, benchStart);
    const auto sendStart = Clock::now();
    const int64_t sent = senders.run('M', options.rate, options.seconds, benchStart);
    const double sendSeconds = std::chrono::duration<double>(Clock::now() - sendStart).count();
    Clock::time_point lastGrowth;
    const int64_t stored = waitForRows(counter, 'M', sent, std::chrono::seconds(10), lastGrowth);
    const double storeSeconds = std::chrono::duration<double>(lastGrowth - sendStart).count();
    const int64_t p99 = counter.p99Ms();
    const double fixesPerSecond = static_cast<double>(stored) / std::max(storeSeconds, sendSeconds);

    // The baseline: the same number of rows, one client, COPY.
    const double baseline = copyBaseline(cluster.conninfo(baselineDatabase), vehicles, std::max<int64_t>(stored, 1));

    // The outage.
    int64_t outageSent = 0;
    int64_t outageStored = 0;
    int64_t outageDistinct = 0;
    std::atomic<int64_t> spoolPeak{0};
    if (options.outage) {
        std::atomic<bool> watching{true};
        std::thread watcher([&] {
            while (watching) {
                int64_t bytes = 0;
                std::error_code code;
                for (const char* suffix : {"", "-wal"}) {
                    const auto size = std::filesystem::file_size(spool + suffix, code);
                    bytes += code ? 0 : static_cast<int64_t>(size);
                }
                spoolPeak = std::max(spoolPeak.load(), bytes);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        const double before = 5;
        const double after = 10;
        std::thread outage([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int64_t>(before * 1000)));
            store.close();
            cluster.stop();
            std::this_thread::sleep_for(std::chrono::seconds(options.outageSeconds));
            cluster.start();
        });
        outageSent = senders.run('O', options.outageRate, before + options.outageSeconds + after, benchStart);
        outage.join();
        outageStored = waitForRows(counter, 'O', outageSent, std::chrono::seconds(60), lastGrowth);
        watching = false;
        watcher.join();
    }
    counter.stop();
    // Nothing twice: every stored sentence is one of its own.
    const int64_t phaseAt = static_cast<int64_t>(std::strlen(PREFIX)) + 1;
    const int64_t distinctMain = count(store, conninfo,
                                       "SELECT COUNT(DISTINCT gps_data) FROM gps_data WHERE substr(gps_data, " +
                                           std::to_string(phaseAt) + ", 1) IN ('M', 'm')");
    outageDistinct = count(store, conninfo,
                           "SELECT COUNT(DISTINCT gps_data) FROM gps_data WHERE substr(gps_data, " +
                               std::to_string(phaseAt) + ", 1) IN ('O', 'o')");
    const int64_t rss = peakRssMb(receiver.pid());
    const int status = receiver.terminate(std::chrono::seconds(5));
    const std::string log = receiver.log();
    std::fprintf(stderr, "%s", log.c_str());
    std::fprintf(stderr,
                 "store-detail: send_seconds=%.1f store_seconds=%.1f stored_twice=%lld outage_stored_twice=%lld "
                 "samples=%zu receiver_exit=%d\n",
                 sendSeconds, storeSeconds, static_cast<long long>(stored - distinctMain),
                 static_cast<long long>(outageStored - outageDistinct), counter.samples(), status);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    std::printf("store: vehicles=%d sent=%lld stored=%lld lost=%lld fixes_per_s=%.0f copy_baseline_per_s=%.0f "
                "ratio=%.2f p99_commit_ms=%lld outage_sent=%lld outage_stored=%lld spool_peak_mb=%.1f rss_mb=%lld\n",
                options.vehicles, static_cast<long long>(sent), static_cast<long long>(stored),
                static_cast<long long>(sent - stored), fixesPerSecond, baseline, fixesPerSecond / baseline,
                static_cast<long long>(p99), static_cast<long long>(outageSent),
                static_cast<long long>(outageStored), static_cast<double>(spoolPeak.load()) / (1024.0 * 1024.0),
                static_cast<long long>(rss));
    return 0;
}
