#pragma once
// A host's storage as a module meets it, in one area that other processes may share; a record's big-endian words.
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "framework/data_storage.h"
#include "tests/support/host_records.h"

namespace test_support {

struct SharedArea {
    TraData trackers[CDataStorage::kMaxRecords];
    ConData controllers[CDataStorage::kMaxRecords];
    uint32_t trackerCount, controllerCount;
    uint32_t trackerSequence, controllerSequence;  // odd while the list is locked
    platform::SharedMutex trackerMutex, controllerMutex;
};

class SharedStorage {
public:
    explicit SharedStorage(void* memory = nullptr)
        : own_(memory == nullptr ? new SharedArea : nullptr),
          area(prepared(memory != nullptr ? memory : own_.get())),
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
    InitInfo initInfo() { return InitInfo{&trackerStorage, &controllerStorage, {}}; }
    TraData& tracker(uint32_t id) { return area->trackers[id - 1]; }
    ConData& controller(uint32_t id) { return area->controllers[id - 1]; }

private:
    std::unique_ptr<SharedArea> own_;
    // Like the host's, record i carries id i.
    static SharedArea* prepared(void* memory) {
        auto* area = static_cast<SharedArea*>(std::memset(memory, 0, sizeof(SharedArea)));
        if (!platform::createSharedMutex(area->trackerMutex) || !platform::createSharedMutex(area->controllerMutex))
            throw std::runtime_error("shared mutex set-up failed");
        for (uint32_t i = 0; i < CDataStorage::kMaxRecords; ++i)
            area->trackers[i].setId(i + 1), area->controllers[i].setId(i + 1);
        return area;
    }

public:
    SharedArea* area;
    CLogH hostLog = quietLogger("HOST");
    CMutexH trackerMutex, controllerMutex;
    CDataStorage trackerStorage, controllerStorage;
};

// Big-endian words from a byte offset on, plain or signed; a stored mask as bits (id - 1).
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
    const std::vector<uint32_t> words = wordsAt(record, offset, count);
    return {words.begin(), words.end()};
}
inline uint32_t maskBits(uint32_t storedMask) { return wordAt(&storedMask, 0); }

}  // namespace test_support
