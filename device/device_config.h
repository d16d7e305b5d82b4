#pragma once
// The device's own configuration keywords, read from the host's
// configuration lines into the device's fields. No I/O here: the caller
// logs the faults (each names its line) and marks the accepted lines used.
#include <cstddef>
#include <cstdint>

#include "device/device_fields.h"
#include "framework/host_records.h"

namespace device_config {

constexpr uint32_t kMaxStandardBodies = 32;
constexpr uint32_t kMaxTrackers = 32;
constexpr uint32_t kMinPort = 1025;
constexpr uint32_t kMaxPort = 65535;

enum class KeywordFault {
    ArgumentCount,
    PortNumber,
    StandardBodies,
    Gripwands,
    MeasurementTools,
    CaveCoordinates,
    BufferSize,
    MulticastGroup,    // not a dotted multicast address
    InterfaceAddress,  // not a dotted IPv4 address
    OutOfMemory,       // a text of the line could not be copied
};

// The printf format of a fault's message; its one %d takes the line number.
const char* faultFormat(KeywordFault fault) noexcept;

struct LineFault {
    int32_t lineNumber;
    KeywordFault fault;
};

struct KeywordReport {
    LineFault faults[DeviceConfig::kMaxLines];
    uint32_t faultCount = 0;
    // Lines that passed (whatever their keyword), by index into lines[].
    bool accepted[DeviceConfig::kMaxLines] = {};

    bool failed() const noexcept { return faultCount != 0; }
};

// Reads every line in order into fields. Each faulty line is reported once
// and the reading goes on, so all faults are known after one pass. A
// rejected count or port is not taken over, so the cycle never sees one
// (only "remote" keeps its host when its port is refused).
KeywordReport readDeviceKeywords(const DeviceConfig& config, DeviceFields& fields) noexcept;

// Keyword `index` (0-based) of the device's own lines (case significant);
// null past the last.
const char* deviceKeyword(size_t index) noexcept;

// A keyword's number, read like atoi: leading blanks and a sign, decimal
// digits up to the first other character, 0 without digits. Out-of-range
// values saturate instead of overflowing.
int32_t readKeywordInteger(const char* text) noexcept;

// Trackers: standard bodies, Gripwands and measurement tools; controllers:
// Gripwands and measurement tools. Local numbering: Gripwands first, then
// tools, then standard bodies.
uint32_t trackerCount(const DeviceFields& fields) noexcept;
uint32_t controllerCount(const DeviceFields& fields) noexcept;

// How the tracking client is built from the fields.
struct ClientParameters {
    bool dataOnly;     // true: only the data port matters
    const char* host;  // the fields' text: valid while they live
    uint16_t serverPort;
    uint16_t dataPort;
    int32_t remoteKind;  // 0 none, 1 UDP commands, 2 TCP commands
    int32_t bufferSize;
    int32_t dataTimeoutMicros;
    int32_t commandTimeoutMicros;
    uint32_t multicastGroup;  // 0: frames come to the data port only
    uint32_t multicastInterface;
};

constexpr uint16_t kDefaultCommandPort = 50105;
constexpr int32_t kDefaultBufferSize = 32768;
constexpr int32_t kDataTimeoutMicros = 1000000;
constexpr int32_t kCommandTimeoutMicros = 10000000;

ClientParameters clientParameters(const DeviceFields& fields) noexcept;

}  // namespace device_config
