#include "platform/stop_request.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <time.h>

namespace platform {

namespace {

sigset_t stopSignals() noexcept {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
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

}  // namespace platform
