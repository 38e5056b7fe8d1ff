#include "app/system/TerminationSignal.h"

#include "foundation/Trace.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velmora {

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void TerminationSignal::blockEarly() {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignal::TerminationSignal(QObject* parent) : QObject(parent) {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        trace("TerminationSignal: signalfd failed: %s", std::strerror(errno));
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignal::readSignals);
}

TerminationSignal::~TerminationSignal() {
    delete m_notifier;
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void TerminationSignal::readSignals() {
    signalfd_siginfo info;
    for (;;) {
        const ssize_t n = ::read(m_fd, &info, sizeof info);
        if (n != static_cast<ssize_t>(sizeof info)) {
            return;
        }
        trace("TerminationSignal: signal %u", info.ssi_signo);
        emit requested(static_cast<int>(info.ssi_signo));
    }
}

} // namespace velmora
