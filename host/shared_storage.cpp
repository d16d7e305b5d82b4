#include "host/shared_storage.h"

#include <cstring>

#include "platform/atomic.h"
#include "platform/process.h"
#include "platform/shared_mutex.h"

namespace storage {

namespace {

// What lies under a name that exclusive creation found taken, seen while
// holding the name's lock: a storage there belongs to a host that is gone.
enum class Occupant { EndedHost, Unknown, Gone };

struct OccupantFacts {
    Occupant kind = Occupant::Gone;
    uint32_t processId = 0;  // EndedHost: the host that left it
    uint32_t owner = 0;
    std::string detail;  // Unknown: what it is
};

OccupantFacts inspectOccupant(const std::string& name) {
    OccupantFacts facts;
    platform::SharedMemory view;
    platform::SharedMemoryStatus status = platform::openSharedMemory(name.c_str(), false, view);
    if (status.result == platform::SharedMemoryResult::NotFound) {
        return facts;
    }
    facts.kind = Occupant::Unknown;
    if (status.result == platform::SharedMemoryResult::NotSharedMemory) {
        facts.detail = "it is not a shared memory object";
        facts.owner = platform::currentUserId();  // nothing to say about its owner
        return facts;
    }
    if (status.result != platform::SharedMemoryResult::Ok) {
        char text[128];
        facts.detail = platform::systemErrorText(status.systemCode, text, sizeof text);
        facts.owner = platform::currentUserId();
        return facts;
    }
    facts.owner = view.ownerUser;
    bool complete =
        view.size >= sizeof(StorageHeader) && std::memcmp(headerOf(view.address)->magic, kMagic, sizeof kMagic) == 0;
    if (complete) {
        platform::atomicFence();
        facts.kind = Occupant::EndedHost;
        facts.processId = platform::atomicLoad(headerOf(view.address)->hostProcessId);
    } else {
        facts.detail = "it is not a trackhost storage";
    }
    platform::unmapSharedMemory(view);
    return facts;
}

CreateResult failed(std::string message) { return {CreateOutcome::Failed, 0, 0, std::move(message)}; }

// The running host named in the storage, for a lock that keeps no holder
// (Windows); 0 when it is not known or not running.
uint32_t runningHostOf(const std::string& name) noexcept {
    platform::SharedMemory view;
    if (platform::openSharedMemory(name.c_str(), false, view).result != platform::SharedMemoryResult::Ok) {
        return 0;
    }
    uint32_t host = 0;
    if (view.size >= sizeof(StorageHeader) && std::memcmp(headerOf(view.address)->magic, kMagic, sizeof kMagic) == 0) {
        platform::atomicFence();
        host = platform::atomicLoad(headerOf(view.address)->hostProcessId);
    }
    platform::unmapSharedMemory(view);
    return platform::processExists(host) ? host : 0;
}

}  // namespace

CreateResult SharedStorage::create(const std::string& name) {
    remove();
    if (!isValidName(name.c_str())) {
        return failed("invalid storage name \"" + name + "\"");
    }
    name_ = name;
    platform::InstanceLockStatus locked = platform::acquireInstanceLock(name_.c_str(), lock_);
    char text[128];
    switch (locked.result) {
        case platform::InstanceLockResult::Acquired: break;
        case platform::InstanceLockResult::Held: {
            uint32_t holder = locked.holderProcessId != 0 ? locked.holderProcessId : runningHostOf(name_);
            return {CreateOutcome::HeldByRunningHost, holder, 0, {}};
        }
        case platform::InstanceLockResult::NotALock:
            return failed("the lock of storage \"" + name_ +
                          "\" is taken by something else; remove it if nothing uses it (" +
                          platform::sharedMemoryPlace((name_ + "~lock").c_str()) + ")");
        case platform::InstanceLockResult::Failed:
            return failed("cannot take the lock of storage \"" + name_ +
                          "\": " + platform::systemErrorText(locked.systemCode, text, sizeof text));
    }
    CreateResult result = createUnderLock();
    if (result.outcome != CreateOutcome::Created) {
        platform::releaseInstanceLock(name_.c_str(), lock_);
    }
    return result;
}

CreateResult SharedStorage::createUnderLock() {
    char text[128];
    uint32_t ended = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::SharedMemoryStatus status = platform::createSharedMemory(name_.c_str(), kTotalSize, memory_);
        if (status.result == platform::SharedMemoryResult::Ok) {
            if (!initialise()) {
                platform::unmapSharedMemory(memory_);
                platform::removeSharedMemory(name_.c_str());
                return failed("cannot set up the locks of storage \"" + name_ + "\"");
            }
            return {CreateOutcome::Created, 0, ended, {}};
        }
        if (status.result != platform::SharedMemoryResult::AlreadyExists) {
            return failed("cannot create storage \"" + name_ +
                          "\": " + platform::systemErrorText(status.systemCode, text, sizeof text));
        }
        OccupantFacts occupant = inspectOccupant(name_);
        const std::string where = " (" + platform::sharedMemoryPlace(name_.c_str()) + ")";
        if (occupant.kind != Occupant::Gone && occupant.owner != platform::currentUserId()) {
            // Never take over what someone else made, whatever it claims to be.
            return failed("storage name \"" + name_ + "\" is taken by an object of another user (user " +
                          platform::userName(occupant.owner) + "); remove it if nothing uses it" + where);
        }
        if (occupant.kind == Occupant::Unknown) {
            return failed("storage name \"" + name_ + "\" is taken (" + occupant.detail +
                          "); remove it if nothing uses it" + where);
        }
        if (occupant.kind == Occupant::EndedHost) {
            ended = occupant.processId;
            platform::SharedMemoryStatus removed = platform::removeSharedMemory(name_.c_str());
            if (removed.result == platform::SharedMemoryResult::InUse) {
                return reuseUnderLock(ended);
            }
            if (removed.result != platform::SharedMemoryResult::Ok &&
                removed.result != platform::SharedMemoryResult::NotFound) {
                return failed("storage \"" + name_ + "\" was left behind by ended process " + std::to_string(ended) +
                              " and cannot be removed (" +
                              platform::systemErrorText(removed.systemCode, text, sizeof text) +
                              "); remove it as its owner" + where);
            }
        }
    }
    return failed("storage name \"" + name_ + "\" keeps changing hands");
}

// Where a storage cannot be removed while a reader still maps it (Windows),
// the host that holds the name takes the block over in place. A reader that
// copies meanwhile sees the host's process id change (or a torn copy, which
// its sequence check discards).
CreateResult SharedStorage::reuseUnderLock(uint32_t ended) {
    platform::SharedMemoryStatus status = platform::openSharedMemory(name_.c_str(), true, memory_);
    if (status.result != platform::SharedMemoryResult::Ok || memory_.size < kTotalSize) {
        platform::unmapSharedMemory(memory_);
        char text[128];
        return failed("storage \"" + name_ + "\" was left behind by ended process " + std::to_string(ended) +
                      " and cannot be taken over (" + platform::systemErrorText(status.systemCode, text, sizeof text) +
                      ")");
    }
    std::memset(memory_.address, 0, kTotalSize);
    if (!initialise()) {
        platform::unmapSharedMemory(memory_);
        return failed("cannot set up the locks of storage \"" + name_ + "\"");
    }
    return {CreateOutcome::Created, 0, ended, {}};
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
    if (memory_.address != nullptr) {
        void* base = memory_.address;
        // Readers that still map the storage see at once that no host holds it.
        platform::atomicStore(headerOf(base)->hostProcessId, 0);
        platform::destroySharedMutex(*trackerMutexOf(base));
        platform::destroySharedMutex(*controllerMutexOf(base));
        platform::unmapSharedMemory(memory_);
        // The name is ours while we hold its lock.
        platform::removeSharedMemory(name_.c_str());
    }
    platform::releaseInstanceLock(name_.c_str(), lock_);
}

void SharedStorage::withdraw() noexcept {
    if (memory_.address != nullptr) {
        platform::atomicStore(headerOf(memory_.address)->hostProcessId, 0);
        platform::removeSharedMemory(name_.c_str());
        memory_ = platform::SharedMemory{};  // stays mapped until the process ends
    }
    platform::releaseInstanceLock(name_.c_str(), lock_);
}

}  // namespace storage
