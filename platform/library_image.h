#pragma once
// Whether a library file holds everything its headers promise, judged before
// the system's loader maps it: the loader trusts the headers, and touching a
// mapped page beyond the end of a file that was cut short (a copy that has
// not finished) ends the process with a bus error instead of a refusal.
#include <cstddef>
#include <cstdint>

namespace platform {

struct LibraryImageCheck {
    bool recognised;       // a library format of this system; otherwise the loader judges the file
    uint64_t neededBytes;  // the file size its headers need; a smaller file is cut short
};

// `head` holds the first headBytes bytes of the file. Header tables that lie
// beyond the head count with their extent only. No I/O.
LibraryImageCheck checkLibraryImage(const unsigned char* head, size_t headBytes) noexcept;

}  // namespace platform
