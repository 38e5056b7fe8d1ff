#include "foundation/socket/InetSocketAddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace velmora {

InetSocketAddress::InetSocketAddress() : m_family(0), m_networkPort(0), m_networkAddress(0), m_zero{} {}

InetSocketAddress::InetSocketAddress(const char* host, int port) : InetSocketAddress()
{
    m_family = AF_INET;
    m_networkPort = htons(static_cast<uint16_t>(port));
    in_addr parsed{};
    if (host != nullptr && inet_pton(AF_INET, host, &parsed) == 1) {
        m_networkAddress = parsed.s_addr;
    }
}

std::string InetSocketAddress::getHostText() const
{
    char text[INET_ADDRSTRLEN];
    getHostText(text, sizeof text);
    return text;
}

void InetSocketAddress::getHostText(char* out, size_t size) const
{
    in_addr address{};
    address.s_addr = m_networkAddress;
    if (size == 0) {
        return;
    }
    if (inet_ntop(AF_INET, &address, out, static_cast<socklen_t>(size)) == nullptr) {
        out[0] = '\0';
    }
}

uint16_t InetSocketAddress::getPort() const { return ntohs(m_networkPort); }

uint32_t InetSocketAddress::getAddress() const { return ntohl(m_networkAddress); }

} // namespace velmora
