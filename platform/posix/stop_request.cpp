#include "platform/stop_request.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <time.h>

namespace platform {

namespace {

// Every signal that would end the process without a core dump or that a
// user sends to end it (SIGQUIT: Ctrl-\), so that no clean-up is skipped.
// SIGPIPE is not among them: see ignoreBrokenOutput.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

sigset_t stopSignals() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kStopSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

bool catchStopRequests() noexcept {
    sigset_t set = stopSignals();
    // Blocked signals stay pending until sigtimedwait collects them.
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

bool waitStopRequest(uint32_t timeoutMillis) noexcept {
    sigset_t set = stopSignals();
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(timeoutMillis / 1000);
    left.tv_nsec = static_cast<long>(timeoutMillis % 1000) * 1000000L;
    for (;;) {
        int signal = sigtimedwait(&set, nullptr, &left);
        if (signal > 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;  // EAGAIN: the time ran out
        }
        // Another signal interrupted the wait: waiting the full time again
        // only lengthens one wait, and such signals are rare.
    }
}

bool ignoreBrokenOutput() noexcept { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }

}  // namespace platform
