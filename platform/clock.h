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

// The time-zone facts of a moment in the process's zone: the difference of
// the zone's standard time in minutes west of UTC (whatever the size of its
// daylight-saving shift), and 1 while daylight-saving time is in force,
// else 0. False (nothing written) when the moment cannot be converted.
bool zoneAt(std::time_t seconds, int16_t& minutesWest, int16_t& daylightSaving) noexcept;

// Milliseconds from an arbitrary fixed point; never goes backwards. For
// time-outs and pacing, never for record times.
uint64_t monotonicMillis() noexcept;

// Monotonic nanoseconds, for pacing at high rates.
uint64_t monotonicNanos() noexcept;

// Calendar time in the process's time zone (thread-safe); false when the
// time cannot be represented.
bool toLocalTime(std::time_t seconds, std::tm& local) noexcept;

}  // namespace platform
