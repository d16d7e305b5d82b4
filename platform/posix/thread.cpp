#include "platform/thread.h"

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

uint32_t currentThreadId() noexcept { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void yieldProcessor() noexcept { sched_yield(); }

namespace {

// The first version of the kernel's sched_attr (the C library may lack it).
struct SchedulingAttributes {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;  // for the normal policy: the length of a turn (kernel 6.12 on)
    uint64_t deadline;
    uint64_t period;
};
static_assert(sizeof(SchedulingAttributes) == 48, "sched_attr, first version");

// The shortest turn the kernel grants; one frame's work fits in it.
constexpr uint64_t kShortTurnNanos = 100000;
constexpr uint64_t kResetOnFork = 0x01;  // SCHED_FLAG_RESET_ON_FORK

}  // namespace

// The thread keeps its policy and nice value; a kernel before 6.12 accepts
// the turn length and ignores it.
bool preferShortTurns() noexcept {
    SchedulingAttributes attributes{};
    if (syscall(SYS_sched_getattr, 0, &attributes, sizeof attributes, 0) != 0 || attributes.policy != SCHED_OTHER) {
        return false;
    }
    attributes.size = sizeof attributes;
    attributes.flags &= kResetOnFork;  // kept as the user set it; nothing else
    attributes.runtime = kShortTurnNanos;
    return syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

void sleepMillis(uint32_t milliseconds) noexcept {
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0) {
        // interrupted by a signal: sleep the rest
    }
}

}  // namespace platform
