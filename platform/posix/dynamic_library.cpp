#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/library_image.h"
#include "platform/regular_file.h"

namespace platform {

namespace {

void copyReason(char* reason, size_t size, const char* text) noexcept {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", text == nullptr ? "unknown reason" : text);
    }
}

// The loader would hang on a FIFO and die of a bus error on a file cut
// short; both are refused here with a reason. A bare name is searched by
// the loader and left to it, as is any file that cannot be read here.
bool refuseUnloadable(const char* name, char* reason, size_t size) noexcept {
    if (std::strchr(name, '/') == nullptr) {
        return false;
    }
    unsigned char head[4096];
    size_t got = 0;
    FileStatus status = readFileHead(name, head, sizeof head, got);
    if (status.result == FileResult::NotRegular) {
        copyReason(reason, size, "it is not a regular file");
        return true;
    }
    if (status.result != FileResult::Ok) {
        return false;
    }
    LibraryImageCheck image = checkLibraryImage(head, got);
    if (image.recognised && image.neededBytes > status.size) {
        if (reason != nullptr && size > 0) {
            std::snprintf(reason, size,
                          "it is cut short: %" PRIu64 " bytes, but its headers need %" PRIu64
                          " (a copy that has not finished?)",
                          status.size, image.neededBytes);
        }
        return true;
    }
    return false;
}

}  // namespace

bool openLibrary(const char* name, LibraryHandle& library, char* reason, size_t reasonSize) noexcept {
    library.native = kNoNativeLibrary;
    if (name == nullptr || name[0] == '\0') {
        copyReason(reason, reasonSize, "empty library name");
        return false;
    }
    if (refuseUnloadable(name, reason, reasonSize)) {
        return false;
    }
    // RTLD_LOCAL: the library's symbols must not satisfy later loads.
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        copyReason(reason, reasonSize, dlerror());
        return false;
    }
    library.native = handle;
    copyReason(reason, reasonSize, "");
    return true;
}

ProcAddress findProcedure(const LibraryHandle& library, const char* name) noexcept {
    if (!library.isOpen() || name == nullptr) {
        return nullptr;
    }
    void* address = dlsym(library.native, name);
    // The POSIX loader hands procedures out as object pointers; converting
    // them back to a function pointer is what dlsym is for.
    return reinterpret_cast<ProcAddress>(address);
}

void closeLibrary(LibraryHandle& library) noexcept {
    if (library.isOpen()) {
        dlclose(library.native);
    }
    library.native = kNoNativeLibrary;
}

}  // namespace platform
