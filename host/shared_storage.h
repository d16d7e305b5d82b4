#pragma once
// The host's side of the shared storage: creates it (refusing a name that a
// running host holds), sets up the header and the two list mutexes, and
// removes it again.
//
// Whether a host is alive is decided by the storage's instance lock, which
// the host holds for its whole life and the system releases however the
// host ends. Under that lock a block found at the name was left behind by a
// host that is gone, so two hosts started together cannot both take it over.
// Where a name cannot be removed while a reader maps the block (Windows),
// such a block is taken over in place.
#include <cstdint>
#include <string>

#include "host/storage_layout.h"
#include "platform/instance_lock.h"
#include "platform/shared_memory.h"

namespace storage {

enum class CreateOutcome {
    Created,
    HeldByRunningHost,  // holderProcessId tells which (0: not known)
    Failed,             // message tells why
};

struct CreateResult {
    CreateOutcome outcome;
    uint32_t holderProcessId;  // HeldByRunningHost only
    uint32_t staleProcessId;   // Created over the storage left by this ended host, or 0
    std::string message;       // Failed only
};

class SharedStorage {
public:
    SharedStorage() = default;
    SharedStorage(const SharedStorage&) = delete;
    SharedStorage& operator=(const SharedStorage&) = delete;
    ~SharedStorage() { remove(); }

    CreateResult create(const std::string& name);

    // Destroys the mutexes, unmaps, removes the name and releases the lock.
    void remove() noexcept;

    // For a host that ends while a module may still be inside a call: marks
    // the storage ended, removes its name and releases the lock, but leaves
    // the block mapped and its mutexes as they are, for the process's last
    // moments.
    void withdraw() noexcept;

    bool isCreated() const noexcept { return memory_.address != nullptr; }
    void* base() noexcept { return memory_.address; }
    StorageHeader* header() noexcept { return headerOf(memory_.address); }
    const std::string& name() const noexcept { return name_; }

private:
    CreateResult createUnderLock();
    CreateResult reuseUnderLock(uint32_t ended);
    bool initialise();

    platform::SharedMemory memory_;
    platform::InstanceLock lock_;
    std::string name_;
};

}  // namespace storage
