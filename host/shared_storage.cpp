#include "host/shared_storage.h"

#include <cstring>

#include "platform/atomic.h"
#include "platform/process.h"
#include "platform/shared_mutex.h"
#include "platform/thread.h"

namespace storage {

namespace {

// What lies under a name that exclusive creation found taken.
enum class Occupant { RunningHost, EndedHost, Unknown, Gone };

// A host writes its magic last; one that is still setting up gets this long.
constexpr uint32_t kSetUpWaitMillis = 1000;
constexpr uint32_t kSetUpPollMillis = 20;

Occupant inspectOccupant(const std::string& name, uint32_t& processId, std::string& detail) {
    for (uint32_t waited = 0;; waited += kSetUpPollMillis) {
        platform::SharedMemory view;
        platform::SharedMemoryStatus status = platform::openSharedMemory(name.c_str(), false, view);
        if (status.result == platform::SharedMemoryResult::NotFound) {
            return Occupant::Gone;
        }
        if (status.result != platform::SharedMemoryResult::Ok) {
            char text[128];
            detail = platform::systemErrorText(status.systemCode, text, sizeof text);
            return Occupant::Unknown;
        }
        bool complete = view.size >= sizeof(StorageHeader) &&
                        std::memcmp(headerOf(view.address)->magic, kMagic, sizeof kMagic) == 0;
        if (complete) {
            platform::atomicFence();
            processId = platform::atomicLoad(headerOf(view.address)->hostProcessId);
        }
        platform::unmapSharedMemory(view);
        if (complete) {
            return platform::processExists(processId) ? Occupant::RunningHost : Occupant::EndedHost;
        }
        if (waited >= kSetUpWaitMillis) {
            detail = "it is not a trackhost storage";
            return Occupant::Unknown;
        }
        platform::sleepMillis(kSetUpPollMillis);
    }
}

}  // namespace

CreateResult SharedStorage::create(const std::string& name) {
    remove();
    if (!isValidName(name.c_str())) {
        return {CreateOutcome::Failed, 0, 0, "invalid storage name \"" + name + "\""};
    }
    name_ = name;
    uint32_t ended = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::SharedMemoryStatus status = platform::createSharedMemory(name_.c_str(), kTotalSize, memory_);
        if (status.result == platform::SharedMemoryResult::Ok) {
            if (!initialise()) {
                platform::unmapSharedMemory(memory_);
                platform::removeSharedMemory(name_.c_str());
                return {CreateOutcome::Failed, 0, 0, "cannot set up the locks of storage \"" + name_ + "\""};
            }
            return {CreateOutcome::Created, 0, ended, {}};
        }
        char text[128];
        if (status.result != platform::SharedMemoryResult::AlreadyExists) {
            return {CreateOutcome::Failed, 0, 0,
                    "cannot create storage \"" + name_ + "\": " +
                        platform::systemErrorText(status.systemCode, text, sizeof text)};
        }
        uint32_t processId = 0;
        std::string detail;
        switch (inspectOccupant(name_, processId, detail)) {
        case Occupant::RunningHost:
            return {CreateOutcome::HeldByRunningHost, processId, 0, {}};
        case Occupant::EndedHost: {
            // Left behind by a host that ended without removing it: take it
            // over, unless it belongs to a user whose objects we may not remove.
            ended = processId;
            platform::SharedMemoryStatus removed = platform::removeSharedMemory(name_.c_str());
            if (removed.result != platform::SharedMemoryResult::Ok &&
                removed.result != platform::SharedMemoryResult::NotFound) {
                return {CreateOutcome::Failed, 0, 0,
                        "storage \"" + name_ + "\" was left behind by ended process " + std::to_string(processId) +
                            " and cannot be removed (" +
                            platform::systemErrorText(removed.systemCode, text, sizeof text) +
                            "); remove it as its owner (on Linux: /dev/shm/" + name_ + ")"};
            }
            break;
        }
        case Occupant::Unknown:
            return {CreateOutcome::Failed, 0, 0,
                    "storage name \"" + name_ + "\" is taken (" + detail +
                        "); remove it if nothing uses it (on Linux: /dev/shm/" + name_ + ")"};
        case Occupant::Gone:
            break;  // removed meanwhile: try again
        }
    }
    return {CreateOutcome::Failed, 0, 0, "storage name \"" + name_ + "\" keeps changing hands"};
}

bool SharedStorage::initialise() {
    void* base = memory_.address;
    StorageHeader* header = headerOf(base);
    header->layoutVersion = kLayoutVersion;
    header->headerSize = kHeaderSize;
    header->trackerCapacity = kCapacity;
    header->controllerCapacity = kCapacity;
    header->trackerOffset = kTrackerOffset;
    header->controllerOffset = kControllerOffset;
    header->hostProcessId = platform::currentProcessId();
    header->countersOffset = kCountersOffset;
    header->mutexOffset = kMutexOffset;
    header->totalSize = kTotalSize;
    if (!platform::createSharedMutex(*trackerMutexOf(base))) {
        return false;
    }
    if (!platform::createSharedMutex(*controllerMutexOf(base))) {
        platform::destroySharedMutex(*trackerMutexOf(base));
        return false;
    }
    // Record i always carries id i, also before its first write.
    for (uint32_t i = 0; i < kCapacity; ++i) {
        trackersOf(base)[i].setId(i + 1);
        controllersOf(base)[i].setId(i + 1);
    }
    // The magic last: whoever sees it sees a complete storage.
    platform::atomicFence();
    std::memcpy(header->magic, kMagic, sizeof kMagic);
    return true;
}

void SharedStorage::remove() noexcept {
    if (memory_.address == nullptr) {
        return;
    }
    void* base = memory_.address;
    // Readers that still map the storage see at once that no host holds it.
    platform::atomicStore(headerOf(base)->hostProcessId, 0);
    platform::destroySharedMutex(*trackerMutexOf(base));
    platform::destroySharedMutex(*controllerMutexOf(base));
    platform::unmapSharedMemory(memory_);
    // Remove the name only while it still shows this host's storage.
    platform::SharedMemory view;
    if (platform::openSharedMemory(name_.c_str(), false, view).result == platform::SharedMemoryResult::Ok) {
        // Ours is marked ended (0); a successor's shows its own process.
        bool ours = view.size >= sizeof(StorageHeader) && headerOf(view.address)->hostProcessId == 0;
        platform::unmapSharedMemory(view);
        if (ours) {
            platform::removeSharedMemory(name_.c_str());
        }
    }
}

}  // namespace storage
