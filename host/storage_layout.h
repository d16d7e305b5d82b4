#pragma once
// The byte layout of the host's shared storage, shared by the host, the
// monitor and the tests. docs/storage.md describes the same bytes for
// readers in other languages; the two must never disagree.
//
//   0     header (64 bytes, host byte order)
//   64    update counters: 32 tracker words, then 32 controller words
//   320   the two list mutexes, 64 bytes each (host-private)
//   448   tracker records, 32 x 56 bytes
//   2240  controller records, 32 x 184 bytes
//   8128  end
#include <cstddef>
#include <cstdint>

#include "framework/records.h"
#include "platform/shared_mutex.h"

namespace storage {

constexpr char kMagic[8] = {'T', 'R', 'A', 'C', 'K', 'H', 'S', 'T'};
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kCapacity = 32;  // records per list
constexpr char kDefaultName[] = "trackhost";

struct StorageHeader {
    char magic[8];                // "TRACKHST", no terminator
    uint32_t layoutVersion;       // 1
    uint32_t headerSize;          // 64
    uint32_t trackerCapacity;     // 32
    uint32_t controllerCapacity;  // 32
    uint32_t trackerCount;        // records in use; changed under the tracker lock
    uint32_t controllerCount;     // the same for controllers
    uint32_t trackerOffset;       // byte offset of tracker record 1
    uint32_t controllerOffset;    // byte offset of controller record 1
    uint32_t trackerSequence;     // odd while a writer holds the tracker lock
    uint32_t controllerSequence;  // the same for controllers
    uint32_t hostProcessId;       // the host that created the storage
    uint32_t countersOffset;      // byte offset of the update counters
    uint32_t mutexOffset;         // byte offset of the host-private mutexes
    uint32_t totalSize;           // bytes of the whole storage
};
static_assert(sizeof(StorageHeader) == 64, "the storage header is 64 bytes");
static_assert(offsetof(StorageHeader, hostProcessId) == 48, "process id at 48");

// Update counter k (1-based) of a list counts the host cycles in which record
// k was written, so a reader can tell an update rate without racing the
// writer. They wrap at 2^32.
struct UpdateCounters {
    uint32_t trackers[kCapacity];
    uint32_t controllers[kCapacity];
};

constexpr size_t kMutexSlotSize = 64;
static_assert(sizeof(platform::SharedMutex) <= kMutexSlotSize, "a mutex fits its slot");

constexpr uint32_t kHeaderSize = sizeof(StorageHeader);
constexpr uint32_t kCountersOffset = kHeaderSize;
constexpr uint32_t kMutexOffset = kCountersOffset + sizeof(UpdateCounters);
constexpr uint32_t kTrackerOffset = kMutexOffset + 2 * kMutexSlotSize;
constexpr uint32_t kControllerOffset = kTrackerOffset + kCapacity * sizeof(TraData);
constexpr uint32_t kTotalSize = kControllerOffset + kCapacity * sizeof(ConData);
static_assert(kTrackerOffset == 448 && kControllerOffset == 2240 && kTotalSize == 8128, "the documented offsets");

// Typed views of a mapped storage; `base` is the first byte.
inline StorageHeader* headerOf(void* base) noexcept { return static_cast<StorageHeader*>(base); }
inline UpdateCounters* countersOf(void* base) noexcept {
    return reinterpret_cast<UpdateCounters*>(static_cast<char*>(base) + kCountersOffset);
}
inline platform::SharedMutex* trackerMutexOf(void* base) noexcept {
    return reinterpret_cast<platform::SharedMutex*>(static_cast<char*>(base) + kMutexOffset);
}
inline platform::SharedMutex* controllerMutexOf(void* base) noexcept {
    return reinterpret_cast<platform::SharedMutex*>(static_cast<char*>(base) + kMutexOffset + kMutexSlotSize);
}
inline TraData* trackersOf(void* base) noexcept {
    return reinterpret_cast<TraData*>(static_cast<char*>(base) + kTrackerOffset);
}
inline ConData* controllersOf(void* base) noexcept {
    return reinterpret_cast<ConData*>(static_cast<char*>(base) + kControllerOffset);
}

// Storage names: 1 to 200 letters, digits, '.', '_' or '-' (portable object names).
bool isValidName(const char* name) noexcept;
// The rule above as messages state it.
constexpr char kNameRule[] = "use 1 to 200 letters, digits, '.', '_' or '-'";

}  // namespace storage
