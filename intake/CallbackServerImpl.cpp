#include "intake/CallbackServerImpl.h"

#include "foundation/SocketException.h"
#include "foundation/Trace.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackServerDelegate.h"

#include <cerrno>

namespace velmora {

std::unique_ptr<TesselCallbackServer> TesselCallbackServer::create(CallbackServerDelegate* delegate)
{
    return std::make_unique<CallbackServerImpl>(delegate);
}

CallbackServerImpl::CallbackServerImpl(CallbackServerDelegate* delegate)
    : LoopingThread("Callback Server"), m_delegate(delegate), m_buffer{}
{
    m_selected.reserve(4);
}

CallbackServerImpl::~CallbackServerImpl()
{
    // Always joins: a thread that ended on its own may still be signalling
    // its end, and join() returns at once when nothing runs.
    stop();
    closeSocket();
}

void CallbackServerImpl::start(int port)
{
    // A second start without stop would leave the first thread running on
    // a socket nobody closes: restart instead.
    if (isRunning()) {
        stop();
    }
    m_port = port;
    try {
        m_socket.create();
        m_socket.configureBlocking(false);
        if (m_receiveBufferSize > 0) {
            try {
                m_socket.setReceiveBufferSize(m_receiveBufferSize);
            } catch (const SocketException& e) {
                // The system default still works; only bursts suffer.
                traceException(e);
            }
        }
        m_socket.bind(port);
        m_boundPort.store(m_socket.getLocalAddress().getPort());
        m_selector.registerSocket(m_socket, SelectionKey::ACCEPT, &m_socket);
        m_stopRequested.store(false);
        clearStop();
        Thread::start();
    } catch (const SocketException& e) {
        traceException(e);
        m_boundPort.store(0);
        // The handle is not left open behind an idle server.
        m_selector.clear();
        closeSocket();
        if (m_delegate != nullptr) {
            m_delegate->onError(e.getMessage());
        }
    } catch (...) {
        // Thread creation refused (SystemException) or worse: idle, port closed.
        m_boundPort.store(0);
        m_selector.clear();
        closeSocket();
        throw;
    }
}

void CallbackServerImpl::stop()
{
    m_stopRequested.store(true);
    LoopingThread::stop();
    m_selector.wakeup();
    join();
    m_port = 0;
    m_boundPort.store(0);
}

void CallbackServerImpl::run()
{
    try {
        for (;;) {
            if (m_stopRequested.load()) {
                closeSocket();
                m_selector.clear();
                return;
            }
            m_selected.clear();
            const int n = m_selector.select(m_selected, SELECT_TIMEOUT_MS);
            if (n < 0) {
                // An interrupted wait never gets here (the selector goes on
                // waiting); anything else ends intake, and the owner is told.
                const SocketException failure(VELMORA_THROW_SITE("SocketException"), errno);
                trace("Selector Error!");
                closeSocket();
                m_selector.clear();
                // Nothing listens any more: a stop must not send its marker
                // to a closed port and wait for it.
                m_boundPort.store(0);
                if (m_delegate != nullptr) {
                    m_delegate->onError(failure.getMessage());
                }
                return;
            }
            for (const SelectionKey& key : m_selected) {
                if ((key.readyOps & SelectionKey::ACCEPT) != 0) {
                    receiveWaiting();
                }
            }
        }
    } catch (...) {
        // Anything but a socket failure ends the thread; the port is not
        // left bound behind a server that no longer reads it.
        closeSocket();
        m_selector.clear();
        m_boundPort.store(0);
        throw;
    }
}

void CallbackServerImpl::receiveWaiting()
{
    for (int i = 0; i < MAX_READS_PER_WAKE && !m_stopRequested.load(); ++i) {
        if (!receiveOne()) {
            return;
        }
    }
}

bool CallbackServerImpl::receiveOne()
{
    try {
        SocketAddress from;
        // The socket is non-blocking: an empty queue (also a readiness that
        // vanished before the read, a datagram dropped for a bad checksum)
        // is -1, no failure of the device or the socket.
        const int n = m_socket.receiveWaitingFrom(m_buffer, BUFFER_SIZE, from);
        if (n < 0) {
            return false;
        }
        if (n >= 1 && n <= MAX_DATAGRAM) {
            deliver(from.getHost(), from.getPort(), n);
        }
        return true;
    } catch (const SocketException& e) {
        trace("Error Code - %d", e.getErrorCode());
        if (m_delegate != nullptr) {
            m_delegate->onError(e.getMessage());
        }
        // The selector is asked again before the next read, so a failure
        // that stays is reported once per wait, not once per read.
        return false;
    }
}

void CallbackServerImpl::deliver(const char* host, int port, int length)
{
    m_buffer[length] = '\0';
    CallbackInfo info(host, port);
    if (m_parser.parse(info, m_buffer) && m_delegate != nullptr) {
        m_delegate->onCallback(info);
    }
}

void CallbackServerImpl::closeSocket()
{
    try {
        m_socket.close();
    } catch (const SocketException& e) {
        traceException(e);
    }
}

} // namespace velmora
