#pragma once
// The host's shared storage as the module meets it, for tests, tools and
// benchmarks: both record lists, their count and sequence words and their
// inter-process mutexes in one area, seen through the framework's
// CDataStorage; and the big-endian words of a record, as a reader decodes them.
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "framework/data_storage.h"
#include "framework/host_records.h"
#include "framework/records.h"
#include "platform/shared_mutex.h"
#include "tests/support/host_records.h"

namespace test_support {

struct SharedArea {
    TraData trackers[CDataStorage::kMaxRecords];
    ConData controllers[CDataStorage::kMaxRecords];
    uint32_t trackerCount;
    uint32_t controllerCount;
    uint32_t trackerSequence;  // odd while the list is locked
    uint32_t controllerSequence;
    platform::SharedMutex trackerMutex;
    platform::SharedMutex controllerMutex;
};

// Sets the area up in the memory given (a shared mapping where other
// processes read it). Like the host's, record i carries id i.
inline SharedArea* prepareSharedArea(void* memory) {
    std::memset(memory, 0, sizeof(SharedArea));
    auto* area = static_cast<SharedArea*>(memory);
    if (!platform::createSharedMutex(area->trackerMutex) || !platform::createSharedMutex(area->controllerMutex)) {
        throw std::runtime_error("shared mutex set-up failed");
    }
    for (uint32_t i = 0; i < CDataStorage::kMaxRecords; ++i) {
        area->trackers[i].setId(i + 1);
        area->controllers[i].setId(i + 1);
    }
    return area;
}

class SharedStorage {
public:
    // Without memory from the caller the area lives in this process alone.
    explicit SharedStorage(void* memory = nullptr)
        : own_(memory == nullptr ? new SharedArea : nullptr), area(prepareSharedArea(memory ? memory : own_.get())),
          trackerMutex(&area->trackerMutex, &hostLog, &area->trackerSequence),
          controllerMutex(&area->controllerMutex, &hostLog, &area->controllerSequence),
          trackerStorage(area->trackers, nullptr, &hostLog, &trackerMutex, &area->trackerCount),
          controllerStorage(nullptr, area->controllers, &hostLog, &controllerMutex, &area->controllerCount) {}
    ~SharedStorage() {
        platform::destroySharedMutex(area->trackerMutex);
        platform::destroySharedMutex(area->controllerMutex);
    }
    SharedStorage(const SharedStorage&) = delete;
    SharedStorage& operator=(const SharedStorage&) = delete;

    InitInfo initInfo() {
        InitInfo info{};
        info.trackerStorage = &trackerStorage;
        info.controllerStorage = &controllerStorage;
        return info;
    }
    TraData& tracker(uint32_t id) { return area->trackers[id - 1]; }
    ConData& controller(uint32_t id) { return area->controllers[id - 1]; }

    std::unique_ptr<SharedArea> own_;
    SharedArea* area;
    CLogH hostLog = quietLogger("HOST");
    CMutexH trackerMutex;
    CMutexH controllerMutex;
    CDataStorage trackerStorage;
    CDataStorage controllerStorage;
};

// The big-endian word at a byte offset, plain or as a signed fixed-point value.
inline uint32_t wordAt(const void* record, size_t offset) {
    const auto* p = static_cast<const unsigned char*>(record) + offset;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline int32_t fixedAt(const void* record, size_t offset) { return static_cast<int32_t>(wordAt(record, offset)); }
inline std::vector<uint32_t> wordsAt(const void* record, size_t offset, size_t count) {
    std::vector<uint32_t> words;
    for (size_t i = 0; i < count; ++i) words.push_back(wordAt(record, offset + 4 * i));
    return words;
}
inline std::vector<int32_t> fixedWordsAt(const void* record, size_t offset, size_t count) {
    std::vector<int32_t> values;
    for (size_t i = 0; i < count; ++i) values.push_back(fixedAt(record, offset + 4 * i));
    return values;
}
// A network-order mask word as a plain bit set (bit id - 1).
inline uint32_t maskBits(uint32_t storedMask) { return wordAt(&storedMask, 0); }
// Whether button b (1-based) of a controller record is pressed.
inline bool pressed(const ConData& record, int b) { return (record.buttonBits[(b - 1) / 8] >> ((b - 1) % 8)) & 1; }

}  // namespace test_support
