#pragma once
// The host's shared storage as the module meets it, for tests and
// benchmarks: both record lists, their count and sequence words and their
// inter-process mutexes in one area, seen through the framework's
// CDataStorage. Also the host's configuration lines and a quiet logger.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/data_storage.h"
#include "framework/host_records.h"
#include "framework/logger.h"
#include "framework/records.h"
#include "platform/shared_mutex.h"

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

// Sets the area up in the memory given: a shared mapping where other
// processes read it, otherwise any memory of the right size.
inline SharedArea* prepareSharedArea(void* memory) {
    if (memory == nullptr) throw std::runtime_error("no memory for the shared area");
    std::memset(memory, 0, sizeof(SharedArea));
    auto* area = static_cast<SharedArea*>(memory);
    if (!platform::createSharedMutex(area->trackerMutex) || !platform::createSharedMutex(area->controllerMutex)) {
        throw std::runtime_error("shared mutex set-up failed");
    }
    // Like the host: record i always carries id i.
    for (uint32_t i = 0; i < CDataStorage::kMaxRecords; ++i) {
        area->trackers[i].setId(i + 1);
        area->controllers[i].setId(i + 1);
    }
    return area;
}

// A logger whose lines start with its name: no date, time or thread id.
inline CLogH quietLogger(const char* name) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    return log;
}

// The host's configuration record of one device; the texts live here.
// Lines are numbered 3, 4, ... as in a host file with a two-line header.
class ConfigLines {
public:
    ConfigLines() { config_.name = "ostrel"; }
    ConfigLines& add(std::initializer_list<const char*> words) {
        auto& kept = texts_.emplace_back(words.begin(), words.end());
        ConfigLine& line = config_.lines[config_.numLines];
        line.lineNumber = static_cast<int32_t>(config_.numLines) + 3;
        ++config_.numLines;
        line.keyword = kept[0].c_str();
        for (size_t i = 1; i < kept.size(); ++i) line.args[line.argCount++] = kept[i].c_str();
        return *this;
    }
    DeviceConfig* config() { return &config_; }

private:
    DeviceConfig config_{};
    std::vector<std::vector<std::string>> texts_;
};

class SharedStorage {
public:
    // Without memory from the caller the area lives in this process alone.
    explicit SharedStorage(void* memory = nullptr)
        : ownMemory_(memory == nullptr ? new SharedArea : nullptr),
          area(prepareSharedArea(memory != nullptr ? memory : ownMemory_.get())), hostLog(quietLogger("HOST")),
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
    const TraData& tracker(uint32_t id) const { return area->trackers[id - 1]; }
    const ConData& controller(uint32_t id) const { return area->controllers[id - 1]; }
    TraData& tracker(uint32_t id) { return area->trackers[id - 1]; }

    std::unique_ptr<SharedArea> ownMemory_;  // when the caller handed in none
    SharedArea* area;
    CLogH hostLog;
    CMutexH trackerMutex;
    CMutexH controllerMutex;
    CDataStorage trackerStorage;
    CDataStorage controllerStorage;
};

// Big-endian word at a byte offset of a record, as a reader decodes it.
inline uint32_t wordAt(const void* record, size_t offset) {
    const auto* p = static_cast<const unsigned char*>(record) + offset;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline int32_t fixedAt(const void* record, size_t offset) { return static_cast<int32_t>(wordAt(record, offset)); }

// `count` words from a byte offset on: plain, or as signed fixed-point values.
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

// Network-order mask word as a plain bit set (bit id - 1).
inline uint32_t maskBits(uint32_t storedMask) {
    return wordAt(&storedMask, 0);
}

}  // namespace test_support
