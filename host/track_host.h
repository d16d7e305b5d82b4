#pragma once
// The host daemon's life: read the configuration, create the storage, set
// up every device in file order, run each device (start, measurement
// cycles, stop) on its own thread until stopped, then delete and unload
// everything and remove the storage.
//
// A stop request is honoured within the grace period whatever a module
// does: set-up runs on a thread of its own too, and a device that has not
// stopped when the grace period is over is left behind; the host then
// removes the storage, names the device and ends at once.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "framework/logger.h"
#include "host/device_config_record.h"
#include "host/device_runner.h"
#include "host/host_config.h"
#include "host/host_options.h"
#include "host/module_library.h"
#include "host/module_storages.h"
#include "host/shared_storage.h"

namespace host {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitAbandoned = 1;    // a device did not stop in time, or an unexpected failure
constexpr int kExitRefused = 2;      // configuration, storage or module refused
constexpr int kExitCheckFailed = 1;  // --check found a fault

// Configuration files above this size are refused: a real one is a few
// kilobytes, and reading without a limit lets a wrong path exhaust memory.
constexpr size_t kMaxConfigBytes = 1024 * 1024;

class TrackHost {
public:
    explicit TrackHost(const HostOptions& options);
    TrackHost(const TrackHost&) = delete;
    TrackHost& operator=(const TrackHost&) = delete;
    ~TrackHost();

    // The whole life; returns the exit status (or ends the process itself
    // when a device did not stop in time).
    int run();
    // --check: reads the configuration and loads every module, reporting
    // each fault as run() would, but creates no storage and starts no
    // device. Returns kExitOk or kExitCheckFailed (config_check.cpp).
    int check();

private:
    struct HostedDevice {
        std::unique_ptr<hostconfig::DeviceConfigRecord> config;
        std::unique_ptr<ModuleLibrary> library;
        CBaseMod* device = nullptr;
        uint32_t trackers = 0;  // records it took in the tracker list
        std::unique_ptr<DeviceRunner> runner;
    };

    bool readConfiguration(hostconfig::HostConfig& config);
    bool createStorage(const hostconfig::HostConfig& config);
    bool setUpDevices(const hostconfig::HostConfig& config);
    bool setUpDevice(const hostconfig::DeviceSection& section, uint32_t deviceNumber);
    void reportUnusedLines(hostconfig::DeviceConfigRecord& config) const;
    void startDevices();
    void waitForEnd();
    void stopDevices();
    [[noreturn]] void abandon();
    void shutDown() noexcept;
    uint64_t graceMillis() const noexcept;

    // "trackhost: FILE:LINE: message" on the error stream; line 0 leaves it out.
    void refuse(int lineNumber, const std::string& message) const;

    HostOptions options_;
    CLogH logger_;
    storage::SharedStorage storage_;
    std::unique_ptr<storage::ModuleStorages> moduleStorages_;
    std::vector<HostedDevice> devices_;
    std::atomic<bool> stopRequested_{false};
    bool started_ = false;
};

}  // namespace host
