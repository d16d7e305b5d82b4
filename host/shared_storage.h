#pragma once
// The host's side of the shared storage: creates it (refusing a name that a
// running host holds), sets up the header and the two list mutexes, and
// removes it again.
#include <cstdint>
#include <string>

#include "host/storage_layout.h"
#include "platform/shared_memory.h"

namespace storage {

enum class CreateOutcome {
    Created,
    HeldByRunningHost,  // holderProcessId tells which
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

    // Destroys the mutexes, unmaps and removes the name (only when this
    // object created it and the name still shows our storage).
    void remove() noexcept;

    bool isCreated() const noexcept { return memory_.address != nullptr; }
    void* base() noexcept { return memory_.address; }
    StorageHeader* header() noexcept { return headerOf(memory_.address); }
    const std::string& name() const noexcept { return name_; }

private:
    bool initialise();

    platform::SharedMemory memory_;
    std::string name_;
};

}  // namespace storage
