#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cstdio>

#include "platform/library_image.h"

namespace platform {

namespace {

void copyReason(char* reason, size_t size, const char* text) noexcept {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", text == nullptr ? "unknown reason" : text);
    }
}

}  // namespace

bool openLibrary(const char* name, LibraryHandle& library, char* reason, size_t reasonSize) noexcept {
    library.native = kNoNativeLibrary;
    if (name == nullptr || name[0] == '\0') {
        copyReason(reason, reasonSize, "empty library name");
        return false;
    }
    // The loader would hang on a FIFO and die of a bus error on a file cut short.
    if (refuseUnloadableLibrary(name, reason, reasonSize)) {
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
