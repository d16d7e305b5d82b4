#include "platform/shared_memory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// "/" + name + terminator; false when the name cannot be a POSIX object name.
bool objectName(const char* name, char (&buffer)[kMaxSharedMemoryName + 2]) noexcept {
    if (name == nullptr) {
        return false;
    }
    size_t length = std::strlen(name);
    if (length == 0 || length > kMaxSharedMemoryName || std::strchr(name, '/') != nullptr) {
        return false;
    }
    buffer[0] = '/';
    std::memcpy(buffer + 1, name, length + 1);
    return true;
}

SharedMemoryStatus statusFromErrno(int code) noexcept {
    switch (code) {
        case EEXIST: return {SharedMemoryResult::AlreadyExists, code};
        case ENOENT: return {SharedMemoryResult::NotFound, code};
        case EACCES:
        case EPERM: return {SharedMemoryResult::AccessDenied, code};
        default: return {SharedMemoryResult::Failed, code};
    }
}

SharedMemoryStatus mapDescriptor(int fd, size_t size, bool writable, SharedMemory& memory) noexcept {
    struct stat facts {};
    memory.ownerUser = fstat(fd, &facts) == 0 ? static_cast<uint32_t>(facts.st_uid) : 0;
    int protection = PROT_READ | (writable ? PROT_WRITE : 0);
    void* address = mmap(nullptr, size, protection, MAP_SHARED, fd, 0);
    int code = errno;
    close(fd);
    if (address == MAP_FAILED) {
        return statusFromErrno(code);
    }
    memory.address = address;
    memory.size = size;
    memory.handle = kNoSharedMemoryHandle;
    return {SharedMemoryResult::Ok, 0};
}

}  // namespace

SharedMemoryStatus createSharedMemory(const char* name, size_t size, SharedMemory& memory) noexcept {
    char path[kMaxSharedMemoryName + 2];
    if (!objectName(name, path) || size == 0) {
        return {SharedMemoryResult::Failed, EINVAL};
    }
    // Everyone may read; only the creator writes (readers need no locks).
    int fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        return statusFromErrno(errno);
    }
    // A new object is empty; ftruncate fills it with zeros.
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        int code = errno;
        close(fd);
        shm_unlink(path);
        return statusFromErrno(code);
    }
    SharedMemoryStatus status = mapDescriptor(fd, size, true, memory);
    if (status.result != SharedMemoryResult::Ok) {
        shm_unlink(path);
    }
    return status;
}

SharedMemoryStatus openSharedMemory(const char* name, bool writable, SharedMemory& memory) noexcept {
    char path[kMaxSharedMemoryName + 2];
    if (!objectName(name, path)) {
        return {SharedMemoryResult::NotFound, ENOENT};
    }
    // Any local user can put a FIFO under the name; opening it must not wait.
    int fd = shm_open(path, (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK, 0);
    if (fd < 0) {
        return statusFromErrno(errno);
    }
    struct stat facts {};
    if (fstat(fd, &facts) != 0) {
        int code = errno;
        close(fd);
        return statusFromErrno(code);
    }
    if (!S_ISREG(facts.st_mode)) {
        close(fd);
        return {SharedMemoryResult::NotSharedMemory, 0};
    }
    if (facts.st_size <= 0) {
        // Mapping zero bytes fails; an empty object is one still being set up.
        close(fd);
        memory.ownerUser = static_cast<uint32_t>(facts.st_uid);
        return {SharedMemoryResult::Ok, 0};
    }
    return mapDescriptor(fd, static_cast<size_t>(facts.st_size), writable, memory);
}

void unmapSharedMemory(SharedMemory& memory) noexcept {
    if (memory.address != nullptr) {
        munmap(memory.address, memory.size);
    }
    memory.address = nullptr;
    memory.size = 0;
    memory.handle = kNoSharedMemoryHandle;
    memory.ownerUser = 0;
}

SharedMemoryStatus removeSharedMemory(const char* name) noexcept {
    char path[kMaxSharedMemoryName + 2];
    if (!objectName(name, path)) {
        return {SharedMemoryResult::NotFound, ENOENT};
    }
    if (shm_unlink(path) != 0) {
        return statusFromErrno(errno);
    }
    return {SharedMemoryResult::Ok, 0};
}

std::string sharedMemoryPlace(const char* name) { return std::string("on Linux: /dev/shm/") + name; }

}  // namespace platform
