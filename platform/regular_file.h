#pragma once
// Reading files that a user names (configuration files, libraries about to
// be loaded) without hanging on a special file: opening a FIFO waits for a
// writer, and a device such as /dev/zero never ends.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class FileResult {
    Ok,
    NotRegular,  // a FIFO, a device or a socket
    TooLarge,    // above the limit; size tells how large
    Failed,      // systemCode tells why (a folder gives the "is a directory" error)
};

struct FileStatus {
    FileResult result;
    int systemCode;  // the OS error behind Failed, 0 otherwise
    uint64_t size;   // the file's size when it could be learnt
};

// Reads the whole file into text; refuses anything but a regular file and a
// file larger than maxBytes. Opening never waits.
FileStatus readRegularFile(const char* path, size_t maxBytes, std::string& text);

// Reads the first bytes of a regular file (up to capacity; got tells how
// many) and learns its size, with the same refusals as above (no limit).
FileStatus readFileHead(const char* path, unsigned char* head, size_t capacity, size_t& got) noexcept;

}  // namespace platform
