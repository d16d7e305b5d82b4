#pragma once
// A reader's side of the shared storage: attaches to a running host's
// storage by name and copies records out of it by the sequence rule. It
// maps the storage for reading only and never takes the writers' locks, so
// no reader, however it is stopped or killed, can hold up a writer.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/records.h"
#include "host/storage_layout.h"
#include "platform/shared_memory.h"

namespace storage {

enum class AttachOutcome {
    Attached,
    NoHost,        // no storage of that name, or its host has ended
    NotAStorage,   // something else holds the name, or another layout version
    AccessDenied,  // the storage exists but this user may not read it
};

class StorageReader {
public:
    // Torn copies in a row before a copy gives up: only a writer that never
    // pauses keeps tearing them.
    static constexpr uint32_t kDefaultAttempts = 100000;

    StorageReader() = default;
    StorageReader(const StorageReader&) = delete;
    StorageReader& operator=(const StorageReader&) = delete;
    ~StorageReader() { detach(); }

    AttachOutcome attach(const std::string& name);
    void detach() noexcept;

    bool isAttached() const noexcept { return memory_.address != nullptr; }
    // False once the host that created the storage has ended.
    bool hostAlive() const noexcept;
    uint32_t hostProcessId() const noexcept;
    // The user who created the storage block.
    uint32_t ownerUser() const noexcept { return memory_.ownerUser; }
    const std::string& name() const noexcept { return name_; }

    // A copy of every record in use of one list, taken at one moment: it
    // counts when the list's sequence was even before it and unchanged after
    // it. False after maxAttempts torn copies.
    bool copyTrackers(std::vector<TraData>& records, uint32_t maxAttempts = kDefaultAttempts) const;
    bool copyControllers(std::vector<ConData>& records, uint32_t maxAttempts = kDefaultAttempts) const;

    UpdateCounters readCounters() const noexcept;

private:
    platform::SharedMemory memory_;
    std::string name_;
};

}  // namespace storage
