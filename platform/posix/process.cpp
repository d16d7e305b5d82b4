#include "platform/process.h"

#include <cerrno>
#include <signal.h>
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

}  // namespace platform
