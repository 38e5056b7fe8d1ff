#include "foundation/socket/Selector.h"

#include "foundation/SocketException.h"
#include "foundation/Trace.h"
#include "foundation/socket/ServerSocket.h"
#include "foundation/thread/ScopedLock.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace velmora {

namespace {

/// A descriptor set that never takes a handle it cannot hold: fd_set is a
/// bit mask of FD_SETSIZE bits, so a larger handle would be written out of
/// bounds; such a handle, and any beyond the count limit, is left out.
class HandleSet {
public:
    HandleSet() { FD_ZERO(&m_set); }

    bool add(SocketHandle handle)
    {
        if (handle < 0 || handle >= FD_SETSIZE) {
            return false;
        }
        if (FD_ISSET(handle, &m_set)) {
            return true;
        }
        if (m_count >= Selector::MAX_SET_HANDLES) {
            return false;
        }
        FD_SET(handle, &m_set);
        ++m_count;
        return true;
    }

    bool contains(SocketHandle handle) const
    {
        return handle >= 0 && handle < FD_SETSIZE && FD_ISSET(handle, &m_set);
    }

    fd_set* get() { return &m_set; }

private:
    fd_set m_set;
    int m_count = 0;
};

void closeQuietly(AbstractSocket& socket)
{
    try {
        socket.close();
    } catch (const SocketException&) {
        // Closing during a failed construction: the first failure is the one reported.
    }
}

} // namespace

void Selector::connectPair(Socket& source, Socket& sink,
                           const std::function<void(const InetSocketAddress& listening)>& onListening)
{
    ServerSocket listener;
    try {
        listener.create();
        if (listener.getHandle() == INVALID_SOCKET_HANDLE) {
            throw SocketException(VELMORA_THROW_SITE("SocketException"), errno);
        }
        // Loopback only: nothing on the network may reach the listener.
        sockaddr_in loopback{};
        loopback.sin_family = AF_INET;
        loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        loopback.sin_port = 0;
        if (::bind(listener.getHandle(), reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) != 0) {
            throw SocketException(VELMORA_THROW_SITE("SocketException"), errno);
        }
        listener.listen(INT_MAX);
        const InetSocketAddress listening = listener.getLocalAddress();
        if (onListening) {
            onListening(listening);
        }
        source.create();
        source.connect("127.0.0.1", listening.getPort());
        // Any local program may connect to the port before source does;
        // only the end whose peer is source's own address is kept.
        const InetSocketAddress own = source.getLocalAddress();
        for (int foreign = 0;; ++foreign) {
            listener.accept(sink);
            if (sink.getHandle() == INVALID_SOCKET_HANDLE) {
                throw SocketException(VELMORA_THROW_SITE("SocketException"), errno);
            }
            const InetSocketAddress peer = sink.getPeerAddress();
            if (peer.getAddress() == own.getAddress() && peer.getPort() == own.getPort()) {
                break;
            }
            closeQuietly(sink);
            if (foreign >= MAX_FOREIGN_PEERS) {
                throw SocketException(VELMORA_THROW_SITE("SocketException"), ECONNREFUSED);
            }
        }
    } catch (...) {
        closeQuietly(listener);
        closeQuietly(source);
        closeQuietly(sink);
        throw;
    }
    closeQuietly(listener);
}

Selector::Selector()
{
    connectPair(m_source, m_sink);
    if (m_source.getHandle() >= FD_SETSIZE) {
        trace("Selector: wake-up handle %d beyond the descriptor set; wakeup() cannot cut a wait short",
              m_source.getHandle());
    }
}

Selector::~Selector()
{
    m_keys.clear();
    closeQuietly(m_source);
    closeQuietly(m_sink);
}

SelectionKey& Selector::registerSocket(AbstractSocket& socket, uint32_t interestOps, void* attachment)
{
    SelectionKey& key = m_keys[static_cast<unsigned>(socket.getHandle())];
    key.socket = &socket;
    key.interestOps = interestOps;
    key.readyOps = 0;
    key.attachment = attachment;
    return key;
}

int Selector::unregister(AbstractSocket& socket)
{
    return static_cast<int>(m_keys.erase(static_cast<unsigned>(socket.getHandle())));
}

void Selector::clear() { m_keys.clear(); }

int Selector::select(std::vector<SelectionKey>& selected) { return doSelect(selected, -1); }

int Selector::select(std::vector<SelectionKey>& selected, int64_t timeoutMs)
{
    return doSelect(selected, timeoutMs < 0 ? 0 : timeoutMs);
}

int Selector::selectNow(std::vector<SelectionKey>& selected) { return doSelect(selected, 0); }

int Selector::doSelect(std::vector<SelectionKey>& selected, int64_t timeoutMs)
{
    HandleSet readSet;
    HandleSet writeSet;
    HandleSet errorSet;
    const SocketHandle source = m_source.getHandle();
    int highest = -1;
    if (readSet.add(source)) {
        highest = source;
    }
    for (const auto& [handleValue, key] : m_keys) {
        const auto handle = static_cast<SocketHandle>(handleValue);
        bool added = false;
        if ((key.interestOps & (SelectionKey::READ | SelectionKey::ACCEPT)) != 0) {
            added |= readSet.add(handle);
        }
        if ((key.interestOps & (SelectionKey::WRITE | SelectionKey::CONNECT)) != 0) {
            added |= writeSet.add(handle);
        }
        added |= errorSet.add(handle);
        if (added && handle > highest) {
            highest = handle;
        }
    }

    // A signal handler that runs on this thread interrupts select, and the
    // call is never restarted: that is "nothing ready yet", so the wait goes
    // on for the time that is left, on fresh copies of the sets.
    // Beyond about 69 years a limit is as good as none, and the clock sums
    // below stay in range.
    constexpr int64_t LONGEST_LIMIT_MS = int64_t{1} << 41;
    if (timeoutMs > LONGEST_LIMIT_MS) {
        timeoutMs = LONGEST_LIMIT_MS;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const HandleSet wantedRead = readSet;
    const HandleSet wantedWrite = writeSet;
    const HandleSet wantedError = errorSet;
    int64_t remainingUs = timeoutMs * 1000;
    int n;
    for (;;) {
        timeval limit{};
        timeval* limitPointer = nullptr;
        if (timeoutMs >= 0) {
            limit.tv_sec = static_cast<time_t>(remainingUs / 1000000);
            limit.tv_usec = static_cast<suseconds_t>(remainingUs % 1000000);
            limitPointer = &limit;
        }
        n = ::select(highest + 1, readSet.get(), writeSet.get(), errorSet.get(), limitPointer);
        if (n >= 0 || errno != EINTR) {
            break;
        }
        if (timeoutMs >= 0) {
            remainingUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
            if (remainingUs <= 0) {
                return 0;
            }
        }
        readSet = wantedRead;
        writeSet = wantedWrite;
        errorSet = wantedError;
    }
    if (n < 0) {
        // errno still tells the caller why.
        return -1;
    }
    if (n == 0) {
        return 0;
    }
    if (readSet.contains(source)) {
        ScopedLock lock(m_wakeupLock);
        char byte;
        (void)m_source.read(&byte, 1);
        m_wakeupPending = false;
        --n;
    }
    for (auto& [handleValue, key] : m_keys) {
        const auto handle = static_cast<SocketHandle>(handleValue);
        key.readyOps = 0;
        if (errorSet.contains(handle)) {
            trace("ERROR SET");
            continue;
        }
        if (readSet.contains(handle)) {
            key.readyOps |= (key.interestOps & SelectionKey::READ) != 0 ? SelectionKey::READ : SelectionKey::ACCEPT;
        }
        if (writeSet.contains(handle)) {
            key.readyOps |= (key.interestOps & SelectionKey::WRITE) != 0 ? SelectionKey::WRITE : SelectionKey::CONNECT;
        }
        if (key.readyOps != 0) {
            selected.push_back(key);
        }
    }
    return n;
}

void Selector::wakeup()
{
    ScopedLock lock(m_wakeupLock);
    if (!m_wakeupPending) {
        char byte = 'X';
        (void)m_sink.write(&byte, 1);
        m_wakeupPending = true;
    }
}

} // namespace velmora
