#include "platform/dynamic_library.h"

#include <windows.h>

#include <cstdio>
#include <type_traits>

#include "platform/library_image.h"
#include "platform/shared_mutex.h"

namespace platform {

static_assert(std::is_same_v<NativeLibraryHandle, HMODULE>, "native.h names the loader's handle type");

namespace {

void copyReason(char* reason, size_t size, const char* text) noexcept {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", text == nullptr ? "unknown reason" : text);
    }
}

// The loader wants backslashes in a path; configuration files are often
// written with forward slashes. A name too long to copy goes as it is.
const char* withBackslashes(const char* name, char* copy, size_t size) noexcept {
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i + 1 >= size) {
            return name;
        }
        copy[i] = name[i] == '/' ? '\\' : name[i];
    }
    copy[i] = '\0';
    return copy;
}

}  // namespace

bool openLibrary(const char* name, LibraryHandle& library, char* reason, size_t reasonSize) noexcept {
    library.native = kNoNativeLibrary;
    if (name == nullptr || name[0] == '\0') {
        copyReason(reason, reasonSize, "empty library name");
        return false;
    }
    // Refused here with the reason: the loader's own word on a file cut short
    // does not say what is wrong, and a pipe or device is no library.
    if (refuseUnloadableLibrary(name, reason, reasonSize)) {
        return false;
    }
    char path[1024];
    // No message box for a missing file or dependency: it would stop the
    // host's thread until somebody clicks it away.
    DWORD previousMode = 0;
    const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
    // Imports are bound at load, so a missing dependency fails here.
    HMODULE handle = LoadLibraryA(withBackslashes(name, path, sizeof path));
    const DWORD error = GetLastError();
    if (quiet) {
        SetThreadErrorMode(previousMode, nullptr);
    }
    if (handle == nullptr) {
        // Named like the other systems' loaders do, since the system's own
        // text ("The specified module could not be found.") names no file.
        char text[256];
        char named[1024 + 256];
        std::snprintf(named, sizeof named, "%s: %s", name, systemErrorText(static_cast<int>(error), text, sizeof text));
        copyReason(reason, reasonSize, named);
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
    // FARPROC and ProcAddress are both "some procedure"; callers cast to the
    // real type.
    return reinterpret_cast<ProcAddress>(GetProcAddress(library.native, name));
}

void closeLibrary(LibraryHandle& library) noexcept {
    if (library.isOpen()) {
        FreeLibrary(library.native);
    }
    library.native = kNoNativeLibrary;
}

}  // namespace platform
