#pragma once
// Loading dynamic libraries and finding their procedures by name.
// The system's search rules apply to a bare file name; a path is taken as is.
#include <cstddef>

#include "native.h"

namespace platform {

// An open library; `native` is empty while nothing is open.
struct LibraryHandle {
    NativeLibraryHandle native = kNoNativeLibrary;
    bool isOpen() const noexcept { return native != kNoNativeLibrary; }
};

// Address of a procedure; callers cast it to the procedure's own type.
using ProcAddress = void (*)();

// Opens the library with all its symbols resolved now, so that a library
// missing a dependency fails here rather than at its first call. On failure
// the handle stays empty and `reason` receives the system's explanation
// (always terminated; may be cut). An empty or missing name fails without
// asking the system: some loaders would hand back the main program. A path
// that is not a regular file, or a library file cut short, is refused before
// the loader sees it (the loader would hang or crash on it).
bool openLibrary(const char* name, LibraryHandle& library, char* reason, size_t reasonSize) noexcept;

// The procedure exported under `name`, or null when there is none or no
// library is open.
ProcAddress findProcedure(const LibraryHandle& library, const char* name) noexcept;

// Releases the library (if open) and empties the handle.
void closeLibrary(LibraryHandle& library) noexcept;

}  // namespace platform
