#pragma once

// Helpers for the console's tests: a temporary directory, device datagrams as
// recorders write them, real UDP sends, the kernel's view of a UDP port and
// reads of app.db through a connection of the test's own.

#include "tests/support/SqliteRows.h"
#include "tests/support/TempDir.h"

#include "foundation/Date.h"
#include "foundation/DateTime.h"
#include "foundation/Time.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {

/// Copies the rendered page images into directory/images.
inline void copyImages(const std::string& imagesParent, const std::string& directory) {
    std::filesystem::copy(imagesParent + "/images", directory + "/images",
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

/// A device datagram as recorders write it: name, kind, ordinal, title,
/// flags, packed date and time, vehicle id, then the kind's tail.
inline std::string datagram(const std::string& name, int kind, const std::string& vehicleId,
                            const std::string& title, const std::string& tail,
                            const DateTime& time = DateTime(2026, 1, 31, 17, 5, 9)) {
    char head[512];
    std::snprintf(head, sizeof head, "%s,%d,0, ,%s,1,%d,%d, ,0, ,%s", name.c_str(), kind, title.c_str(),
                  time.getDate().getValue(), time.getTime().getValue(), vehicleId.c_str());
    return tail.empty() ? std::string(head) : std::string(head) + "," + tail;
}

/// A GPS fix carrying sentence.
inline std::string fixDatagram(const std::string& name, const std::string& vehicleId, const std::string& sentence,
                               const DateTime& time = DateTime(2026, 1, 31, 17, 5, 9)) {
    return datagram(name, 100, vehicleId, "GPS", sentence, time);
}

/// Optional information: the key/value pairs.
inline std::string infoDatagram(const std::string& name, const std::string& vehicleId,
                                const std::map<std::string, std::string>& pairs) {
    std::string tail = "x," + std::to_string(pairs.size());
    for (const auto& [key, value] : pairs) {
        tail += "," + key + "," + value;
    }
    return datagram(name, 101, vehicleId, " ", tail);
}

/// An event of kind 0 to 13.
inline std::string eventDatagram(const std::string& name, const std::string& vehicleId, int kind,
                                 const std::string& title) {
    return datagram(name, kind, vehicleId, title, "");
}

/// A $GPRMC sentence with a checksum.
inline std::string gprmc(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", sum & 0xFF);
    return "$" + body + tail;
}

/// Sends datagrams to 127.0.0.1:port from one socket; given from (a
/// loopback address such as "127.0.3.7"), the socket is bound to it, so
/// each sender of a test can have an address of its own.
class UdpSender {
public:
    explicit UdpSender(const char* from = nullptr) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (m_fd < 0) {
            throw std::runtime_error("socket failed");
        }
        if (from != nullptr) {
            sockaddr_in at{};
            at.sin_family = AF_INET;
            if (::inet_pton(AF_INET, from, &at.sin_addr) != 1 ||
                ::bind(m_fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
                ::close(m_fd);
                throw std::runtime_error("bind failed");
            }
        }
    }
    ~UdpSender() { ::close(m_fd); }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool send(int port, const std::string& text) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(port));
        return ::sendto(m_fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(text.size());
    }

private:
    int m_fd = -1;
};

/// A UDP socket bound exclusively (no address reuse) to a port.
class UdpPortHolder {
public:
    /// port 0: the system picks one.
    explicit UdpPortHolder(int port = 0) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot hold the UDP port");
        }
        m_port = ntohs(address.sin_port);
    }
    ~UdpPortHolder() { release(); }
    UdpPortHolder(const UdpPortHolder&) = delete;
    UdpPortHolder& operator=(const UdpPortHolder&) = delete;

    int port() const { return m_port; }
    void release() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

/// A UDP port nobody holds right now.
inline int freeUdpPort() {
    UdpPortHolder holder;
    return holder.port();
}

/// The kernel's UDP sockets on port: how many, and the datagrams they
/// dropped for a full receive queue (from /proc/net/udp).
struct UdpPortState {
    int sockets = 0;
    long long drops = 0;
};

inline UdpPortState udpPortState(int port) {
    UdpPortState state;
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, st, queues, timer, retransmit, uid, timeout, inode, ref, pointer, drops;
        fields >> slot >> local >> remote >> st >> queues >> timer >> retransmit >> uid >> timeout >> inode >> ref >>
            pointer >> drops;
        const size_t colon = local.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) {
            ++state.sockets;
            state.drops += drops.empty() ? 0 : std::stoll(drops);
        }
    }
    return state;
}

/// The whole content of a file ("" when there is none).
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace velmora::test
