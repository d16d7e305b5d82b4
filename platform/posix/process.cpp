#include "platform/process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

uint32_t currentProcessId() noexcept { return static_cast<uint32_t>(getpid()); }

bool processExists(uint32_t processId) noexcept {
    if (processId == 0 || processId > static_cast<uint32_t>(INT32_MAX)) {
        return false;
    }
    // Signal 0 only checks; EPERM means it exists but belongs to someone else.
    return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

uint32_t currentUserId() noexcept { return static_cast<uint32_t>(geteuid()); }

bool processUserId(uint32_t processId, uint32_t& userId) noexcept {
    if (!processExists(processId)) {
        return false;
    }
    // A process's folder under /proc belongs to the user it acts as.
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u", static_cast<unsigned>(processId));
    struct stat facts {};
    if (stat(path, &facts) != 0) {
        return false;
    }
    userId = static_cast<uint32_t>(facts.st_uid);
    return true;
}

std::string userName(uint32_t userId) {
    char buffer[1024];
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(static_cast<uid_t>(userId), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(userId);
}

void endProcessNow(int status) noexcept { std::_Exit(status); }

}  // namespace platform
