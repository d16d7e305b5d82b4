#include "device/device_config.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "link/ipv4_text.h"
#include "platform/number_text.h"

namespace device_config {
namespace {

const char* argument(const ConfigLine& line, int index) noexcept {
    const char* text = line.args[index];
    return text == nullptr ? "" : text;
}

bool rejected(KeywordFault& fault, KeywordFault which) noexcept {
    fault = which;
    return false;
}

// Ports and counts are checked as unsigned numbers: negative values fail.
bool inRange(int32_t value, uint32_t low, uint32_t high) noexcept {
    const auto asUnsigned = static_cast<uint32_t>(value);
    return asUnsigned >= low && asUnsigned <= high;
}

// Only a valid number reaches its field.
template <auto Field, uint32_t kLow, uint32_t kHigh, KeywordFault kFault>
bool readNumber(const ConfigLine& line, DeviceFields& fields, KeywordFault& fault) noexcept {
    const int32_t value = readKeywordInteger(argument(line, 0));
    if (!inRange(value, kLow, kHigh)) return rejected(fault, kFault);
    fields.*Field = static_cast<std::remove_reference_t<decltype(fields.*Field)>>(value);
    return true;
}

// The host and the switch are taken before the port is looked at.
bool readRemote(const ConfigLine& line, DeviceFields& fields, KeywordFault& fault) noexcept {
    if (!fields.remoteHost.assign(argument(line, 0))) return rejected(fault, KeywordFault::OutOfMemory);
    fields.remoteControl = true;
    fields.remotePort = 0;
    if (line.argCount == 2) {
        const int32_t port = readKeywordInteger(argument(line, 1));
        if (!inRange(port, kMinPort, kMaxPort)) return rejected(fault, KeywordFault::PortNumber);
        fields.remotePort = static_cast<uint16_t>(port);
    }
    return true;
}

bool readCaveCoordinates(const ConfigLine& line, DeviceFields&, KeywordFault& fault) noexcept {
    return std::strcmp(argument(line, 0), "yes") == 0 || rejected(fault, KeywordFault::CaveCoordinates);
}

// Both addresses are checked before either is taken over.
bool readMulticast(const ConfigLine& line, DeviceFields& fields, KeywordFault& fault) noexcept {
    uint32_t group = 0;
    uint32_t local = 0;
    if (!ipv4text::readDottedQuad(argument(line, 0), group) || !ipv4text::isMulticast(group)) {
        return rejected(fault, KeywordFault::MulticastGroup);
    }
    if (line.argCount == 2 && !ipv4text::readDottedQuad(argument(line, 1), local)) {
        return rejected(fault, KeywordFault::InterfaceAddress);
    }
    fields.multicastGroup = group;
    fields.multicastInterface = local;
    return true;
}

bool readDebug(const ConfigLine& line, DeviceFields& fields, KeywordFault&) noexcept {
    fields.debugFlags = static_cast<uint32_t>(readKeywordInteger(argument(line, 0)));
    return true;
}

struct Keyword {
    const char* name;
    int32_t maxArgs;  // every keyword takes at least one argument
    bool (*read)(const ConfigLine& line, DeviceFields& fields, KeywordFault& fault) noexcept;
};

// Tested in this order, with case significant.
constexpr Keyword kKeywords[] = {
    {"port", 1, readNumber<&DeviceFields::dataPort, kMinPort, kMaxPort, KeywordFault::PortNumber>},
    {"remote", 2, readRemote},
    {"standardbodies", 1,
     readNumber<&DeviceFields::numStandardBodies, 0, kMaxStandardBodies, KeywordFault::StandardBodies>},
    {"gripwands", 1, readNumber<&DeviceFields::numGripwands, 0, kMaxGripwands, KeywordFault::Gripwands>},
    {"measurementtools", 1,
     readNumber<&DeviceFields::numMeasurementTools, 0, kMaxMeasurementTools, KeywordFault::MeasurementTools>},
    {"CAVECoordinates", 1, readCaveCoordinates},
    {"buffersize", 1, readNumber<&DeviceFields::bufferSize, 1, INT32_MAX, KeywordFault::BufferSize>},
    {"debug", 1, readDebug},
    {"multicast", 2, readMulticast},
};

// The checks of one line: the number of arguments first, then the value.
// Returns false with the fault of the first failing check.
bool readLine(const ConfigLine& line, DeviceFields& fields, KeywordFault& fault) noexcept {
    if (line.keyword == nullptr) return true;
    for (const Keyword& keyword : kKeywords) {
        if (std::strcmp(line.keyword, keyword.name) != 0) continue;
        if (line.argCount < 1 || line.argCount > keyword.maxArgs) return rejected(fault, KeywordFault::ArgumentCount);
        return keyword.read(line, fields, fault);
    }
    return true;  // not a device keyword: passes unchanged
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
        case KeywordFault::MulticastGroup: return "Invalid Multicast Group on Line %d.\n";
        case KeywordFault::InterfaceAddress: return "Invalid Interface Address on Line %d.\n";
        case KeywordFault::OutOfMemory: return "Out of memory on Line %d.\n";
    }
    return "Invalid Line %d.\n";
}

KeywordReport readDeviceKeywords(const DeviceConfig& config, DeviceFields& fields) noexcept {
    KeywordReport report;
    const uint32_t lines = config.numLines < DeviceConfig::kMaxLines ? config.numLines : DeviceConfig::kMaxLines;
    for (uint32_t i = 0; i < lines; ++i) {
        const ConfigLine& line = config.lines[i];
        KeywordFault fault = KeywordFault::ArgumentCount;
        if (readLine(line, fields, fault)) {
            report.accepted[i] = true;
        } else {
            report.faults[report.faultCount++] = LineFault{line.lineNumber, fault};
        }
    }
    return report;
}

const char* deviceKeyword(size_t index) noexcept {
    return index < std::size(kKeywords) ? kKeywords[index].name : nullptr;
}

int32_t readKeywordInteger(const char* text) noexcept {
    const platform::Scanned<int64_t> read = platform::scanInteger(text, nullptr, platform::IntegerBase::decimal);
    return static_cast<int32_t>(std::clamp<int64_t>(read.value, INT32_MIN, INT32_MAX));
}

uint32_t trackerCount(const DeviceFields& fields) noexcept {
    return static_cast<uint32_t>(fields.numStandardBodies) + controllerCount(fields);
}

uint32_t controllerCount(const DeviceFields& fields) noexcept {
    return fields.numGripwands + static_cast<uint32_t>(fields.numMeasurementTools);
}

ClientParameters clientParameters(const DeviceFields& fields) noexcept {
    ClientParameters p{};
    p.host = "";
    p.dataPort = fields.dataPort;
    p.dataTimeoutMicros = kDataTimeoutMicros;
    p.commandTimeoutMicros = kCommandTimeoutMicros;
    p.bufferSize = kDefaultBufferSize;
    p.multicastGroup = fields.multicastGroup;
    p.multicastInterface = fields.multicastInterface;
    if (!fields.remoteControl) {
        p.dataOnly = true;
        p.serverPort = 0;
        p.remoteKind = 0;
        return p;
    }
    p.dataOnly = false;
    p.host = fields.remoteHost.c_str();
    if (fields.remotePort == 0) {
        p.serverPort = kDefaultCommandPort;
        p.remoteKind = 2;
    } else {
        p.serverPort = fields.remotePort;
        p.remoteKind = 1;
    }
    if (fields.bufferSize != 0) p.bufferSize = fields.bufferSize;
    return p;
}

}  // namespace device_config
