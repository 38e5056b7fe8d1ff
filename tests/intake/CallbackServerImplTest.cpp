#include "tests/support/ReturnsWithin.h"
#include "RecordingDelegate.h"

#include "foundation/SystemException.h"
#include "foundation/SystemText.h"
#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/SocketAddress.h"
#include "intake/CallbackServerImpl.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

/// A sending socket on 127.0.0.1 with a port of its own.
class Sender {
public:
    Sender()
    {
        m_socket.create();
        m_socket.bind(0);
    }
    ~Sender() { m_socket.close(); }

    void send(int port, const std::string& text)
    {
        SocketAddress to("127.0.0.1", port);
        EXPECT_EQ(m_socket.sendTo(text.data(), text.size(), to), static_cast<int>(text.size()));
    }

    int port() const { return m_socket.getLocalAddress().getPort(); }

private:
    DatagramSocket m_socket;
};

std::string messageOfSize(size_t size, const std::string& name)
{
    std::string text = name + ",1,0, ,T,0,0,0,";
    text += std::string(size - text.size(), 'x');
    return text;
}

std::string errnoText(int code)
{
    char text[256];
    SystemText::errnoText(code, text, sizeof text);
    return text;
}

using velmora::testing::returnsWithin;

/// The UDP handle of this process bound to port, -1 when there is none.
int datagramHandleBoundTo(int port)
{
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 && type == SOCK_DGRAM) {
            return fd;
        }
    }
    return -1;
}

/// Whether a socket without address reuse can bind port right now.
bool portIsFree(int port)
{
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool bound = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return bound;
}

/// Records like its base and runs an action on the server thread with each
/// message, before recording it. The action is set before the server starts.
class ActingDelegate : public RecordingDelegate {
public:
    std::function<void()> action;

    void onCallback(const CallbackInfo& info) override
    {
        if (action) {
            action();
        }
        RecordingDelegate::onCallback(info);
    }
};

int refuseThread(void* (*)(void*), void*) { return EAGAIN; }

std::atomic<int> g_signalsSeen{0};

void countSignal(int) { g_signalsSeen.fetch_add(1); }

struct RunningServer {
    RecordingDelegate delegate;
    CallbackServerImpl server{&delegate};

    RunningServer()
    {
        server.start(0);
        EXPECT_TRUE(server.isRunning());
        EXPECT_NE(server.getBoundPort(), 0);
    }
    ~RunningServer() { server.stop(); }
};

} // namespace

TEST(CallbackServerImpl, DatagramSizesAtTheBufferLimit)
{
    RunningServer s;
    Sender sender;
    const int port = s.server.getBoundPort();
    sender.send(port, messageOfSize(4094, "full"));
    sender.send(port, messageOfSize(4095, "dropped"));
    sender.send(port, messageOfSize(4096, "dropped"));
    sender.send(port, messageOfSize(5000, "oversized"));
    sender.send(port, "after,2");
    ASSERT_TRUE(s.delegate.waitForTotal(3));
    std::this_thread::sleep_for(50ms);

    const auto infos = s.delegate.infos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].getVehicleName(), "full");
    EXPECT_EQ(infos[0].getAuxText1().size(), 4094u - std::string("full,1,0, ,T,0,0,0,").size());
    EXPECT_EQ(infos[1].getVehicleName(), "after");
    EXPECT_EQ(infos[1].getEventType(), 2);
    const auto errors = s.delegate.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], errnoText(EMSGSIZE));
}

TEST(CallbackServerImpl, TwoSendersKeepTheirOwnAddressAndPort)
{
    RunningServer s;
    Sender first;
    Sender second;
    first.send(s.server.getBoundPort(), "first,1");
    ASSERT_TRUE(s.delegate.waitForTotal(1));
    second.send(s.server.getBoundPort(), "second,1");
    ASSERT_TRUE(s.delegate.waitForTotal(2));
    const auto infos = s.delegate.infos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].getVehicleName(), "first");
    EXPECT_EQ(infos[0].getAddress(), "127.0.0.1");
    EXPECT_EQ(infos[0].getPort(), first.port());
    EXPECT_EQ(infos[1].getVehicleName(), "second");
    EXPECT_EQ(infos[1].getAddress(), "127.0.0.1");
    EXPECT_EQ(infos[1].getPort(), second.port());
    EXPECT_NE(first.port(), second.port());
}

TEST(CallbackServerImpl, StopReturnsSoonAfterTheWakeUp)
{
    RecordingDelegate delegate;
    CallbackServerImpl server(&delegate);
    server.start(0);
    ASSERT_TRUE(server.isRunning());
    std::this_thread::sleep_for(100ms); // let the thread enter its wait
    const auto begin = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.getPort(), 0);
    EXPECT_TRUE(delegate.errors().empty());
}

TEST(CallbackServerImpl, RestartReceivesOnTheNewPortOnly)
{
    RecordingDelegate delegate;
    CallbackServerImpl server(&delegate);
    Sender sender;
    server.start(0);
    const int p = server.getBoundPort();
    sender.send(p, "on-p,1");
    ASSERT_TRUE(delegate.waitForTotal(1));
    server.stop();

    server.start(0);
    // The OS may hand out the same ephemeral port again; ask until it differs.
    for (int attempt = 0; attempt < 10 && server.getBoundPort() == p; ++attempt) {
        server.stop();
        server.start(0);
    }
    const int q = server.getBoundPort();
    ASSERT_NE(q, 0);
    ASSERT_NE(q, p);
    sender.send(p, "late-on-p,1");
    sender.send(q, "on-q,1");
    ASSERT_TRUE(delegate.waitForTotal(2));
    std::this_thread::sleep_for(50ms);
    server.stop();
    const auto infos = delegate.infos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].getVehicleName(), "on-p");
    EXPECT_EQ(infos[1].getVehicleName(), "on-q");
    EXPECT_TRUE(delegate.errors().empty());
}

TEST(CallbackServerImpl, PortHeldExclusivelyIsReportedAndNoThreadRuns)
{
    // A socket bound without address reuse holds the port against ours.
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);

    RecordingDelegate delegate;
    CallbackServerImpl server(&delegate);
    server.start(port);
    EXPECT_FALSE(server.isRunning());
    const auto errors = delegate.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], errnoText(EADDRINUSE));
    const auto begin = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 100ms);
    ::close(holder);

    // The same object starts normally once the port is free.
    server.start(port);
    EXPECT_TRUE(server.isRunning());
    Sender sender;
    sender.send(port, "free,1");
    EXPECT_TRUE(delegate.waitForTotal(2));
    server.stop();
    EXPECT_EQ(delegate.infos().size(), 1u);
}

// What the intake queue holds is a copy, independent of the server's own
// message object, which the next datagram overwrites.
TEST(CallbackInfo, CopyToCarriesEveryFieldIntoAnIndependentCopy)
{
    CallbackInfo info("192.168.1.9", 5555);
    info.setVehicleName("Bus 3");
    info.optionalInfo()["Driver"] = "Ann";
    CallbackInfo copy;
    info.copyTo(copy);
    info.setVehicleName("Bus 4");
    info.optionalInfo()["Driver"] = "Bob";
    EXPECT_EQ(copy.getVehicleName(), "Bus 3");
    EXPECT_EQ(copy.getAddress(), "192.168.1.9");
    EXPECT_EQ(copy.getPort(), 5555);
    EXPECT_EQ(copy.getOptionalInfo().at("Driver"), "Ann");
}

TEST(CallbackServerImpl, DestroyingARunningServerStopsIt)
{
    RecordingDelegate delegate;
    int port = 0;
    {
        CallbackServerImpl server(&delegate);
        server.start(0);
        port = server.getBoundPort();
        ASSERT_TRUE(server.isRunning());
    }
    // The port is free again: a socket without address reuse can bind it.
    DatagramSocket probe;
    probe.setHandle(::socket(AF_INET, SOCK_DGRAM, 0), true);
    EXPECT_NO_THROW(probe.bind(port));
    probe.close();
}

TEST(CallbackServerImpl, ThreadRefusedAtStartLeavesStopFreeAndTheServerUsable)
{
    RecordingDelegate delegate;
    // Left alive on failure: a stop() that never returns still uses it.
    auto* server = new CallbackServerImpl(&delegate);
    Thread::setLauncher(&refuseThread);
    try {
        server->start(0);
        ADD_FAILURE() << "start succeeded although the OS refused the thread";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.getErrorCode(), EAGAIN);
    }
    Thread::setLauncher(nullptr);
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(server->getBoundPort(), 0);
    ASSERT_TRUE(returnsWithin(std::chrono::seconds(2), [server] { server->stop(); }))
        << "stop() waits for a server thread that never started";

    server->start(0);
    ASSERT_TRUE(server->isRunning());
    Sender sender;
    sender.send(server->getBoundPort(), "after,1");
    EXPECT_TRUE(delegate.waitForTotal(1));
    delete server;
    const auto infos = delegate.infos();
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].getVehicleName(), "after");
}

TEST(CallbackServerImpl, SelectorFailureIsReportedAndTheOwnerMayDestroyOrRestartAtOnce)
{
    // The delegate closes the server's handle under it, so the next select
    // fails with EBADF and the thread ends on its own. The owner acts the
    // moment it sees the server no longer running.
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const bool restart = round % 2 == 1;
        ActingDelegate delegate;
        std::atomic<int> handleToClose{-1};
        delegate.action = [&handleToClose] {
            const int handle = handleToClose.exchange(-1);
            if (handle >= 0) {
                ::close(handle);
            }
        };
        auto* server = new CallbackServerImpl(&delegate);
        server->start(0);
        ASSERT_TRUE(server->isRunning());
        handleToClose.store(datagramHandleBoundTo(server->getBoundPort()));
        ASSERT_GE(handleToClose.load(), 0);
        Sender sender;
        sender.send(server->getBoundPort(), "last,1");
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (server->isRunning() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        ASSERT_FALSE(server->isRunning()) << "the thread did not end on the selector failure";
        // Nothing listens: a stop must not wait for a marker sent to it.
        EXPECT_EQ(server->getBoundPort(), 0);
        if (restart) {
            server->start(0);
            ASSERT_TRUE(server->isRunning());
            sender.send(server->getBoundPort(), "again,1");
            EXPECT_TRUE(delegate.waitForTotal(4)); // one message and two errors before
            server->stop();
        }
        delete server;
        const auto infos = delegate.infos();
        ASSERT_EQ(infos.size(), restart ? 2u : 1u);
        EXPECT_EQ(infos[0].getVehicleName(), "last");
        if (restart) {
            EXPECT_EQ(infos[1].getVehicleName(), "again");
        }
        // The read that follows the message in the same burst fails, and so
        // does the wait after it: both reach onError.
        const auto errors = delegate.errors();
        ASSERT_EQ(errors.size(), 2u) << "the selector failure must reach onError";
        EXPECT_EQ(errors[0], errnoText(EBADF));
        EXPECT_EQ(errors[1], errnoText(EBADF));
    }
}

TEST(CallbackServerImpl, SignalToTheServerThreadDoesNotEndIntake)
{
    struct sigaction action {};
    action.sa_handler = &countSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the wait is interrupted
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    ActingDelegate delegate;
    std::atomic<pthread_t> serverThread{};
    delegate.action = [&] { serverThread.store(pthread_self()); };
    {
        CallbackServerImpl server(&delegate);
        server.start(0);
        ASSERT_TRUE(server.isRunning());
        Sender sender;
        sender.send(server.getBoundPort(), "first,1");
        ASSERT_TRUE(delegate.waitForTotal(1));
        for (int signal = 0; signal < 3; ++signal) {
            std::this_thread::sleep_for(50ms); // back in its wait
            ASSERT_TRUE(server.isRunning()) << "an interrupted wait ended intake";
            const int before = g_signalsSeen.load();
            ASSERT_EQ(::pthread_kill(serverThread.load(), SIGUSR1), 0);
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (g_signalsSeen.load() == before && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            ASSERT_GT(g_signalsSeen.load(), before) << "the handler never ran";
        }
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(server.isRunning());
        sender.send(server.getBoundPort(), "second,1");
        EXPECT_TRUE(delegate.waitForTotal(2));
        server.stop();
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    const auto infos = delegate.infos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[1].getVehicleName(), "second");
    EXPECT_TRUE(delegate.errors().empty());
}

TEST(CallbackServerImpl, StartOnARunningServerFreesTheFirstPortAndStopEndsIt)
{
    RecordingDelegate delegate;
    CallbackServerImpl server(&delegate);
    server.start(0);
    const int first = server.getBoundPort();
    int second = first;
    for (int attempt = 0; attempt < 10 && second == first; ++attempt) {
        server.start(0);
        second = server.getBoundPort();
    }
    ASSERT_NE(second, first);
    ASSERT_TRUE(server.isRunning());
    EXPECT_TRUE(portIsFree(first)) << "the first socket is still open";
    EXPECT_FALSE(portIsFree(second));

    Sender sender;
    sender.send(second, "second,1");
    ASSERT_TRUE(delegate.waitForTotal(1));
    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_TRUE(portIsFree(second));
    EXPECT_EQ(delegate.infos().size(), 1u);
}

namespace {

/// Holds the server thread inside the first message until released, so
/// that a burst queues up behind it.
struct HeldServer {
    ActingDelegate delegate;
    std::atomic<bool> held{false};
    std::atomic<bool> released{false};
    std::unique_ptr<CallbackServerImpl> server;

    HeldServer()
    {
        delegate.action = [this] {
            if (!held.exchange(true)) {
                while (!released.load()) {
                    std::this_thread::sleep_for(1ms);
                }
            }
        };
        server = std::make_unique<CallbackServerImpl>(&delegate);
        server->start(0);
    }

    void holdWith(Sender& sender)
    {
        sender.send(server->getBoundPort(), "hold,1");
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!held.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_TRUE(held.load());
    }
};

} // namespace

TEST(CallbackServerImpl, QueuedBurstIsDeliveredInOrderUnderTheSizeRules)
{
    HeldServer s;
    Sender sender;
    ASSERT_NO_FATAL_FAILURE(s.holdWith(sender));
    // Several times the reads of one wake, with dropped and oversized ones
    // among them.
    std::vector<std::string> expected{"hold"};
    size_t oversized = 0;
    for (int i = 0; i < 150; ++i) {
        const std::string name = "m" + std::to_string(i);
        if (i % 40 == 7) {
            sender.send(s.server->getBoundPort(), messageOfSize(4095, "dropped"));
        } else if (i % 40 == 21) {
            sender.send(s.server->getBoundPort(), messageOfSize(5000, "oversized"));
            ++oversized;
        } else if (i % 40 == 33) {
            sender.send(s.server->getBoundPort(), messageOfSize(4094, name));
            expected.push_back(name);
        } else {
            sender.send(s.server->getBoundPort(), name + ",1");
            expected.push_back(name);
        }
    }
    s.released.store(true);
    ASSERT_TRUE(s.delegate.waitForTotal(expected.size() + oversized));
    std::this_thread::sleep_for(50ms);
    s.server->stop();
    const auto infos = s.delegate.infos();
    ASSERT_EQ(infos.size(), expected.size());
    for (size_t i = 0; i < infos.size(); ++i) {
        EXPECT_EQ(infos[i].getVehicleName(), expected[i]) << i;
    }
    const auto errors = s.delegate.errors();
    ASSERT_EQ(errors.size(), oversized);
    for (const std::string& error : errors) {
        EXPECT_EQ(error, errnoText(EMSGSIZE));
    }
}

TEST(CallbackServerImpl, StopEndsAQueuedBurstWithoutReadingIt)
{
    HeldServer s;
    Sender sender;
    ASSERT_NO_FATAL_FAILURE(s.holdWith(sender));
    for (int i = 0; i < 100; ++i) {
        sender.send(s.server->getBoundPort(), "queued,1");
    }
    std::thread stopper([&] { s.server->stop(); });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!s.server->isStopRequested() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    s.released.store(true);
    stopper.join();
    EXPECT_FALSE(s.server->isRunning());
    const auto infos = s.delegate.infos();
    ASSERT_EQ(infos.size(), 1u) << "datagrams were read after the stop request";
    EXPECT_EQ(infos[0].getVehicleName(), "hold");
}

// Two servers (two consoles of different users, say) never share one port:
// the second is told the port is in use instead of silently taking half of
// the datagrams.
TEST(CallbackServerImpl, ASecondServerOnTheSamePortIsRefused)
{
    RecordingDelegate first;
    CallbackServerImpl holder(&first);
    holder.start(0);
    ASSERT_TRUE(holder.isRunning());
    const int port = holder.getBoundPort();

    RecordingDelegate second;
    CallbackServerImpl intruder(&second);
    intruder.start(port);
    EXPECT_FALSE(intruder.isRunning());
    const auto errors = second.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], errnoText(EADDRINUSE));

    Sender sender;
    sender.send(port, "mine,1");
    EXPECT_TRUE(first.waitForTotal(1));
    holder.stop();
    EXPECT_EQ(first.infos().size(), 1u);
}
