#include <cstring>

#include "host/storage_layout.h"
#include "platform/shared_memory.h"

namespace storage {

bool isValidName(const char* name) noexcept {
    if (name == nullptr) {
        return false;
    }
    size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        char c = name[length];
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
        if (!allowed || length >= platform::kMaxSharedMemoryName) {
            return false;
        }
    }
    // "." and ".." would name folders on some systems.
    return length > 0 && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace storage
