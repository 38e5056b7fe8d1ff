#include "foundation/SocketAddressInfoException.h"
#include "foundation/SocketException.h"
#include "foundation/socket/DatagramSocket.h"
#include "foundation/socket/ServerSocket.h"
#include "foundation/socket/Socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <string>
#include <thread>

using namespace velmora;

namespace {

struct Pair {
    DatagramSocket a;
    DatagramSocket b;
    Pair()
    {
        a.create();
        a.bind(0);
        b.create();
        b.bind(0);
    }
    ~Pair()
    {
        a.close();
        b.close();
    }
    SocketAddress addressOfB() const { return SocketAddress("127.0.0.1", b.getLocalAddress().getPort()); }
};

} // namespace

TEST(DatagramSocket, ReceiveFromReportsTheSender)
{
    Pair p;
    EXPECT_NE(p.b.getLocalAddress().getPort(), 0);
    EXPECT_EQ(p.a.sendTo("hello", 5, p.addressOfB()), 5);
    char buffer[16];
    SocketAddress from;
    int count = -1;
    ASSERT_TRUE(p.b.receiveFrom(buffer, sizeof buffer, from, 1000, count));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_STREQ(from.getName(), "Unknown");
    EXPECT_STREQ(from.getHost(), "127.0.0.1");
    EXPECT_EQ(from.getPort(), p.a.getLocalAddress().getPort());
    EXPECT_FALSE(from.isUnset());
}

TEST(DatagramSocket, TimedFormsPollAndKeepTheBlockingMode)
{
    Pair p;
    char buffer[16];
    int count = -7;
    SocketAddress from;
    // Nothing waiting: a zero time-out only polls.
    EXPECT_FALSE(p.b.receiveFrom(buffer, sizeof buffer, from, 0, count));
    EXPECT_FALSE(p.b.receive(buffer, sizeof buffer, 50, count));
    EXPECT_EQ(count, -7);
    EXPECT_TRUE(p.b.isBlocking());
    ASSERT_TRUE(p.a.sendTo("abc", 3, p.addressOfB(), 1000, count));
    EXPECT_EQ(count, 3);
    ASSERT_TRUE(p.b.receive(buffer, sizeof buffer, 1000, count));
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(p.b.isBlocking());
    p.b.configureBlocking(false);
    EXPECT_FALSE(p.b.isBlocking());
    EXPECT_FALSE(p.b.receive(buffer, sizeof buffer, 0, count));
    EXPECT_FALSE(p.b.isBlocking());
}

TEST(DatagramSocket, OversizedDatagramIsAnErrorAndTheNextArrives)
{
    Pair p;
    std::string big(5000, 'b');
    p.a.sendTo(big.data(), big.size(), p.addressOfB());
    p.a.sendTo("next", 4, p.addressOfB());
    char buffer[4096];
    SocketAddress from;
    try {
        p.b.receiveFrom(buffer, sizeof buffer, from);
        FAIL() << "an oversized datagram was delivered";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.getErrorCode(), EMSGSIZE);
        EXPECT_STREQ(e.getMessage(), std::strerror(EMSGSIZE));
    }
    EXPECT_EQ(p.b.receiveFrom(buffer, sizeof buffer, from), 4);
    // Exactly the buffer's size is no error.
    std::string exact(sizeof buffer, 'e');
    p.a.sendTo(exact.data(), exact.size(), p.addressOfB());
    EXPECT_EQ(p.b.receive(buffer, sizeof buffer), static_cast<int>(sizeof buffer));
}

TEST(AbstractSocket, CloseIsIdempotentAndOperationsOnNoHandleThrow)
{
    DatagramSocket socket;
    EXPECT_NO_THROW(socket.close());
    socket.create();
    EXPECT_NE(socket.getHandle(), INVALID_SOCKET_HANDLE);
    socket.close();
    EXPECT_EQ(socket.getHandle(), INVALID_SOCKET_HANDLE);
    EXPECT_NO_THROW(socket.close());
    try {
        socket.bind(0);
        FAIL() << "bind on no handle succeeded";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.getErrorCode(), EBADF);
        EXPECT_STREQ(e.getName(), "SocketException");
    }
}

TEST(SocketAddress, DottedTextIsTakenAndUnknownNamesThrowResolverErrors)
{
    SocketAddress address("127.0.0.1", 80);
    EXPECT_STREQ(address.getHost(), "127.0.0.1");
    EXPECT_STREQ(address.getName(), "");
    EXPECT_EQ(address.getPort(), 80);
    EXPECT_EQ(SocketAddress().getHost(), nullptr);
    EXPECT_TRUE(SocketAddress().isUnset());
    EXPECT_STREQ(SocketAddress("localhost", 1).getHost(), "127.0.0.1");

    const SocketAddress& local = SocketAddress::localAddress();
    EXPECT_STREQ(local.getHost(), "0.0.0.0");
    EXPECT_GT(std::strlen(local.getName()), 0u);
    SocketAddress withPort(8080);
    EXPECT_STREQ(withPort.getName(), local.getName());
    EXPECT_EQ(withPort.getPort(), 8080);

    try {
        SocketAddress("", 1);
        FAIL() << "an empty name resolved";
    } catch (const SocketAddressInfoException& e) {
        EXPECT_NE(e.getErrorCode(), 0);
        EXPECT_STREQ(e.getMessage(), gai_strerror(e.getErrorCode()));
        EXPECT_STREQ(e.getName(), "SocketAddressInfoException");
    }
}

TEST(InetSocketAddress, HoldsTheOsLayout)
{
    InetSocketAddress address("10.1.2.3", 10111);
    EXPECT_EQ(address.getHostText(), "10.1.2.3");
    EXPECT_EQ(address.getPort(), 10111);
    EXPECT_EQ(address.getAddress(), 0x0A010203u);
    const auto* bytes = static_cast<const unsigned char*>(address.data());
    EXPECT_EQ(bytes[2], 10111 >> 8);
    EXPECT_EQ(bytes[3], 10111 & 0xFF);
    EXPECT_EQ(bytes[4], 10);
    EXPECT_EQ(InetSocketAddress().getHostText(), "0.0.0.0");
    EXPECT_EQ(InetSocketAddress("not an address", 1).getHostText(), "0.0.0.0");
}

TEST(Socket, StreamConnectionCarriesBytesBothWays)
{
    ServerSocket listener;
    listener.create();
    listener.bind(0);
    listener.listen(4);
    const int port = listener.getLocalAddress().getPort();
    Socket client;
    client.create();
    EXPECT_TRUE(client.connect("127.0.0.1", port));
    Socket accepted;
    listener.accept(accepted);
    ASSERT_NE(accepted.getHandle(), INVALID_SOCKET_HANDLE);
    EXPECT_EQ(client.write("ping", 4), 4);
    char buffer[8];
    EXPECT_EQ(accepted.read(buffer, sizeof buffer), 4);
    EXPECT_EQ(accepted.getPeerAddress().getPort(), client.getLocalAddress().getPort());
    EXPECT_EQ(client.shutdownOutput(), 0);
    EXPECT_EQ(accepted.read(buffer, sizeof buffer), 0);
    // Writing to a peer that has gone is an error result, never a signal
    // (SIGPIPE would end this process): the first write draws the peer's
    // reset, a later one fails.
    accepted.close();
    int result = 0;
    int error = 0;
    for (int attempt = 0; attempt < 200 && result >= 0; ++attempt) {
        errno = 0;
        result = client.write("a", 1);
        error = errno;
        if (result >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
    client.close();
    listener.close();

    Socket refused;
    refused.create();
    EXPECT_THROW(refused.connect("127.0.0.1", port), SocketException);
    refused.close();
}
