#include "platform/thread.h"

#include <windows.h>

#include "platform/clock.h"

namespace platform {

uint32_t currentThreadId() noexcept { return static_cast<uint32_t>(GetCurrentThreadId()); }

void yieldProcessor() noexcept { Sleep(0); }

// The Windows scheduler has no per-thread turn length; it already favours a
// thread whose wait has just ended.
bool preferShortTurns() noexcept { return false; }

// Sleep may wake a tick early and treats 0xFFFFFFFF as "forever": sleep in
// pieces against the monotonic clock until the full time has passed.
void sleepMillis(uint32_t milliseconds) noexcept {
    const uint64_t deadline = monotonicNanos() + static_cast<uint64_t>(milliseconds) * 1000000ull;
    for (uint64_t now = monotonicNanos(); now < deadline; now = monotonicNanos()) {
        const uint64_t left = (deadline - now + 999999ull) / 1000000ull;
        Sleep(left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1);
    }
}

}  // namespace platform
