#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>

#include <initializer_list>

namespace platform {

namespace {

// Seconds east of UTC of the zone's standard time near a moment at which
// daylight-saving time is in force: the offset of the nearest moment
// without it, looking back and then ahead a year in steps of about a
// month. The shift is the zone's own (half an hour on Lord Howe Island),
// so it cannot be assumed.
long standardEastNear(time_t seconds, long currentEast) noexcept {
    constexpr time_t kStep = 30 * 86400;
    for (const int direction : {-1, 1}) {
        for (int step = 1; step <= 13; ++step) {
            const time_t probe = seconds + direction * step * kStep;
            struct tm other {};
            if (localtime_r(&probe, &other) != nullptr && other.tm_isdst == 0) {
                return other.tm_gmtoff;
            }
        }
    }
    return currentEast;  // daylight-saving time all year: it is the standard
}

// The search runs once per daylight-saving period and zone, not per reading.
struct StandardOffsetMemo {
    const char* zone = nullptr;  // the system's abbreviation text, compared by address
    long currentEast = 0;
    time_t day = 0;
    long standardEast = 0;
};
thread_local StandardOffsetMemo memo;

}  // namespace

bool zoneAt(std::time_t seconds, int16_t& minutesWest, int16_t& daylightSaving) noexcept {
    struct tm local {};
    if (localtime_r(&seconds, &local) == nullptr) {
        return false;
    }
    long standardEast = local.tm_gmtoff;
    if (local.tm_isdst > 0) {
        const time_t day = seconds / 86400;
        if (memo.zone != local.tm_zone || memo.currentEast != local.tm_gmtoff || memo.day != day) {
            memo = StandardOffsetMemo{local.tm_zone, local.tm_gmtoff, day, standardEastNear(seconds, local.tm_gmtoff)};
        }
        standardEast = memo.standardEast;
    }
    minutesWest = static_cast<int16_t>(-standardEast / 60);
    daylightSaving = static_cast<int16_t>(local.tm_isdst > 0 ? 1 : 0);
    return true;
}

namespace {

// A cycle stamps every record it writes, and the zone facts of one second
// are the same for all of them: the conversion runs once per second (and
// again at once when the process switches zones, which renames tzname).
struct ZoneMemo {
    time_t second = -1;
    const char* standardName = nullptr;
    const char* daylightName = nullptr;
    long standardWest = 0;
    bool valid = false;
    int16_t minutesWest = 0;
    int16_t daylightSaving = 0;
};
thread_local ZoneMemo zoneMemo;

}  // namespace

ClockReading readClock() noexcept {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    ClockReading reading{};
    reading.seconds = static_cast<int64_t>(now.tv_sec);
    reading.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    ZoneMemo& memo = zoneMemo;
    if (memo.second != now.tv_sec || memo.standardName != tzname[0] || memo.daylightName != tzname[1] ||
        memo.standardWest != timezone) {
        memo.second = now.tv_sec;
        memo.standardName = tzname[0];
        memo.daylightName = tzname[1];
        memo.standardWest = timezone;
        memo.valid = zoneAt(now.tv_sec, memo.minutesWest, memo.daylightSaving);
    }
    if (memo.valid) {
        reading.minutesWest = memo.minutesWest;
        reading.daylightSaving = memo.daylightSaving;
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
