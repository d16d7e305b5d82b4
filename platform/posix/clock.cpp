#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>

namespace platform {

ClockReading readClock() noexcept {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    ClockReading reading{};
    reading.seconds = static_cast<int64_t>(now.tv_sec);
    reading.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    struct tm local {};
    time_t seconds = now.tv_sec;
    if (localtime_r(&seconds, &local) != nullptr) {
        // tm_gmtoff is seconds east of UTC and already includes daylight saving;
        // the record wants the standard-time difference, minutes west.
        long east = local.tm_gmtoff - (local.tm_isdst > 0 ? 3600 : 0);
        reading.minutesWest = static_cast<int16_t>(-east / 60);
        reading.daylightSaving = static_cast<int16_t>(local.tm_isdst > 0 ? 1 : 0);
    }
    return reading;
}

uint64_t monotonicNanos() noexcept {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t monotonicMillis() noexcept { return monotonicNanos() / 1000000ull; }

bool toLocalTime(std::time_t seconds, std::tm& local) noexcept { return localtime_r(&seconds, &local) != nullptr; }

}  // namespace platform
