#pragma once
// A reader's side of the shared storage: attaches to a running host's
// storage by name and copies records out of it, either under the list locks
// (as the monitor does) or without them by the sequence rule (as a reader
// that cannot take the locks must).
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
    AccessDenied,  // the storage exists but this user may not use it
};

class StorageReader {
public:
    StorageReader() = default;
    StorageReader(const StorageReader&) = delete;
    StorageReader& operator=(const StorageReader&) = delete;
    ~StorageReader() { detach(); }

    // `writable` is needed to take the locks; lock-free reading works without.
    AttachOutcome attach(const std::string& name, bool writable = true);
    void detach() noexcept;

    bool isAttached() const noexcept { return memory_.address != nullptr; }
    // Whether the list locks can be taken (attached for writing).
    bool canLock() const noexcept { return isAttached() && writable_; }
    // False once the host that created the storage has ended.
    bool hostAlive() const noexcept;
    uint32_t hostProcessId() const noexcept;
    const std::string& name() const noexcept { return name_; }

    // Copies of every record in use, each taken under its list's lock, one
    // record per lock. False when a lock could not be taken.
    bool copyTrackers(std::vector<TraData>& records);
    bool copyControllers(std::vector<ConData>& records);

    // Lock-free copies of a whole list by the sequence rule: the copy counts
    // when the list's sequence was even before it and unchanged after it.
    // Gives up after `maxAttempts` torn copies (returns false). `attempts`
    // tells how many copies it took.
    bool copyTrackersBySequence(std::vector<TraData>& records, uint32_t maxAttempts, uint32_t& attempts) const;
    bool copyControllersBySequence(std::vector<ConData>& records, uint32_t maxAttempts, uint32_t& attempts) const;

    UpdateCounters readCounters() const noexcept;

private:
    platform::SharedMemory memory_;
    std::string name_;
    bool writable_ = false;
};

}  // namespace storage
