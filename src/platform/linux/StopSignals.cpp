#include "platform/linux/StopSignals.h"

#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

StopSignals::StopSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    m_fd.Reset(::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
}

int StopSignals::Next() {
    signalfd_siginfo info{};
    if (::read(m_fd.Get(), &info, sizeof info) != sizeof info) {
        return 0;
    }
    return static_cast<int>(info.ssi_signo);
}

} // namespace quantiro::platform::linux_impl
