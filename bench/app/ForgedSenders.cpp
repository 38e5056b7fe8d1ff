#include "bench/app/ForgedSenders.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace velmora {

ForgedSenders::ForgedSenders(int count, int port) : m_port(port) {
    for (int sender = 0; sender < count; ++sender) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        if (fd < 0 || ::inet_pton(AF_INET, addressOf(sender).c_str(), &from.sin_addr) != 1 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            std::perror("bind");
            if (fd >= 0) {
                ::close(fd);
            }
            continue;
        }
        m_fds.push_back(fd);
    }
}

ForgedSenders::~ForgedSenders() {
    for (int fd : m_fds) {
        ::close(fd);
    }
}

std::string ForgedSenders::addressOf(int sender) {
    return "127.0." + std::to_string(1 + sender / 250) + "." + std::to_string(1 + sender % 250);
}

bool ForgedSenders::send(int sender, const std::string& text) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(m_port));
    return ::sendto(m_fds[static_cast<size_t>(sender)], text.data(), text.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<ssize_t>(text.size());
}

} // namespace velmora
