#pragma once
// Named shared memory: one object per name, created by its owner, opened and
// mapped by any number of other processes, removed by its owner.
//
// Names are plain words (letters, digits, '.', '_', '-'); each OS turns a
// name into its own form (POSIX: "/name", visible as /dev/shm/name on Linux;
// Windows: the file mapping "Local\name" of the user's session).
//
// On Windows an object lives as long as any process has it open, and its
// name with it: nobody can remove it, and the last process to close it ends
// it. A name that outlives its creator is therefore one that a reader still
// holds, and a new owner reuses the object (see removeSharedMemory).
#include <cstddef>
#include <cstdint>
#include <string>

#include "native.h"

namespace platform {

struct SharedMemory {
    void* address = nullptr;
    size_t size = 0;
    NativeSharedMemoryHandle handle = kNoSharedMemoryHandle;
    uint32_t ownerUser = 0;  // who created the object (compare with currentUserId())
};

enum class SharedMemoryResult {
    Ok,
    AlreadyExists,    // exclusive creation found an object of that name
    NotFound,         // no object of that name
    AccessDenied,     // the object exists but this process may not use it
    NotSharedMemory,  // something else holds the name (a FIFO, a folder, a device; a mutex...)
    InUse,            // removal: the object lives on while other processes have it open (Windows)
    Failed,           // any other failure; systemCode tells which
};

struct SharedMemoryStatus {
    SharedMemoryResult result;
    int systemCode;  // the OS error behind a failure, 0 otherwise
};

// Creates a new object of `size` bytes, filled with zeros, and maps it for
// reading and writing. Never opens an existing object.
SharedMemoryStatus createSharedMemory(const char* name, size_t size, SharedMemory& memory) noexcept;

// Opens an existing object and maps all of it, for reading only or for
// reading and writing. An object that its creator has not sized yet maps as
// Ok with a null address and size 0 (its owner is still filled in). Never
// waits: whatever else holds the name gives NotSharedMemory. The size is
// the object's; on Windows a whole number of pages (it keeps no other).
SharedMemoryStatus openSharedMemory(const char* name, bool writable, SharedMemory& memory) noexcept;

// Unmaps the view and releases the handle; the object itself stays.
void unmapSharedMemory(SharedMemory& memory) noexcept;

// Removes the name; processes that still map the object keep their view.
// Where names cannot be removed (Windows): Ok once the name is gone, InUse
// while other processes keep the object, which its owner may then open for
// writing and reuse.
SharedMemoryStatus removeSharedMemory(const char* name) noexcept;

// Where a user finds the object of that name, for messages
// ("on Linux: /dev/shm/NAME").
std::string sharedMemoryPlace(const char* name);

// The longest name the functions above accept.
constexpr size_t kMaxSharedMemoryName = 200;

}  // namespace platform
