#pragma once
// Wall clock and monotonic clock.
#include <cstdint>
#include <ctime>

namespace platform {

// One reading of the wall clock at millisecond resolution, with the time
// zone facts of the same moment (the records' time-stamp block needs all
// four from one reading).
struct ClockReading {
    int64_t seconds;         // since 1970-01-01 00:00 UTC
    uint16_t milliseconds;   // 0 to 999
    int16_t minutesWest;     // time-zone difference, minutes west of UTC
    int16_t daylightSaving;  // non-zero while daylight-saving time is in force
};

ClockReading readClock() noexcept;

// Milliseconds from an arbitrary fixed point; never goes backwards. For
// time-outs and pacing, never for record times.
uint64_t monotonicMillis() noexcept;

// Monotonic nanoseconds, for pacing at high rates.
uint64_t monotonicNanos() noexcept;

// Calendar time in the process's time zone (thread-safe); false when the
// time cannot be represented.
bool toLocalTime(std::time_t seconds, std::tm& local) noexcept;

}  // namespace platform
