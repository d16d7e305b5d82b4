#include "host/storage_reader.h"

#include <cstring>

#include "platform/atomic.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace storage {

namespace {

bool layoutMatches(const platform::SharedMemory& memory) noexcept {
    if (memory.size < kTotalSize) {
        return false;
    }
    const StorageHeader* header = headerOf(memory.address);
    if (std::memcmp(header->magic, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    platform::atomicFence();  // the magic is written last
    return header->layoutVersion == kLayoutVersion && header->headerSize == kHeaderSize &&
           header->trackerCapacity == kCapacity && header->controllerCapacity == kCapacity &&
           header->trackerOffset == kTrackerOffset && header->controllerOffset == kControllerOffset &&
           header->countersOffset == kCountersOffset && header->mutexOffset == kMutexOffset;
}

uint32_t clampCount(uint32_t count) noexcept { return count > kCapacity ? kCapacity : count; }

template <typename Record>
bool copyBySequence(const uint32_t& sequence, const uint32_t& count, const Record* list, std::vector<Record>& records,
                    uint32_t maxAttempts) {
    for (uint32_t attempt = 1; attempt <= maxAttempts; ++attempt) {
        uint32_t before = platform::atomicLoad(sequence);
        if ((before & 1u) != 0) {
            platform::yieldProcessor();  // a writer holds the lock right now
            continue;
        }
        uint32_t n = clampCount(platform::atomicLoad(count));
        records.resize(n);
        // A writer may change the bytes during the copy; such a copy is
        // never used, because the sequence then differs below.
        if (n != 0) {  // an empty vector may have no buffer at all
            std::memcpy(static_cast<void*>(records.data()), list, n * sizeof(Record));
        }
        platform::atomicFence();
        if (platform::atomicLoad(sequence) == before) {
            return true;
        }
    }
    records.clear();
    return false;
}

}  // namespace

AttachOutcome StorageReader::attach(const std::string& name) {
    detach();
    name_ = name;
    platform::SharedMemoryStatus status = platform::openSharedMemory(name.c_str(), false, memory_);
    switch (status.result) {
        case platform::SharedMemoryResult::Ok: break;
        case platform::SharedMemoryResult::AccessDenied: return AttachOutcome::AccessDenied;
        case platform::SharedMemoryResult::NotFound: return AttachOutcome::NoHost;
        default: return AttachOutcome::NotAStorage;
    }
    if (memory_.address == nullptr) {
        return AttachOutcome::NoHost;  // a host is still setting it up
    }
    if (!layoutMatches(memory_)) {
        detach();
        return AttachOutcome::NotAStorage;
    }
    if (!hostAlive()) {
        detach();
        return AttachOutcome::NoHost;
    }
    return AttachOutcome::Attached;
}

void StorageReader::detach() noexcept { platform::unmapSharedMemory(memory_); }

uint32_t StorageReader::hostProcessId() const noexcept {
    return isAttached() ? platform::atomicLoad(headerOf(memory_.address)->hostProcessId) : 0;
}

bool StorageReader::hostAlive() const noexcept { return platform::processExists(hostProcessId()); }

bool StorageReader::copyTrackers(std::vector<TraData>& records, uint32_t maxAttempts) const {
    records.clear();
    if (!isAttached()) {
        return false;
    }
    const StorageHeader* header = headerOf(memory_.address);
    return copyBySequence(header->trackerSequence, header->trackerCount, trackersOf(memory_.address), records,
                          maxAttempts);
}

bool StorageReader::copyControllers(std::vector<ConData>& records, uint32_t maxAttempts) const {
    records.clear();
    if (!isAttached()) {
        return false;
    }
    const StorageHeader* header = headerOf(memory_.address);
    return copyBySequence(header->controllerSequence, header->controllerCount, controllersOf(memory_.address), records,
                          maxAttempts);
}

UpdateCounters StorageReader::readCounters() const noexcept {
    UpdateCounters counters{};
    if (isAttached()) {
        const UpdateCounters* shared = countersOf(memory_.address);
        for (uint32_t i = 0; i < kCapacity; ++i) {
            counters.trackers[i] = platform::atomicLoad(shared->trackers[i]);
            counters.controllers[i] = platform::atomicLoad(shared->controllers[i]);
        }
    }
    return counters;
}

}  // namespace storage
