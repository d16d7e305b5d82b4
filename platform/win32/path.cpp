#include "platform/path.h"

namespace platform {

bool isPathSeparator(char c) noexcept { return c == '/' || c == '\\'; }

// "C:x" (a drive's current folder) is relative; "\x" starts at the current
// drive's root, which is what a user writing it means.
bool isAbsolutePath(std::string_view path) noexcept {
    if (!path.empty() && isPathSeparator(path.front())) {
        return true;
    }
    const bool drive = path.size() >= 3 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive && isPathSeparator(path[2]);
}

}  // namespace platform
