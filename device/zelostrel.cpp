#include "device/zelostrel.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "device/device_config.h"
#include "device/device_info.h"
#include "device/pose_conversion.h"
#include "link/ostrel_sdk.h"
#include "platform/text.h"
#include "platform/thread.h"

using namespace device_config;

namespace {

constexpr uint32_t kMaxModuleRecords = 32;

// Debug bits of the "debug" keyword.
constexpr uint32_t kDebugTimeout = 1u << 0;
constexpr uint32_t kDebugBodies = 1u << 2;
constexpr uint32_t kDebugGripwands = 1u << 3;
constexpr uint32_t kDebugTools = 1u << 4;
constexpr uint32_t kDebugControllers = 1u << 5;

// A count as far as a table reaches; 0 for a count of 0 or below.
uint32_t tableCount(int64_t count, size_t slots) noexcept {
    return count <= 0                             ? 0
           : static_cast<uint64_t>(count) < slots ? static_cast<uint32_t>(count)
                                                  : static_cast<uint32_t>(slots);
}

// The first `count` entries of a record's table into a state table; the
// entries beyond keep their values.
template <class To, size_t kTo, class From, size_t kFrom>
void copyEntries(To (&to)[kTo], const From (&from)[kFrom], int32_t count) noexcept {
    const uint32_t n = tableCount(count, kTo < kFrom ? kTo : kFrom);
    for (uint32_t j = 0; j < n; ++j) {
        to[j] = static_cast<To>(from[j]);
    }
}

// Whether the device or one of the framework's handlers reads lines with
// this keyword.
bool someReaderKnows(const char* keyword) noexcept {
    for (size_t i = 0; const char* known = deviceKeyword(i); ++i) {
        if (std::strcmp(known, keyword) == 0) return true;
    }
    for (size_t i = 0; const char* known = CTraCommonH::optionKeyword(i); ++i) {
        if (platform::equalsIgnoreCase(known, keyword)) return true;
    }
    for (size_t i = 0; const char* known = CConCommonH::optionKeyword(i); ++i) {
        if (platform::equalsIgnoreCase(known, keyword)) return true;
    }
    return false;
}

}  // namespace

zelostrel::zelostrel(DeviceConfig* config, const CLogH* hostLogger) noexcept : CBaseMod(config, hostLogger) {}

zelostrel::~zelostrel() {
    // Closes the client's sockets; the tracking system is left as it is (a
    // host that wants it stopped calls stop first).
    client.reset();
}

int zelostrel::check() { return 1; }

// Reads the device keywords: every faulty line is reported (with its line
// number) before the result is known; lines that pass are marked used. As
// every line passes that is not a device keyword, a misspelt keyword would
// go unnoticed: a line that no reader knows is named, in line order.
bool zelostrel::readKeywords() {
    if (config == nullptr) {
        return true;  // no lines: the defaults stand
    }
    const KeywordReport report = readDeviceKeywords(*config, *this);
    const uint32_t lines = config->numLines < DeviceConfig::kMaxLines ? config->numLines : DeviceConfig::kMaxLines;
    uint32_t fault = 0;
    for (uint32_t i = 0; i < lines; ++i) {
        ConfigLine& line = config->lines[i];
        if (!report.accepted[i] && fault < report.faultCount) {
            logger->errorf(faultFormat(report.faults[fault].fault), report.faults[fault].lineNumber);
            ++fault;
        } else if (line.keyword != nullptr && !someReaderKnows(line.keyword)) {
            logger->infof("zelostrel: Unknown keyword \"%s\" on Line %d.\n", line.keyword, line.lineNumber);
        }
        if (report.accepted[i]) {
            line.used = 1;
        }
    }
    return !report.failed();
}

// Trackers 1..numGripwands are the Gripwands, then the measurement tools,
// then the standard bodies; controllers are the Gripwands, then the tools.
bool zelostrel::registerRecords() {
    if (!createHandlers()) {
        return false;
    }
    for (uint32_t t = 1; t <= numTrackers; ++t) {
        registerTracker(t, t);
    }
    for (uint32_t c = 1; c <= numGripwands; ++c) {
        registerController(c, c, kGripwandValuators, kControllerButtons);
    }
    for (uint32_t c = numGripwands + 1; c <= numControllers; ++c) {
        registerController(c, c, 0, kControllerButtons);
    }
    return buildStorageLists();
}

bool zelostrel::openClient() {
    client.reset();  // the old data socket frees the port first
    const ClientParameters p = clientParameters(*this);
    OstrelSDK* made = nullptr;
    if (p.dataOnly && p.multicastGroup == 0) {
        made = new (std::nothrow) OstrelSDK(p.dataPort);
    } else {
        // Without "remote" the parameters are those of the data-only form.
        made = new (std::nothrow) OstrelSDK(p.host, p.serverPort, p.dataPort, static_cast<RemoteKind>(p.remoteKind),
                                            p.bufferSize, p.dataTimeoutMicros, p.commandTimeoutMicros,
                                            MulticastJoin{p.multicastGroup, p.multicastInterface});
    }
    client.reset(made);
    if (!client || !client->hasDataSocket()) {
        logger->errorf("zelostrel: Cannot Initialize OstrelSDK.\n");
        logger->errorf("zelostrel: %s.\n", client ? client->failureReason() : "Out of memory for the tracking client");
        return false;
    }
    return true;
}

int zelostrel::init(InitInfo* info) {
    if (setInitInfo(info) == 0) {
        // Without the init info there are no storages to set up: stop here.
        std::fputs("Error: calling setInitInfo.\n", stderr);
        return -1;
    }
    maxTrackers = kMaxModuleRecords;
    maxControllers = kMaxModuleRecords;
    if (!readKeywords()) {
        return -1;
    }
    numTrackers = trackerCount(*this);
    numControllers = controllerCount(*this);
    if (numTrackers > maxTrackers) {
        logger->errorf("Invalid Number of Trackers (Standard Bodies + ...).\n");
        return -1;
    }
    if (!registerRecords()) {
        return -1;
    }
    printInfo();
    return openClient() ? 1 : -1;
}

// Without remote control the tracking system runs on its own: nothing to
// send, and the host may go on.
bool zelostrel::start() {
    return !remoteControl || commandSent(client && client->startTracking(), "zelostrel: Start measurement failed.\n");
}

bool zelostrel::stop() {
    return !remoteControl || commandSent(client && client->stopTracking(), "zelostrel: Stop measurement failed.\n");
}

// A failure is followed by its reason, in the system's words where it has
// them (host not found, connection refused, timed out...).
bool zelostrel::commandSent(bool sent, const char* failure) {
    if (!sent) {
        logger->errorf("%s", failure);
        logger->errorf("zelostrel: %s.\n",
                       client ? client->failureReason() : "No tracking client (configuration failed)");
    }
    return sent;
}

bool zelostrel::printInfo() {
    printName();
    device_info::printDeviceLines(*logger, *this);
    return printTail();
}

// Waits for the newest frame; false (reported) when there is none to use.
bool zelostrel::receiveFrame() {
    if (client && client->receiveFrame()) {
        return true;
    }
    // A device without a client behaves like a client without a data socket.
    const NetError error = client ? client->lastDataError() : NetError::Network;
    switch (error) {
        case NetError::Timeout:
            if (debugFlags & kDebugTimeout) {
                logger->infof("zelostrel: UDP Receive Timeout\n");
            }
            break;
        case NetError::Parse: logger->errorf("zelostrel: UDP Parser Error\n"); break;
        default: logger->errorf("zelostrel: UDP Receive Error.\n"); break;
    }
    return false;
}

void zelostrel::writePose(uint32_t local, const double loc[3], const double rot[9], bool show, const char* label) {
    float position[3];
    float orientation[3];
    pose_conversion::convertPose(loc, rot, position, orientation);
    writeTrackerData(local, position, orientation);
    if (show) {
        logger->infof("zelostrel: %s %d Loc %.3f %.3f %.3f Ang %.3f %.3f %.3f\n", label, static_cast<int>(local),
                      position[0], position[1], position[2], orientation[0], orientation[1], orientation[2]);
    }
}

int zelostrel::updateTrackers() {
    platform::yieldProcessor();
    if (!receiveFrame()) {
        return 1;  // nothing written: the storage keeps the last poses
    }
    // Ids are checked for both ends: a negative id must not index the
    // state tables or land on another source's tracker number.
    const uint32_t bodyBase = numGripwands + static_cast<uint32_t>(numMeasurementTools);
    const int32_t bodies = client->bodyCount();
    for (int32_t i = 0; i < bodies; ++i) {
        const BodyRecord* r = client->body(i);
        if (r != nullptr && r->id >= 0 && r->id < numStandardBodies && r->quality >= 0.0) {
            writePose(bodyBase + static_cast<uint32_t>(r->id) + 1, r->loc, r->rot, debugFlags & kDebugBodies,
                      "Standard Body");
        }
    }
    if (bodies == 0) {
        const int32_t inertials = client->inertialCount();
        for (int32_t i = 0; i < inertials; ++i) {
            const InertialRecord* r = client->inertial(i);
            if (r != nullptr && r->id >= 0 && r->id < numStandardBodies && r->state != 0) {
                writePose(bodyBase + static_cast<uint32_t>(r->id) + 1, r->loc, r->rot, debugFlags & kDebugBodies,
                          "Inertial Body");
            }
        }
    }
    updateGripwands();
    updateMeasurementTools();
    return 1;
}

// Buttons and joystick are taken whether or not the wand is tracked.
void zelostrel::updateGripwands() {
    const int32_t wands = client->gripwandCount();
    const int32_t configured = static_cast<int32_t>(tableCount(numGripwands, kMaxGripwands));
    for (int32_t i = 0; i < wands; ++i) {
        const GripwandRecord* r = client->gripwand(i);
        if (r == nullptr || r->id < 0 || r->id >= configured) {
            continue;
        }
        copyEntries(gripwandState[r->id].valuator, r->joystick, r->joystickCount);
        copyEntries(gripwandState[r->id].button, r->buttons, r->buttonCount);
        if (r->quality >= 0.0) {
            writePose(static_cast<uint32_t>(r->id) + 1, r->loc, r->rot, debugFlags & kDebugGripwands, "Gripwand");
        }
    }
}

void zelostrel::updateMeasurementTools() {
    const int32_t tools = client->measurementToolCount();
    const int32_t configured = static_cast<int32_t>(tableCount(numMeasurementTools, kMaxMeasurementTools));
    for (int32_t i = 0; i < tools; ++i) {
        const MeasurementToolRecord* r = client->measurementTool(i);
        if (r == nullptr || r->id < 0 || r->id >= configured) {
            continue;
        }
        copyEntries(measurementToolButtons[r->id], r->buttons, r->buttonCount);
        if (r->quality >= 0.0) {
            writePose(numGripwands + static_cast<uint32_t>(r->id) + 1, r->loc, r->rot, debugFlags & kDebugTools,
                      "Measurement Tool");
        }
    }
}

int zelostrel::updateControllers() {
    platform::yieldProcessor();
    const uint32_t wands = tableCount(numGripwands, kMaxGripwands);
    const uint32_t tools = tableCount(numMeasurementTools, kMaxMeasurementTools);
    for (uint32_t g = 0; g < wands; ++g) {
        writeControllerData(g + 1, kGripwandValuators, kControllerButtons, gripwandState[g].valuator,
                            gripwandState[g].button);
    }
    for (uint32_t m = 0; m < tools; ++m) {
        writeControllerData(numGripwands + m + 1, 0, kControllerButtons, nullptr, measurementToolButtons[m]);
    }
    if (debugFlags & kDebugControllers) {
        logger->infof("zelostrel: Controller grp %d %d mea %d %d\n", wands > 0 ? gripwandState[0].button[0] : 0,
                      wands > 1 ? gripwandState[1].button[0] : 0, tools > 0 ? measurementToolButtons[0][0] : 0,
                      tools > 1 ? measurementToolButtons[1][0] : 0);
    }
    return 1;
}
