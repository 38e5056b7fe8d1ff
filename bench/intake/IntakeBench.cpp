// Datagrams per second through CallbackServerImpl (receive, parse, deliver to
// a delegate that checks each CallbackInfo) against a plain select() +
// recvfrom() receiver, in the same run, with the same 150-byte GPS messages
// and sender. Each batch is queued in the receive buffer first and then
// drained, so that the receiver alone is timed. Ends with one summary line.

#include "BenchMessages.h"

#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/SocketAddress.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackServerDelegate.h"
#include "intake/CallbackServerImpl.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t MESSAGE_SIZE = 150;
constexpr int BUFFER_REQUEST = 256 * 1024 * 1024;
const char* const MARK = "MARK";
const char* const END = "END";

/// The batch handshake shared by both receivers: a MARK datagram parks the
/// receiver until the batch is queued; END closes the batch.
class Gate {
public:
    void parked()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_parked = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
        m_open = false;
    }
    void waitParked()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_parked; });
        m_parked = false;
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_start = Clock::now();
        m_open = true;
        m_changed.notify_all();
    }
    void ended()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_elapsed += Clock::now() - m_start;
        m_ended = true;
        m_changed.notify_all();
    }
    bool waitEnded(std::chrono::seconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool ok = m_changed.wait_for(lock, limit, [&] { return m_ended; });
        m_ended = false;
        return ok;
    }
    double seconds()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::chrono::duration<double>(m_elapsed).count();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_parked = false;
    bool m_open = false;
    bool m_ended = false;
    Clock::time_point m_start;
    Clock::duration m_elapsed{};
};

class CountingDelegate : public CallbackServerDelegate {
public:
    CountingDelegate(Gate& gate, const std::vector<std::string>& names) : m_gate(gate), m_names(names) {}

    void onCallback(const CallbackInfo& info) override
    {
        const std::string& name = info.getVehicleName();
        if (name == MARK) {
            m_gate.parked();
            return;
        }
        if (name == END) {
            m_gate.ended();
            return;
        }
        const bool good = info.getEventType() == CallbackInfo::EVENT_GPS && name == m_names[m_next % m_names.size()] &&
                          info.getGpsData().compare(0, 6, "$GPRMC") == 0 && info.getPort() != 0;
        ++m_next;
        m_received.fetch_add(1);
        if (!good) {
            m_bad.fetch_add(1);
        }
    }
    void onError(const char* message) override
    {
        std::fprintf(stderr, "bench_intake: server error: %s\n", message);
        m_errors.fetch_add(1);
    }

    std::atomic<long> m_received{0};
    std::atomic<long> m_bad{0};
    std::atomic<long> m_errors{0};

private:
    Gate& m_gate;
    const std::vector<std::string>& m_names;
    size_t m_next = 0;
};

/// The plain receiver: one select() and one recvfrom() per datagram.
class BaselineReceiver {
public:
    BaselineReceiver(Gate& gate) : m_gate(gate)
    {
        m_socket.create();
        m_socket.bind(0);
        m_socket.setReceiveBufferSize(BUFFER_REQUEST);
        m_thread = std::thread([this] { run(); });
    }
    ~BaselineReceiver()
    {
        m_stop.store(true);
        m_thread.join();
        m_socket.close();
    }
    int port() const { return m_socket.getLocalAddress().getPort(); }
    int bufferSize() const { return m_socket.getReceiveBufferSize(); }

    std::atomic<long> m_received{0};

private:
    void run()
    {
        const int fd = m_socket.getHandle();
        char buffer[4096];
        while (!m_stop.load()) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            timeval limit{0, 100000};
            if (::select(fd + 1, &set, nullptr, nullptr, &limit) <= 0) {
                continue;
            }
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0) {
                continue;
            }
            if (n == 4 && std::memcmp(buffer, MARK, 4) == 0) {
                m_gate.parked();
            } else if (n == 3 && std::memcmp(buffer, END, 3) == 0) {
                m_gate.ended();
            } else {
                m_received.fetch_add(1);
            }
        }
    }

    Gate& m_gate;
    DatagramSocket m_socket;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// Sends one batch through the gate and waits until the receiver drained it.
void driveBatch(Gate& gate, DatagramSocket& sender, const SocketAddress& to, const std::vector<std::string>& messages,
                long count)
{
    sender.sendTo(MARK, 4, to);
    gate.waitParked();
    for (long i = 0; i < count; ++i) {
        const std::string& m = messages[static_cast<size_t>(i) % messages.size()];
        sender.sendTo(m.data(), m.size(), to);
    }
    sender.sendTo(END, 3, to);
    gate.open();
    if (!gate.waitEnded(std::chrono::seconds(30))) {
        std::fprintf(stderr, "bench_intake: a batch did not end (END lost?)\n");
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::vector<std::string> messages = gpsMessagesOfSize(1000, MESSAGE_SIZE);
    std::vector<std::string> names;
    for (const std::string& m : messages) {
        names.push_back(m.substr(0, m.find(',')));
    }

    // Both receivers run at once and take batches in turn, so that both see
    // the same load of a shared machine.
    Gate baselineGate;
    BaselineReceiver receiver(baselineGate);
    Gate serverGate;
    CountingDelegate delegate(serverGate, names);
    CallbackServerImpl server(&delegate);
    server.setReceiveBufferSize(BUFFER_REQUEST);
    server.start(0);
    if (!server.isRunning()) {
        std::fprintf(stderr, "bench_intake: the server did not start\n");
        return 1;
    }
    // The kernel charges about 1 KiB per queued small datagram on loopback.
    const long batch = std::max(1000L, std::min(5000L, static_cast<long>(receiver.bufferSize()) / 2048));
    if (batch % static_cast<long>(messages.size()) != 0) {
        std::fprintf(stderr, "bench_intake: batch %ld is no multiple of the message set\n", batch);
        return 1;
    }
    DatagramSocket sender;
    sender.create();
    const SocketAddress baselineAddress("127.0.0.1", receiver.port());
    const SocketAddress serverAddress("127.0.0.1", server.getBoundPort());
    for (long sent = 0; sent < total; sent += batch) {
        const long count = std::min(batch, total - sent);
        driveBatch(baselineGate, sender, baselineAddress, messages, count);
        driveBatch(serverGate, sender, serverAddress, messages, count);
    }
    sender.close();
    server.stop();
    const double baselineSeconds = baselineGate.seconds();
    const double serverSeconds = serverGate.seconds();
    const long baselineReceived = receiver.m_received.load();

    const double serverDps = static_cast<double>(delegate.m_received.load()) / serverSeconds;
    const double baselineDps = static_cast<double>(baselineReceived) / baselineSeconds;
    const long lost = (total - delegate.m_received.load()) + (total - baselineReceived);
    std::printf("batch=%ld server_received=%ld baseline_received=%ld bad=%ld errors=%ld\n", batch,
                delegate.m_received.load(), baselineReceived, delegate.m_bad.load(), delegate.m_errors.load());
    std::printf("intake: server_dps=%.0f baseline_dps=%.0f ratio=%.3f lost=%ld\n", serverDps, baselineDps,
                serverDps / baselineDps, lost + delegate.m_bad.load());
    return 0;
}
