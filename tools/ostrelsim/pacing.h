#pragma once
// Steady pacing against the monotonic clock. Every due time is computed
// from the frame's number and the start, never by adding up periods or by
// sleeping a fixed step, so rounding and wake-up delays do not accumulate:
// after an hour the frame count is still the rate times the hour.
#include <cstdint>

namespace ostrelsim {

class Controller;

// Falling this far behind (a suspended machine, a stopped debugger) starts
// the schedule afresh instead of sending the missed frames in a burst.
constexpr uint64_t kFallBehindLimitNanos = 500000000;

class FrameSchedule {
public:
    FrameSchedule(uint64_t startNanos, double rateHz) noexcept : start_(startNanos), rateHz_(rateHz) {}

    // Frame k is due at start + k / rate.
    uint64_t dueNanos(uint64_t frame) const noexcept;
    double secondsOf(uint64_t frame) const noexcept { return static_cast<double>(frame) / rateHz_; }

    // The frame to send after sentFrame when the clock reads now: the next
    // one, or, when that is more than kFallBehindLimitNanos overdue, the
    // newest frame that is due (the skipped numbers are never sent).
    uint64_t nextFrame(uint64_t sentFrame, uint64_t nowNanos) const noexcept;

private:
    uint64_t start_;
    double rateHz_;
};

// Waits until the monotonic clock reaches dueNanos, serving the controller's
// commands meanwhile when there is one. False when the user asked to stop
// (Ctrl-C or a termination request).
bool waitUntil(uint64_t dueNanos, Controller* controller);

// True once the user asked to stop; does not wait.
bool stopRequested();

}  // namespace ostrelsim
