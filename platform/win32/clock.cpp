#include "platform/clock.h"

#include <sys/timeb.h>
#include <time.h>
#include <windows.h>

namespace platform {

// One call gives the time, the milliseconds, the standard-time difference
// (minutes west) and the daylight-saving flag of the same moment; the 64-bit
// form keeps working after 2038.
ClockReading readClock() noexcept {
    __timeb64 now{};
    _ftime64(&now);
    ClockReading reading{};
    reading.seconds = static_cast<int64_t>(now.time);
    reading.milliseconds = static_cast<uint16_t>(now.millitm % 1000);
    reading.minutesWest = static_cast<int16_t>(now.timezone);
    reading.daylightSaving = static_cast<int16_t>(now.dstflag != 0 ? 1 : 0);
    return reading;
}

uint64_t monotonicNanos() noexcept {
    // Both calls only read memory the system keeps up to date; the division
    // is split so that the product cannot overflow after years of uptime.
    LARGE_INTEGER rate{};
    LARGE_INTEGER counter{};
    QueryPerformanceFrequency(&rate);
    QueryPerformanceCounter(&counter);
    const uint64_t frequency = rate.QuadPart > 0 ? static_cast<uint64_t>(rate.QuadPart) : 1u;
    const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
    return ticks / frequency * 1000000000ull + ticks % frequency * 1000000000ull / frequency;
}

uint64_t monotonicMillis() noexcept { return monotonicNanos() / 1000000ull; }

bool toLocalTime(std::time_t seconds, std::tm& local) noexcept {
    const __time64_t wide = seconds;
    return _localtime64_s(&local, &wide) == 0;
}

}  // namespace platform
