#pragma once
// One device's life on its own thread: start, then recvData over and over
// until the host asks it to stop or the cycle budget is spent, then stop.
// A device whose controller is slow to answer its start or stop command
// thus holds up only itself, and the host can give up waiting for it.
// After every cycle it counts the records the module wrote (the update
// masks) into the storage's update counters, and it says when tracker
// records stop coming (a tracking system that is off, or sends elsewhere)
// and when they resume.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "framework/base.h"
#include "framework/logger.h"
#include "host/storage_layout.h"

namespace host {

class DeviceRunner {
public:
    // maxCycles 0: no limit. silenceMillis: how long without a tracker
    // record written before it says so (0: never, for a device without
    // trackers). Everything passed in must outlive the runner.
    DeviceRunner(CBaseMod* device, std::string name, storage::UpdateCounters* counters, uint64_t maxCycles,
                 uint64_t silenceMillis, const std::atomic<bool>& stopRequested, const CLogH& logger)
        : device_(device),
          name_(std::move(name)),
          counters_(counters),
          maxCycles_(maxCycles),
          silenceMillis_(silenceMillis),
          stopRequested_(stopRequested),
          logger_(logger) {}
    DeviceRunner(const DeviceRunner&) = delete;
    DeviceRunner& operator=(const DeviceRunner&) = delete;
    ~DeviceRunner() { join(); }

    void start();
    void join();
    // Waits until the thread has ended, at most until the monotonic clock
    // reads deadlineMillis; true (and joined) when it ended.
    bool joinBy(uint64_t deadlineMillis);
    bool finished() const noexcept { return finished_.load(); }
    uint64_t cycles() const noexcept { return cycles_.load(); }
    const std::string& name() const noexcept { return name_; }

private:
    void run() noexcept;
    void measure() noexcept;
    void countUpdates(const UpdateMasks& masks) noexcept;
    void watchTrackerWrites(bool wroteTracker) noexcept;
    void reportFailedCycle() noexcept;

    CBaseMod* device_;
    std::string name_;
    storage::UpdateCounters* counters_;
    uint64_t maxCycles_;
    uint64_t silenceMillis_;
    const std::atomic<bool>& stopRequested_;
    CLogH logger_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> cycles_{0};
    uint64_t lastFailureReport_ = 0;
    uint64_t failedSinceReport_ = 0;
    uint64_t lastTrackerWrite_ = 0;
    bool silenceReported_ = false;
};

}  // namespace host
