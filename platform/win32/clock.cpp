#include "platform/clock.h"

#include <time.h>
#include <windows.h>

namespace platform {

// The time-zone facts come from the system, not from the C run-time's
// _ftime: that one follows a TZ variable when one is set, and reads a
// Unix-style value such as "Europe/Berlin" as UTC.
ClockReading readClock() noexcept {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    TIME_ZONE_INFORMATION zone{};
    const DWORD zoneState = GetTimeZoneInformation(&zone);
    // 100-ns ticks since 1601-01-01; the Unix epoch is 11644473600 s later.
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const uint64_t sinceEpoch = ticks - 116444736000000000ull;
    ClockReading reading{};
    reading.seconds = static_cast<int64_t>(sinceEpoch / 10000000u);
    reading.milliseconds = static_cast<uint16_t>(sinceEpoch / 10000u % 1000u);
    if (zoneState != TIME_ZONE_ID_INVALID) {
        // Standard time's difference, whether or not daylight saving is on.
        reading.minutesWest = static_cast<int16_t>(zone.Bias + zone.StandardBias);
        reading.daylightSaving = static_cast<int16_t>(zoneState == TIME_ZONE_ID_DAYLIGHT ? 1 : 0);
    }
    return reading;
}

// The zone's standard-time bias as the system keeps it; whether daylight
// saving is in force at that moment, by the system's rules: its local time
// then differs from standard time.
bool zoneAt(std::time_t seconds, int16_t& minutesWest, int16_t& daylightSaving) noexcept {
    constexpr int64_t kUnixEpochIn1601Seconds = 11644473600;
    TIME_ZONE_INFORMATION zone{};
    if (seconds < -kUnixEpochIn1601Seconds || GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) {
        return false;
    }
    const uint64_t ticks = static_cast<uint64_t>(seconds + kUnixEpochIn1601Seconds) * 10000000ull;
    FILETIME utcFile{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FILETIME localFile{};
    if (!FileTimeToSystemTime(&utcFile, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
        !SystemTimeToFileTime(&local, &localFile)) {
        return false;
    }
    const uint64_t localTicks = (static_cast<uint64_t>(localFile.dwHighDateTime) << 32) | localFile.dwLowDateTime;
    const int64_t eastMinutes = (static_cast<int64_t>(localTicks) - static_cast<int64_t>(ticks)) / 600000000;
    minutesWest = static_cast<int16_t>(zone.Bias + zone.StandardBias);
    daylightSaving = static_cast<int16_t>(-eastMinutes != minutesWest ? 1 : 0);
    return true;
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
