#include "platform/thread.h"

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace platform {

uint32_t currentThreadId() noexcept { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void yieldProcessor() noexcept { sched_yield(); }

void sleepMillis(uint32_t milliseconds) noexcept {
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0) {
        // interrupted by a signal: sleep the rest
    }
}

}  // namespace platform
