#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

/// A 16-byte IPv4 socket address in the OS layout: family, port and address
/// in network order, 8 zero bytes. Default-constructed all zero.
class InetSocketAddress {
public:
    InetSocketAddress();
    /// Converts a dotted IPv4 text without any name lookup; a text that is
    /// not one leaves the address 0.0.0.0.
    InetSocketAddress(const char* host, int port);

    /// The dotted address text.
    std::string getHostText() const;
    /// Writes the dotted text into out (at least 16 bytes).
    void getHostText(char* out, size_t size) const;
    /// The port in host order.
    uint16_t getPort() const;
    /// The address in host order.
    uint32_t getAddress() const;

    /// The OS socket address (a sockaddr_in) and its size.
    const void* data() const { return this; }
    void* data() { return this; }
    static constexpr size_t size() { return 16; }

private:
    uint16_t m_family;
    uint16_t m_networkPort;
    uint32_t m_networkAddress;
    [[maybe_unused]] uint8_t m_zero[8];
};

} // namespace velmora
