#include "platform/path.h"

namespace platform {

bool isPathSeparator(char c) noexcept { return c == '/'; }

bool isAbsolutePath(std::string_view path) noexcept { return !path.empty() && path.front() == '/'; }

}  // namespace platform
