#include "tools/ostrelsim/pacing.h"

#include <cmath>

#include "platform/clock.h"
#include "platform/server_socket.h"
#include "platform/stop_request.h"
#include "tools/ostrelsim/controller.h"

namespace ostrelsim {

namespace {

// Longest single wait, so that a stop request is noticed quickly.
constexpr uint64_t kWaitSliceNanos = 50000000;
constexpr uint64_t kNever = UINT64_MAX;
constexpr uint64_t kOneSecond = 1000000000ull;

// origin + offset, or kNever when that does not fit the clock.
uint64_t saturatedSum(uint64_t origin, long double offset) noexcept {
    if (!(offset < static_cast<long double>(kNever - origin))) {
        return kNever;
    }
    return origin + static_cast<uint64_t>(offset);
}

}  // namespace

uint64_t FrameSchedule::dueNanos(uint64_t frame) const noexcept {
    long double offset = static_cast<long double>(frame) * 1e9L / static_cast<long double>(rateHz_);
    return saturatedSum(start_, std::nearbyint(offset));
}

uint64_t replayDueNanos(uint64_t originNanos, uint64_t recordedNanos, double speed) noexcept {
    return saturatedSum(originNanos, static_cast<long double>(recordedNanos) / static_cast<long double>(speed));
}

uint64_t loopPeriodNanos(uint64_t spanNanos, uint64_t datagrams) noexcept {
    if (spanNanos == 0 || datagrams < 2) {
        return kOneSecond;
    }
    uint64_t meanInterval = spanNanos / (datagrams - 1);
    return spanNanos > kNever - meanInterval ? kNever : spanNanos + meanInterval;
}

uint64_t FrameSchedule::nextFrame(uint64_t sentFrame, uint64_t nowNanos) const noexcept {
    uint64_t next = sentFrame + 1;
    if (nowNanos <= dueNanos(next) + kFallBehindLimitNanos) {
        return next;
    }
    long double elapsed = static_cast<long double>(nowNanos - start_) * static_cast<long double>(rateHz_) / 1e9L;
    uint64_t newest = static_cast<uint64_t>(elapsed);
    return newest > next ? newest : next;
}

bool stopRequested() { return platform::waitStopRequest(0); }

bool waitUntil(uint64_t dueNanos, Controller* controller) {
    for (;;) {
        if (stopRequested()) {
            return false;
        }
        uint64_t now = platform::monotonicNanos();
        if (now >= dueNanos) {
            return true;
        }
        uint64_t slice = dueNanos - now < kWaitSliceNanos ? dueNanos - now : kWaitSliceNanos;
        // Rounded up to whole microseconds: waking early only costs a loop.
        auto micros = static_cast<int32_t>((slice + 999) / 1000);
        if (controller != nullptr) {
            controller->serve(micros);
        } else {
            platform::waitReadable(nullptr, 0, nullptr, micros);
        }
    }
}

}  // namespace ostrelsim
