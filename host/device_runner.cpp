#include "host/device_runner.h"

#include "framework/records.h"
#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace host {

namespace {
// A module whose cycle keeps failing is reported at most this often.
constexpr uint64_t kFailureReportMillis = 5000;
// How often a host that waits for the thread to end looks.
constexpr uint32_t kPollMillis = 10;
}  // namespace

void DeviceRunner::start() {
    thread_ = std::thread([this] { run(); });
}

void DeviceRunner::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool DeviceRunner::joinBy(uint64_t deadlineMillis) {
    while (!finished() && platform::monotonicMillis() < deadlineMillis) {
        platform::sleepMillis(kPollMillis);
    }
    if (!finished()) {
        return false;
    }
    join();
    return true;
}

void DeviceRunner::run() noexcept {
    // The module gives up the processor at the start of every update; with
    // long turns a busy program on the same core then keeps this thread
    // from the next frame for the rest of its own turn, and frames are lost.
    platform::preferShortTurns();
    // A stop requested before the device started needs neither call.
    if (!stopRequested_.load()) {
        if (!device_->start()) {
            logger_.errorf("device \"%s\": start failed; measuring anyway in case data arrives\n", name_.c_str());
        }
        measure();
        if (!device_->stop()) {
            logger_.errorf("device \"%s\": stop failed\n", name_.c_str());
        }
    }
    finished_.store(true);
}

void DeviceRunner::measure() noexcept {
    uint64_t done = 0;
    lastTrackerWrite_ = platform::monotonicMillis();
    while (!stopRequested_.load() && (maxCycles_ == 0 || done < maxCycles_)) {
        // The host owns the masks; a module clears only the kinds it has.
        UpdateMasks masks{0, 0};
        int result = device_->recvData(&masks, 0);
        countUpdates(masks);
        watchTrackerWrites(masks.trackerMask != 0);
        ++done;
        cycles_.store(done);
        if (result != 1) {
            reportFailedCycle();
            // A module that fails at once must not spin a core.
            platform::sleepMillis(1);
        }
    }
}

void DeviceRunner::countUpdates(const UpdateMasks& masks) noexcept {
    // Only the bits that are set: most cycles write a few records.
    for (uint32_t bits = records::fromBE32(masks.trackerMask); bits != 0; bits &= bits - 1) {
        platform::atomicIncrement(counters_->trackers[__builtin_ctz(bits)]);
    }
    for (uint32_t bits = records::fromBE32(masks.controllerMask); bits != 0; bits &= bits - 1) {
        platform::atomicIncrement(counters_->controllers[__builtin_ctz(bits)]);
    }
}

void DeviceRunner::watchTrackerWrites(bool wroteTracker) noexcept {
    uint64_t now = platform::monotonicMillis();
    if (wroteTracker) {
        if (silenceReported_) {
            logger_.infof("device \"%s\": writes tracker records again\n", name_.c_str());
            silenceReported_ = false;
        }
        lastTrackerWrite_ = now;
    } else if (silenceMillis_ != 0 && !silenceReported_ && now - lastTrackerWrite_ >= silenceMillis_) {
        logger_.errorf("device \"%s\": no tracker record written in the last %llu s; are frames arriving?\n",
                       name_.c_str(), static_cast<unsigned long long>(silenceMillis_ / 1000));
        silenceReported_ = true;
    }
}

void DeviceRunner::reportFailedCycle() noexcept {
    ++failedSinceReport_;
    uint64_t now = platform::monotonicMillis();
    if (lastFailureReport_ != 0 && now - lastFailureReport_ < kFailureReportMillis) {
        return;
    }
    logger_.errorf("device \"%s\": %llu measurement cycle(s) failed\n", name_.c_str(),
                   static_cast<unsigned long long>(failedSinceReport_));
    lastFailureReport_ = now;
    failedSinceReport_ = 0;
}

}  // namespace host
