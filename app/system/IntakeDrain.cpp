#include "app/system/IntakeDrain.h"

#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora {

namespace {

const char MARKER[] = "velmora-intake-drain";

} // namespace

IntakeDrain::~IntakeDrain() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool IntakeDrain::send(int callbackPort) {
    if (m_fd < 0) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            trace("IntakeDrain: socket: %s", std::strerror(errno));
            return false;
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            trace("IntakeDrain: bind: %s", std::strerror(errno));
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        m_localPort.store(ntohs(local.sin_port));
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(callbackPort));
    const ssize_t sent =
        ::sendto(m_fd, MARKER, sizeof MARKER - 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(sizeof MARKER - 1);
}

bool IntakeDrain::isMarker(const CallbackInfo& message) const {
    const int localPort = m_localPort.load();
    return localPort != 0 && message.getPort() == localPort && message.getAddress() == "127.0.0.1";
}

} // namespace velmora
