#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

/// A host and port. The name is this machine's name for local addresses and
/// "Unknown" for addresses taken from a received packet or connection.
class SocketAddress {
public:
    static constexpr size_t NAME_SIZE = 65;
    static constexpr size_t HOST_SIZE = 33;

    /// Unset, port 0, empty name and host.
    SocketAddress();
    /// Name empty, then setAddress(host, port).
    SocketAddress(const char* host, int port);
    /// This machine's name, host "0.0.0.0" and the port (see localAddress()).
    explicit SocketAddress(int port);

    /// A dotted IPv4 text is taken as it is; any other text is resolved
    /// (AF_INET, first answer). A resolver failure throws
    /// SocketAddressInfoException with the resolver's code and text.
    void setAddress(const char* host, int port);
    /// Fills the address from a received sender: name "Unknown".
    void setFromPeer(const char* dottedHost, int port);

    /// The process-wide local address: this machine's name, host "0.0.0.0",
    /// port 0. Throws SocketException when the host name cannot be read.
    static const SocketAddress& localAddress();

    /// The dotted host text; nullptr when unset.
    const char* getHost() const { return m_unset ? nullptr : m_host; }
    /// The name; nullptr when unset.
    const char* getName() const { return m_unset ? nullptr : m_name; }
    uint16_t getPort() const { return m_port; }
    bool isUnset() const { return m_unset; }

private:
    char m_name[NAME_SIZE];
    char m_host[HOST_SIZE];
    uint16_t m_port;
    bool m_unset;
};

} // namespace velmora
