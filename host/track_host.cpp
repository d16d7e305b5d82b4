#include "host/track_host.h"

#include <cerrno>
#include <cstdio>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/shared_mutex.h"
#include "platform/stop_request.h"

namespace host {

namespace {

// How often the main thread looks at the clock and the devices while it
// waits for a stop request.
constexpr uint32_t kWaitSliceMillis = 50;
// A device with trackers that writes none for this long is reported.
constexpr uint64_t kSilenceReportMillis = 5000;

bool readWholeFile(const std::string& path, std::string& text, std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        char buffer[128];
        reason = platform::systemErrorText(errno, buffer, sizeof buffer);
        return false;
    }
    char chunk[4096];
    size_t got = 0;
    errno = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    int code = errno;  // a folder opens, and fails here
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        char buffer[128];
        reason = code != 0 ? platform::systemErrorText(code, buffer, sizeof buffer) : "read error";
    }
    return !failed;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
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
    devices_.reserve(config.devices.size());
    for (size_t i = 0; i < config.devices.size(); ++i) {
        if (!setUpDevice(config.devices[i], static_cast<uint32_t>(i + 1))) {
            shutDown();
            return kExitRefused;
        }
    }
    // A stop requested while the devices were being set up (a remote
    // controller that is slow to answer) ends the run before it starts.
    if (platform::waitStopRequest(0)) {
        logger_.infof("stop requested\n");
    } else {
        startDevices();
        waitForEnd();
    }
    shutDown();
    return kExitOk;
}

bool TrackHost::readConfiguration(hostconfig::HostConfig& config) {
    std::string text;
    std::string reason;
    if (!readWholeFile(options_.configPath, text, reason)) {
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
    case storage::CreateOutcome::Created:
        break;
    case storage::CreateOutcome::HeldByRunningHost:
        refuse(config.storageLine, "storage \"" + config.storage + "\" is held by a running host (process " +
                                       std::to_string(result.holderProcessId) + ")");
        return false;
    case storage::CreateOutcome::Failed:
        refuse(config.storageLine, result.message);
        return false;
    }
    if (result.staleProcessId != 0) {
        logger_.infof("took over storage \"%s\" left behind by ended process %u\n", config.storage.c_str(),
                      static_cast<unsigned>(result.staleProcessId));
    }
    logger_.infof("storage \"%s\" ready (%u bytes, process %u)\n", config.storage.c_str(),
                  static_cast<unsigned>(storage::kTotalSize),
                  static_cast<unsigned>(storage_.header()->hostProcessId));
    return true;
}

// Load, create and configure one device; file order gives the storage ids.
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
        refuse(section.lineNumber, "device \"" + section.name +
                                       "\": the module refused its configuration (see its messages above)");
        return false;
    }
    uint32_t trackersAfter = platform::atomicLoad(header->trackerCount);
    device.trackers = trackersAfter > trackersBefore ? trackersAfter - trackersBefore : 0;
    logger_.infof("device \"%s\" (%s): trackers %s, controllers %s\n", section.name.c_str(),
                  section.library.c_str(), idRange(trackersBefore, trackersAfter).c_str(),
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

void TrackHost::startDevices() {
    for (HostedDevice& hosted : devices_) {
        if (!hosted.device->start()) {
            logger_.errorf("device \"%s\": start failed; measuring anyway in case data arrives\n",
                           hosted.config->section().name.c_str());
        }
    }
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
    uint64_t limit = options_.seconds > 0.0 ? static_cast<uint64_t>(options_.seconds * 1000.0 + 0.5) : 0;
    for (;;) {
        if (platform::waitStopRequest(kWaitSliceMillis)) {
            logger_.infof("stop requested\n");
            return;
        }
        if (limit != 0 && platform::monotonicMillis() - started >= limit) {
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

// Safe to call more than once and at any stage of set-up.
void TrackHost::shutDown() noexcept {
    stopRequested_.store(true);
    for (HostedDevice& hosted : devices_) {
        if (hosted.runner) {
            hosted.runner->join();  // each ends within one data time-out
        }
    }
    for (HostedDevice& hosted : devices_) {
        if (hosted.runner && !hosted.device->stop()) {
            logger_.errorf("device \"%s\": stop failed\n", hosted.config->section().name.c_str());
        }
    }
    uint64_t cycles = 0;
    for (HostedDevice& hosted : devices_) {
        if (hosted.runner) {
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
