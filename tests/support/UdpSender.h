#pragma once

// Sends datagrams to 127.0.0.1:port from one socket of its own, as a device
// would (plain BSD sockets, independent of the code under test).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace velmora::test {

class UdpSender {
public:
    explicit UdpSender(int port) : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        m_to.sin_family = AF_INET;
        m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_to.sin_port = htons(static_cast<uint16_t>(port));
    }
    ~UdpSender()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool send(const std::string& text) const
    {
        return ::sendto(m_fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&m_to), sizeof m_to) ==
               static_cast<ssize_t>(text.size());
    }

private:
    int m_fd;
    sockaddr_in m_to{};
};

} // namespace velmora::test
