#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

/// UDP senders on loopback addresses of their own (127.0.x.y: Linux routes
/// the whole 127/8 to the loopback device), as senders that forge their
/// source addresses on a LAN look to the console.
class ForgedSenders {
public:
    /// count sockets, bound to 127.0.1.1, 127.0.1.2, ... (250 a block);
    /// each sends to 127.0.0.1:port.
    ForgedSenders(int count, int port);
    ~ForgedSenders();
    ForgedSenders(const ForgedSenders&) = delete;
    ForgedSenders& operator=(const ForgedSenders&) = delete;

    /// Sockets that could be bound.
    int size() const { return static_cast<int>(m_fds.size()); }
    /// The source address of sender.
    static std::string addressOf(int sender);
    /// Sends text from sender; false when the kernel refused it.
    bool send(int sender, const std::string& text) const;

private:
    std::vector<int> m_fds;
    int m_port;
};

} // namespace velmora
