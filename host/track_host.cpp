#include "host/track_host.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/regular_file.h"
#include "platform/shared_mutex.h"
#include "platform/stop_request.h"
#include "platform/thread.h"

namespace host {

namespace {

// How often the main thread looks at the devices while it waits for a stop
// request (which wakes it at once) or the end of --seconds (which it waits
// for exactly). It shares a core with the device threads: every wake-up
// takes a little from them.
constexpr uint64_t kWaitSliceMillis = 250;
// A device with trackers that writes none for this long is reported.
constexpr uint64_t kSilenceReportMillis = 5000;

// How often a thread that waits for another one looks.
constexpr uint32_t kPollMillis = 10;

// What the set-up thread has come to.
enum SetUpState : int { kSettingUp, kSetUpDone, kSetUpRefused };

bool readConfigurationFile(const std::string& path, std::string& text, std::string& reason) {
    platform::FileStatus status = platform::readRegularFile(path.c_str(), kMaxConfigBytes, text);
    char buffer[128];
    switch (status.result) {
        case platform::FileResult::Ok: return true;
        case platform::FileResult::NotRegular: reason = "it is not a regular file"; return false;
        case platform::FileResult::TooLarge:
            reason = "it is larger than 1 MiB (" + std::to_string(status.size) + " bytes)";
            return false;
        case platform::FileResult::Failed: break;
    }
    reason = platform::systemErrorText(status.systemCode, buffer, sizeof buffer);
    return false;
}

// "3", "0.5": seconds as the user wrote them, in every locale.
std::string secondsText(double seconds) {
    char buffer[32];
    auto [end, code] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    return code == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string folderOf(const std::string& path) {
    size_t slash = platform::lastPathSeparator(path);
    if (slash == std::string::npos) {
        return "";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// "1-3" for ids first..last, "none" when the range is empty.
std::string idRange(uint32_t before, uint32_t after) {
    if (after <= before) {
        return "none";
    }
    if (after == before + 1) {
        return std::to_string(after);
    }
    return std::to_string(before + 1) + "-" + std::to_string(after);
}

}  // namespace

TrackHost::TrackHost(const HostOptions& options) : options_(options) {
    logger_.setName("trackhost");
    logger_.debugLevel = options.debugLevel;
}

TrackHost::~TrackHost() { shutDown(); }

void TrackHost::refuse(int lineNumber, const std::string& message) const {
    std::string where = options_.configPath;
    if (lineNumber > 0) {
        where += ":" + std::to_string(lineNumber);
    }
    std::fflush(stdout);  // keep the module's lines before the refusal
    std::fprintf(stderr, "trackhost: %s: %s\n", where.c_str(), message.c_str());
}

int TrackHost::run() {
    hostconfig::HostConfig config;
    if (!readConfiguration(config) || !createStorage(config)) {
        return kExitRefused;
    }
    moduleStorages_ = std::make_unique<storage::ModuleStorages>(storage_.base(), &logger_);
    if (!setUpDevices(config)) {
        shutDown();
        return kExitRefused;
    }
    // A stop requested during set-up ends the run before it starts.
    if (!stopRequested_.load()) {
        startDevices();
        waitForEnd();
        stopDevices();
    }
    shutDown();
    return kExitOk;
}

uint64_t TrackHost::graceMillis() const noexcept { return static_cast<uint64_t>(options_.graceSeconds * 1000.0 + 0.5); }

bool TrackHost::readConfiguration(hostconfig::HostConfig& config) {
    std::string text;
    std::string reason;
    if (!readConfigurationFile(options_.configPath, text, reason)) {
        refuse(0, "cannot read the configuration file: " + reason);
        return false;
    }
    hostconfig::ParseResult parsed = hostconfig::parseHostConfig(text, folderOf(options_.configPath));
    for (const hostconfig::ConfigError& error : parsed.errors) {
        refuse(error.lineNumber, error.message);
    }
    config = std::move(parsed.config);  // --check goes on with what was read
    return parsed.errors.empty();
}

bool TrackHost::createStorage(const hostconfig::HostConfig& config) {
    storage::CreateResult result = storage_.create(config.storage);
    switch (result.outcome) {
        case storage::CreateOutcome::Created: break;
        case storage::CreateOutcome::HeldByRunningHost:
            refuse(config.storageLine,
                   "storage \"" + config.storage + "\" is held by a running host" +
                       (result.holderProcessId != 0 ? " (process " + std::to_string(result.holderProcessId) + ")"
                                                    : std::string()));
            return false;
        case storage::CreateOutcome::Failed: refuse(config.storageLine, result.message); return false;
    }
    if (result.staleProcessId != 0) {
        logger_.infof("took over storage \"%s\" left behind by ended process %u\n", config.storage.c_str(),
                      static_cast<unsigned>(result.staleProcessId));
    }
    logger_.infof("storage \"%s\" ready (%u bytes, process %u)\n", config.storage.c_str(),
                  static_cast<unsigned>(storage::kTotalSize), static_cast<unsigned>(storage_.header()->hostProcessId));
    return true;
}

// One device after the other in file order (which gives the storage ids),
// on a thread of its own: a module's configure may wait for a controller
// that does not answer, and the main thread must keep hearing stop requests.
bool TrackHost::setUpDevices(const hostconfig::HostConfig& config) {
    devices_.reserve(config.devices.size());
    std::atomic<int> state{kSettingUp};
    std::atomic<size_t> current{0};
    std::thread worker([&] {
        bool ok = true;
        try {
            for (size_t i = 0; ok && i < config.devices.size() && !stopRequested_.load(); ++i) {
                current.store(i);
                ok = setUpDevice(config.devices[i], static_cast<uint32_t>(i + 1));
            }
        } catch (const std::exception& failure) {
            refuse(config.devices[current.load()].lineNumber, std::string("unexpected failure: ") + failure.what());
            ok = false;
        }
        state.store(ok ? kSetUpDone : kSetUpRefused);
    });
    uint64_t deadline = 0;
    while (state.load() == kSettingUp) {
        if (deadline == 0) {
            if (platform::waitStopRequest(kPollMillis)) {
                logger_.infof("stop requested\n");
                stopRequested_.store(true);
                deadline = platform::monotonicMillis() + graceMillis();
            }
        } else if (platform::monotonicMillis() >= deadline) {
            logger_.errorf("device \"%s\" did not finish its set-up within %s s\n",
                           config.devices[current.load()].name.c_str(), secondsText(options_.graceSeconds).c_str());
            abandon();
        } else {
            platform::sleepMillis(kPollMillis);
        }
    }
    worker.join();
    return state.load() == kSetUpDone;
}

// Load, create and configure one device.
bool TrackHost::setUpDevice(const hostconfig::DeviceSection& section, uint32_t deviceNumber) {
    HostedDevice hosted;
    hosted.config = std::make_unique<hostconfig::DeviceConfigRecord>(section, deviceNumber);
    hosted.library = std::make_unique<ModuleLibrary>();
    std::string reason;
    if (!hosted.library->load(section.libraryPath, reason)) {
        refuse(section.lineNumber, "device \"" + section.name + "\": " + reason);
        return false;
    }
    hosted.device = hosted.library->createDev(hosted.config->record(), &logger_);
    if (hosted.device == nullptr) {
        refuse(section.lineNumber, "device \"" + section.name + "\": the module could not create it");
        return false;
    }
    // Keep it listed from here on, so that a refusal below still deletes it.
    devices_.push_back(std::move(hosted));
    HostedDevice& device = devices_.back();

    storage::StorageHeader* header = storage_.header();
    uint32_t trackersBefore = platform::atomicLoad(header->trackerCount);
    uint32_t controllersBefore = platform::atomicLoad(header->controllerCount);
    InitInfo info = moduleStorages_->initInfo();
    if (device.device->init(&info) != 1) {
        refuse(section.lineNumber,
               "device \"" + section.name + "\": the module refused its configuration (see its messages above)");
        return false;
    }
    uint32_t trackersAfter = platform::atomicLoad(header->trackerCount);
    device.trackers = trackersAfter > trackersBefore ? trackersAfter - trackersBefore : 0;
    logger_.infof("device \"%s\" (%s): trackers %s, controllers %s\n", section.name.c_str(), section.library.c_str(),
                  idRange(trackersBefore, trackersAfter).c_str(),
                  idRange(controllersBefore, platform::atomicLoad(header->controllerCount)).c_str());
    reportUnusedLines(*device.config);
    return true;
}

// Every reader of a line marks it used; a line nobody took is most often a
// misspelled keyword, which would otherwise be ignored without a word.
void TrackHost::reportUnusedLines(hostconfig::DeviceConfigRecord& config) const {
    const DeviceConfig* record = config.record();
    for (uint32_t i = 0; i < record->numLines; ++i) {
        const ConfigLine& line = record->lines[i];
        if (line.used == 0) {
            logger_.infof("device \"%s\": line %d (\"%s\") was not read by the module; is it spelt right?\n",
                          record->name, line.lineNumber, line.keyword);
        }
    }
}

// Each device starts, measures and stops on its own thread.
void TrackHost::startDevices() {
    storage::UpdateCounters* counters = storage::countersOf(storage_.base());
    for (HostedDevice& hosted : devices_) {
        uint64_t silence = hosted.trackers > 0 ? kSilenceReportMillis : 0;
        hosted.runner = std::make_unique<DeviceRunner>(hosted.device, hosted.config->section().name, counters,
                                                       options_.cycles, silence, stopRequested_, logger_);
        hosted.runner->start();
    }
    started_ = true;
    logger_.infof("running %u device(s); Ctrl-C stops\n", static_cast<unsigned>(devices_.size()));
}

void TrackHost::waitForEnd() {
    uint64_t started = platform::monotonicMillis();
    // At least 1 ms: 0 would mean no limit at all.
    uint64_t limit = options_.seconds > 0.0 ? static_cast<uint64_t>(options_.seconds * 1000.0 + 0.5) : 0;
    limit = options_.seconds > 0.0 && limit == 0 ? 1 : limit;
    for (;;) {
        uint64_t slice = kWaitSliceMillis;
        if (limit != 0) {
            const uint64_t elapsed = platform::monotonicMillis() - started;
            if (elapsed >= limit) {
                return;
            }
            slice = std::min(slice, limit - elapsed);
        }
        if (platform::waitStopRequest(static_cast<uint32_t>(slice))) {
            logger_.infof("stop requested\n");
            return;
        }
        bool allFinished = true;
        for (const HostedDevice& hosted : devices_) {
            allFinished = allFinished && hosted.runner->finished();
        }
        if (allFinished) {
            return;
        }
    }
}

// Every device gets the grace period to stop; one that has not stopped by
// then (a controller that never answers, a module stuck in a call) is left
// behind rather than holding the host.
void TrackHost::stopDevices() {
    stopRequested_.store(true);
    uint64_t deadline = platform::monotonicMillis() + graceMillis();
    bool allStopped = true;
    for (HostedDevice& hosted : devices_) {
        if (!hosted.runner->joinBy(deadline)) {
            logger_.errorf("device \"%s\" did not stop within %s s\n", hosted.runner->name().c_str(),
                           secondsText(options_.graceSeconds).c_str());
            allStopped = false;
        }
    }
    if (!allStopped) {
        abandon();
    }
}

// A thread is still inside a module, so neither the device nor its library
// may be touched: the storage is withdrawn from the readers and the process
// ends at once, without running any destructor.
void TrackHost::abandon() {
    std::string name = storage_.name();
    storage_.withdraw();
    logger_.errorf("ending without waiting longer; storage \"%s\" removed\n", name.c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    platform::endProcessNow(kExitAbandoned);
}

// Safe to call more than once and at any stage of set-up; by now every
// device thread has ended.
void TrackHost::shutDown() noexcept {
    stopRequested_.store(true);
    uint64_t cycles = 0;
    for (HostedDevice& hosted : devices_) {
        if (hosted.runner) {
            hosted.runner->join();
            cycles += hosted.runner->cycles();
        }
        hosted.runner.reset();
        hosted.library->deleteDev(hosted.device);
        hosted.device = nullptr;
    }
    devices_.clear();  // unloads the libraries after every device is gone
    moduleStorages_.reset();
    if (storage_.isCreated()) {
        std::string name = storage_.name();
        storage_.remove();
        if (started_) {
            logger_.infof("stopped after %llu cycle(s); storage \"%s\" removed\n",
                          static_cast<unsigned long long>(cycles), name.c_str());
        }
    }
}

}  // namespace host
