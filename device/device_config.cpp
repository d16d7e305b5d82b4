#include "device/device_config.h"

#include <cstdint>
#include <cstring>

namespace device_config {
namespace {

const char* argument(const ConfigLine& line, int index) noexcept {
    const char* text = line.args[index];
    return text == nullptr ? "" : text;
}

bool isKeyword(const ConfigLine& line, const char* keyword) noexcept {
    return line.keyword != nullptr && std::strcmp(line.keyword, keyword) == 0;
}

// Ports and counts are checked as unsigned numbers: negative values fail.
bool inRange(int32_t value, uint32_t low, uint32_t high) noexcept {
    const uint32_t asUnsigned = static_cast<uint32_t>(value);
    return asUnsigned >= low && asUnsigned <= high;
}

// The checks of one line; returns false with the fault of the first
// failing check. Only valid values reach the settings.
bool readLine(const ConfigLine& line, DeviceSettings& settings, KeywordFault& fault) {
    const int32_t count = line.argCount;
    auto wrongCount = [&fault]() {
        fault = KeywordFault::ArgumentCount;
        return false;
    };
    auto rejected = [&fault](KeywordFault which) {
        fault = which;
        return false;
    };
    if (isKeyword(line, "port")) {
        if (count != 1) return wrongCount();
        const int32_t port = readDecimal(argument(line, 0));
        if (!inRange(port, kMinPort, kMaxPort)) return rejected(KeywordFault::PortNumber);
        settings.dataPort = static_cast<uint16_t>(port);
    } else if (isKeyword(line, "remote")) {
        if (count != 1 && count != 2) return wrongCount();
        settings.remoteControl = true;
        settings.remoteHost = argument(line, 0);
        settings.remotePort = 0;
        if (count == 2) {
            const int32_t port = readDecimal(argument(line, 1));
            if (!inRange(port, kMinPort, kMaxPort)) return rejected(KeywordFault::PortNumber);
            settings.remotePort = static_cast<uint16_t>(port);
        }
    } else if (isKeyword(line, "standardbodies")) {
        if (count != 1) return wrongCount();
        const int32_t bodies = readDecimal(argument(line, 0));
        if (!inRange(bodies, 0, kMaxStandardBodies)) return rejected(KeywordFault::StandardBodies);
        settings.numStandardBodies = bodies;
    } else if (isKeyword(line, "gripwands")) {
        if (count != 1) return wrongCount();
        const int32_t wands = readDecimal(argument(line, 0));
        if (!inRange(wands, 0, kMaxGripwands)) return rejected(KeywordFault::Gripwands);
        settings.numGripwands = static_cast<uint32_t>(wands);
    } else if (isKeyword(line, "measurementtools")) {
        if (count != 1) return wrongCount();
        const int32_t tools = readDecimal(argument(line, 0));
        if (!inRange(tools, 0, kMaxMeasurementTools)) return rejected(KeywordFault::MeasurementTools);
        settings.numMeasurementTools = tools;
    } else if (isKeyword(line, "CAVECoordinates")) {
        if (count != 1) return wrongCount();
        if (std::strcmp(argument(line, 0), "yes") != 0) return rejected(KeywordFault::CaveCoordinates);
    } else if (isKeyword(line, "buffersize")) {
        if (count != 1) return wrongCount();
        const int32_t size = readDecimal(argument(line, 0));
        if (size < 1) return rejected(KeywordFault::BufferSize);
        settings.bufferSize = size;
    } else if (isKeyword(line, "debug")) {
        if (count != 1) return wrongCount();
        settings.debugFlags = static_cast<uint32_t>(readDecimal(argument(line, 0)));
    }
    return true;
}

}  // namespace

const char* faultFormat(KeywordFault fault) noexcept {
    switch (fault) {
        case KeywordFault::ArgumentCount: return "Invalid Number of Arguments on Line %d.\n";
        case KeywordFault::PortNumber: return "Invalid Port Number on Line %d.\n";
        case KeywordFault::StandardBodies: return "Invalid Number of Standard Bodies on Line %d.\n";
        case KeywordFault::Gripwands: return "Invalid Number of Gripwands on Line %d.\n";
        case KeywordFault::MeasurementTools: return "Invalid Number of Measurement Tools on Line %d.\n";
        case KeywordFault::CaveCoordinates: return "Only CAVELib Coordinates supported on Line %d.\n";
        case KeywordFault::BufferSize: return "Invalid Buffer Size on Line %d.\n";
    }
    return "Invalid Line %d.\n";
}

KeywordReport readDeviceKeywords(const DeviceConfig& config, DeviceSettings& settings) {
    KeywordReport report;
    const uint32_t lines = config.numLines < DeviceConfig::kMaxLines ? config.numLines : DeviceConfig::kMaxLines;
    for (uint32_t i = 0; i < lines; ++i) {
        const ConfigLine& line = config.lines[i];
        KeywordFault fault = KeywordFault::ArgumentCount;
        if (readLine(line, settings, fault)) {
            report.accepted[i] = true;
        } else {
            report.faults[report.faultCount++] = LineFault{line.lineNumber, fault};
        }
    }
    return report;
}

int32_t readDecimal(const char* text) noexcept {
    if (text == nullptr) return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Stop growing just past the int32 range; the sign decides the clamp.
    int64_t value = 0;
    constexpr int64_t kLimit = -static_cast<int64_t>(INT32_MIN);
    while (*text >= '0' && *text <= '9') {
        if (value <= kLimit) value = value * 10 + (*text - '0');
        ++text;
    }
    if (negative) return value >= kLimit ? INT32_MIN : static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

uint32_t trackerCount(const DeviceSettings& settings) noexcept {
    return static_cast<uint32_t>(settings.numStandardBodies) + settings.numGripwands +
           static_cast<uint32_t>(settings.numMeasurementTools);
}

uint32_t controllerCount(const DeviceSettings& settings) noexcept {
    return settings.numGripwands + static_cast<uint32_t>(settings.numMeasurementTools);
}

ClientParameters clientParameters(const DeviceSettings& settings) {
    ClientParameters p{};
    p.dataPort = settings.dataPort;
    p.dataTimeoutMicros = kDataTimeoutMicros;
    p.commandTimeoutMicros = kCommandTimeoutMicros;
    p.bufferSize = kDefaultBufferSize;
    if (!settings.remoteControl) {
        p.dataOnly = true;
        p.serverPort = 0;
        p.remoteKind = 0;
        return p;
    }
    p.dataOnly = false;
    p.host = settings.remoteHost;
    if (settings.remotePort == 0) {
        p.serverPort = kDefaultCommandPort;
        p.remoteKind = 2;
    } else {
        p.serverPort = settings.remotePort;
        p.remoteKind = 1;
    }
    if (settings.bufferSize != 0) p.bufferSize = settings.bufferSize;
    return p;
}

}  // namespace device_config
