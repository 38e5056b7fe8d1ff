#include "foundation/socket/SocketAddress.h"

#include "foundation/SocketAddressInfoException.h"
#include "foundation/SocketException.h"
#include "foundation/SystemText.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace velmora {

namespace {

void copyText(char* out, size_t size, const char* text)
{
    size_t i = 0;
    for (; text != nullptr && text[i] != '\0' && i + 1 < size; ++i) {
        out[i] = text[i];
    }
    out[i] = '\0';
}

} // namespace

SocketAddress::SocketAddress() : m_name{}, m_host{}, m_port(0), m_unset(true) {}

SocketAddress::SocketAddress(const char* host, int port) : SocketAddress()
{
    setAddress(host, port);
}

SocketAddress::SocketAddress(int port) : SocketAddress()
{
    const SocketAddress& local = localAddress();
    std::memcpy(m_name, local.m_name, sizeof m_name);
    std::memcpy(m_host, local.m_host, sizeof m_host);
    m_port = static_cast<uint16_t>(port);
    m_unset = false;
}

void SocketAddress::setAddress(const char* host, int port)
{
    in_addr parsed{};
    if (host != nullptr && inet_pton(AF_INET, host, &parsed) == 1) {
        copyText(m_host, sizeof m_host, host);
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_flags = AI_CANONNAME;
        addrinfo* result = nullptr;
        int rc = getaddrinfo(host != nullptr ? host : "", nullptr, &hints, &result);
        if (rc != 0 || result == nullptr) {
            if (rc == 0) {
                rc = EAI_NONAME;
            }
            char text[SocketAddressInfoException::TEXT_SIZE];
            SystemText::resolverText(rc, text, sizeof text);
            throw SocketAddressInfoException(VELMORA_THROW_SITE("SocketAddressInfoException"), rc, text);
        }
        char dotted[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr, dotted, sizeof dotted);
        freeaddrinfo(result);
        copyText(m_host, sizeof m_host, dotted);
    }
    m_port = static_cast<uint16_t>(port);
    m_unset = false;
}

void SocketAddress::setFromPeer(const char* dottedHost, int port)
{
    copyText(m_name, sizeof m_name, "Unknown");
    copyText(m_host, sizeof m_host, dottedHost);
    m_port = static_cast<uint16_t>(port);
    m_unset = false;
}

const SocketAddress& SocketAddress::localAddress()
{
    // Built once on the first call; a failed host-name query throws and a
    // later call tries again.
    static const SocketAddress local = [] {
        char name[NAME_SIZE] = {};
        if (gethostname(name, sizeof name - 1) != 0) {
            throw SocketException(VELMORA_THROW_SITE("SocketException"), errno);
        }
        SocketAddress address;
        copyText(address.m_name, sizeof address.m_name, name);
        copyText(address.m_host, sizeof address.m_host, "0.0.0.0");
        address.m_port = 0;
        address.m_unset = false;
        return address;
    }();
    return local;
}

} // namespace velmora
