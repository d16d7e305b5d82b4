#include "platform/instance_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/shared_memory.h"

namespace platform {

namespace {

constexpr char kSuffix[] = "~lock";
using LockPath = char[kMaxSharedMemoryName + sizeof kSuffix + 1];

bool lockPath(const char* name, LockPath& path) noexcept {
    size_t length = name == nullptr ? 0 : std::strlen(name);
    if (length == 0 || length > kMaxSharedMemoryName || std::strchr(name, '/') != nullptr) {
        return false;
    }
    std::snprintf(path, sizeof path, "/%s%s", name, kSuffix);
    return true;
}

// Opens the lock's file, creating it when there is none. Another user's
// file opens for reading only: a flock needs no write access. Never waits.
int openLockFile(const char* path) noexcept {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = shm_open(path, O_RDWR | O_NONBLOCK, 0);
        if (fd < 0 && errno == EACCES) {
            fd = shm_open(path, O_RDONLY | O_NONBLOCK, 0);
        }
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK, 0644);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EAGAIN;
    return -1;
}

bool sameFile(const struct stat& a, const struct stat& b) noexcept {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name still leads to the file we locked: a predecessor removes
// the name just before it releases, and we may have opened the old file.
bool nameLeadsTo(const char* path, const struct stat& locked) noexcept {
    int fd = shm_open(path, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    struct stat now {};
    bool same = fstat(fd, &now) == 0 && sameFile(now, locked);
    close(fd);
    return same;
}

uint32_t readHolder(int fd) noexcept {
    char text[16] = {};
    ssize_t got = pread(fd, text, sizeof text - 1, 0);
    uint32_t id = 0;
    for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i) {
        id = id * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    return id;
}

void writeHolder(int fd) noexcept {
    char text[16];
    int length = std::snprintf(text, sizeof text, "%u\n", static_cast<unsigned>(currentProcessId()));
    // Best effort: a read-only file (another user's) keeps no id, and a
    // refused process then names no holder.
    if (ftruncate(fd, 0) == 0 && pwrite(fd, text, static_cast<size_t>(length), 0) == length) {
        return;
    }
}

}  // namespace

InstanceLockStatus acquireInstanceLock(const char* name, InstanceLock& lock) noexcept {
    lock.native = kNoNativeLock;
    LockPath path;
    if (!lockPath(name, path)) {
        return {InstanceLockResult::Failed, EINVAL, 0};
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = openLockFile(path);
        if (fd < 0) {
            return {InstanceLockResult::Failed, errno, 0};
        }
        struct stat facts {};
        if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
            close(fd);
            return {InstanceLockResult::NotALock, 0, 0};
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int code = errno;
            uint32_t holder = code == EWOULDBLOCK ? readHolder(fd) : 0;
            close(fd);
            if (code == EWOULDBLOCK) {
                return {InstanceLockResult::Held, 0, holder};
            }
            return {InstanceLockResult::Failed, code, 0};
        }
        if (!nameLeadsTo(path, facts)) {
            close(fd);  // locked a file whose name was just removed: again
            continue;
        }
        writeHolder(fd);
        lock.native = fd;
        return {InstanceLockResult::Acquired, 0, 0};
    }
    return {InstanceLockResult::Failed, EAGAIN, 0};
}

void releaseInstanceLock(const char* name, InstanceLock& lock) noexcept {
    if (!lock.isHeld()) {
        return;
    }
    LockPath path;
    if (lockPath(name, path)) {
        shm_unlink(path);  // fails harmlessly for another user's file
    }
    close(lock.native);
    lock.native = kNoNativeLock;
}

}  // namespace platform
