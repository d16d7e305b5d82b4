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

// When a datagram recorded `recordedNanos` after the first one of a pass is
// due, replayed at `speed` from `originNanos`. Saturates: a gap too large
// for the clock (a damaged or crafted recording) waits for good instead of
// wrapping round to now.
uint64_t replayDueNanos(uint64_t originNanos, uint64_t recordedNanos, double speed) noexcept;

// How far apart the passes of a looped recording start: its span plus one
// mean interval, so the loop keeps the recording's rhythm. A recording with
// no time between its datagrams (one datagram, or all at one time) is
// repeated once a second, never as fast as the socket takes it.
uint64_t loopPeriodNanos(uint64_t spanNanos, uint64_t datagrams) noexcept;

// Waits until the monotonic clock reaches dueNanos, serving the controller's
// commands meanwhile when there is one. False when the user asked to stop
// (Ctrl-C or a termination request).
bool waitUntil(uint64_t dueNanos, Controller* controller);

// True once the user asked to stop; does not wait.
bool stopRequested();

}  // namespace ostrelsim
