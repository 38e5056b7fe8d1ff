#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/Selector.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

/// A bound UDP socket on an ephemeral port, closed at the end of the test.
struct BoundDatagram {
    DatagramSocket socket;
    BoundDatagram()
    {
        socket.create();
        socket.bind(0);
    }
    ~BoundDatagram() { socket.close(); }
    int port() const { return socket.getLocalAddress().getPort(); }
    void sendTo(int port)
    {
        SocketAddress to("127.0.0.1", port);
        socket.sendTo("x", 1, to);
    }
};

/// What read gives once socket has something to read within ms; -2 when
/// nothing comes.
int readWithin(Socket& socket, char& byte, int ms)
{
    pollfd wanted{socket.getHandle(), POLLIN, 0};
    if (::poll(&wanted, 1, ms) != 1) {
        return -2;
    }
    return socket.read(&byte, 1);
}

} // namespace

// The wake-up listener is reachable from this machine only, and another
// program that connects to it first is turned away: the byte wakeup()
// writes must reach the Selector's own end.
TEST(Selector, TheWakeupConnectionListensOnLoopbackAndKeepsOnlyItsOwnPeer)
{
    for (int others : {0, 1, 3}) {
        SCOPED_TRACE(others);
        Socket source;
        Socket sink;
        std::string listening;
        std::vector<std::unique_ptr<Socket>> foreign;
        Selector::connectPair(source, sink, [&](const InetSocketAddress& at) {
            listening = at.getHostText();
            for (int i = 0; i < others; ++i) {
                foreign.push_back(std::make_unique<Socket>());
                foreign.back()->create();
                foreign.back()->connect("127.0.0.1", at.getPort());
            }
        });
        EXPECT_EQ(listening, "127.0.0.1");
        ASSERT_EQ(sink.write("w", 1), 1);
        char byte = 0;
        EXPECT_EQ(readWithin(source, byte, 2000), 1);
        EXPECT_EQ(byte, 'w');
        for (auto& other : foreign) {
            // Closed by the listener: the other program reads the end.
            EXPECT_EQ(readWithin(*other, byte, 2000), 0);
            other->close();
        }
        source.close();
        sink.close();
    }
}

TEST(Selector, WakeupsBeforeSelectMakeExactlyOneReturnEarly)
{
    Selector selector;
    std::vector<SelectionKey> selected;
    selector.wakeup();
    selector.wakeup();
    selector.wakeup();
    auto begin = Clock::now();
    EXPECT_EQ(selector.select(selected, 2000), 0);
    EXPECT_LT(Clock::now() - begin, 500ms);
    EXPECT_TRUE(selected.empty());
    // The next one waits its full time: no byte was left behind.
    begin = Clock::now();
    EXPECT_EQ(selector.select(selected, 200), 0);
    EXPECT_GE(Clock::now() - begin, 190ms);
    EXPECT_TRUE(selected.empty());
}

TEST(Selector, WakeupFromAnotherThreadCutsAWaitShort)
{
    // The longest limit a caller can give is a wait like any other.
    for (const int64_t limit : {int64_t{5000}, INT64_MAX}) {
        SCOPED_TRACE(limit);
        Selector selector;
        std::vector<SelectionKey> selected;
        std::thread waker([&] {
            std::this_thread::sleep_for(100ms);
            selector.wakeup();
        });
        const auto begin = Clock::now();
        EXPECT_EQ(selector.select(selected, limit), 0);
        EXPECT_LT(Clock::now() - begin, 2s);
        waker.join();
    }
}

TEST(Selector, ReadyFlagsFollowTheInterest)
{
    Selector selector;
    BoundDatagram accepting;
    BoundDatagram readWrite;
    BoundDatagram writeOnly;
    BoundDatagram idle;
    BoundDatagram sender;
    int tagA = 0;
    int tagB = 0;
    selector.registerSocket(accepting.socket, SelectionKey::ACCEPT, &tagA);
    selector.registerSocket(readWrite.socket, SelectionKey::READ | SelectionKey::WRITE, &tagB);
    selector.registerSocket(writeOnly.socket, SelectionKey::CONNECT, nullptr);
    selector.registerSocket(idle.socket, SelectionKey::ACCEPT, nullptr);
    sender.sendTo(accepting.port());
    sender.sendTo(readWrite.port());
    std::this_thread::sleep_for(20ms);

    std::vector<SelectionKey> selected;
    EXPECT_EQ(selector.select(selected, 1000), 4); // readable x2, writable x2
    ASSERT_EQ(selected.size(), 3u);
    for (size_t i = 1; i < selected.size(); ++i) {
        EXPECT_LT(selected[i - 1].socket->getHandle(), selected[i].socket->getHandle());
    }
    for (const SelectionKey& key : selected) {
        if (key.socket == &accepting.socket) {
            EXPECT_EQ(key.readyOps, SelectionKey::ACCEPT);
            EXPECT_EQ(key.attachment, &tagA);
        } else if (key.socket == &readWrite.socket) {
            EXPECT_EQ(key.readyOps, SelectionKey::READ | SelectionKey::WRITE);
            EXPECT_EQ(key.attachment, &tagB);
        } else {
            EXPECT_EQ(key.socket, &writeOnly.socket);
            EXPECT_EQ(key.readyOps, SelectionKey::CONNECT);
        }
    }

    // Registering again replaces interest and attachment and clears readyOps.
    SelectionKey& key = selector.registerSocket(readWrite.socket, SelectionKey::ACCEPT, &tagA);
    EXPECT_EQ(key.readyOps, 0u);
    EXPECT_EQ(key.attachment, &tagA);
    EXPECT_EQ(selector.size(), 4u);
    EXPECT_EQ(selector.unregister(writeOnly.socket), 1);
    EXPECT_EQ(selector.unregister(writeOnly.socket), 0);
    selected.clear();
    EXPECT_EQ(selector.selectNow(selected), 2);
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(selected[0].readyOps, SelectionKey::ACCEPT);
    EXPECT_EQ(selected[1].readyOps, SelectionKey::ACCEPT);
    selector.clear();
    selected.clear();
    EXPECT_EQ(selector.selectNow(selected), 0);
    EXPECT_TRUE(selected.empty());
}

TEST(Selector, AClosedRegisteredHandleFailsTheCallWithoutHarm)
{
    Selector selector;
    DatagramSocket socket;
    socket.create();
    selector.registerSocket(socket, SelectionKey::ACCEPT, nullptr);
    socket.close();
    std::vector<SelectionKey> selected;
    // A stale handle makes the OS call fail; nothing is reported or thrown.
    EXPECT_EQ(selector.selectNow(selected), -1);
    EXPECT_TRUE(selected.empty());
}
