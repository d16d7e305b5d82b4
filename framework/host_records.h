#pragma once
// Records the host hands to a module: the device's configuration lines, the
// init-info words naming the two storages, and the per-cycle update masks.
// Their layout is shared with the host: fields stay in this order.
#include <cstddef>
#include <cstdint>

class CDataStorage;

struct ConfigLine {
    static constexpr int kMaxArgs = 64;
    int32_t lineNumber;   // line in the host's configuration file
    const char* keyword;  // first word of the line
    const char* args[kMaxArgs];
    int32_t argCount;
    uint8_t used;  // set to 1 by each consumer that accepted the line
};

struct DeviceConfig {
    static constexpr int kMaxLines = 32;
    uint32_t header;   // host business
    const char* name;  // device name
    ConfigLine lines[kMaxLines];
    uint32_t numLines;  // 0 to 32
};

// Twelve words: two storage pointers (pointer-sized on a 64-bit build), then
// ten 32-bit words that the module copies without interpreting.
struct InitInfo {
    static constexpr int kOpaqueWords = 10;
    CDataStorage* trackerStorage;
    CDataStorage* controllerStorage;
    uint32_t words[kOpaqueWords];  // words 2 to 11
};
// The 32-bit host hands twelve 32-bit words: the two storages, then words 2 to 11.
static_assert(sizeof(void*) != 4 || (sizeof(InitInfo) == 12 * 4 && offsetof(InitInfo, trackerStorage) == 0 &&
                                     offsetof(InitInfo, controllerStorage) == 4 && offsetof(InitInfo, words) == 8 &&
                                     offsetof(InitInfo, words[InitInfo::kOpaqueWords - 1]) == 11 * 4),
              "InitInfo is twelve 32-bit words on a 32-bit build");

// Two 32-bit masks in network byte order: bit (id - 1) set for every record
// written in the cycle. See markUpdated.
struct UpdateMasks {
    uint32_t trackerMask;
    uint32_t controllerMask;
};
