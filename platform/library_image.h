#pragma once
// Whether a library file holds everything its headers promise, judged before
// the system's loader maps it: the loader trusts the headers, and touching a
// mapped page beyond the end of a file that was cut short (a copy that has
// not finished) ends the process with a bus error instead of a refusal.
//
// The same on every system: both formats are known everywhere (ELF, the
// POSIX systems' libraries, and PE, Windows' DLLs), so that either check
// can be tested anywhere. A file of the other system's format then fails in
// the loader as before.
#include <cstddef>
#include <cstdint>

namespace platform {

struct LibraryImageCheck {
    bool recognised;       // ELF or PE; otherwise the loader judges the file
    uint64_t neededBytes;  // the file size its headers need; a smaller file is cut short
};

// `head` holds the first headBytes bytes of the file. Header tables that lie
// beyond the head count with their extent only. No I/O.
LibraryImageCheck checkLibraryImage(const unsigned char* head, size_t headBytes) noexcept;

// True, with the reason written into `reason` (always terminated), when the
// library at `path` must not reach the loader: it is not a regular file (the
// loader would wait on a FIFO) or it is cut short. A bare file name, which
// the loader searches for, and a file that cannot be read here are left to
// the loader.
bool refuseUnloadableLibrary(const char* path, char* reason, size_t reasonSize) noexcept;

}  // namespace platform
