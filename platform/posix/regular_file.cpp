#include "platform/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

FileStatus failed(int code) noexcept { return {FileResult::Failed, code, 0}; }

// O_NONBLOCK: a FIFO without a writer would otherwise hold the open; the
// kind is checked before anything is read.
FileStatus openRegular(const char* path, int& fd) noexcept {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return failed(errno);
    }
    struct stat facts {};
    if (fstat(fd, &facts) != 0) {
        int code = errno;
        close(fd);
        return failed(code);
    }
    if (!S_ISREG(facts.st_mode)) {
        close(fd);
        return S_ISDIR(facts.st_mode) ? failed(EISDIR) : FileStatus{FileResult::NotRegular, 0, 0};
    }
    return {FileResult::Ok, 0, static_cast<uint64_t>(facts.st_size)};
}

// Reads up to capacity bytes from the start; false on a read error.
bool readUpTo(int fd, char* buffer, size_t capacity, size_t& got, int& code) noexcept {
    got = 0;
    while (got < capacity) {
        ssize_t n = read(fd, buffer + got, capacity - got);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            code = errno;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FileStatus readRegularFile(const char* path, size_t maxBytes, std::string& text) {
    text.clear();
    int fd = -1;
    FileStatus status = openRegular(path, fd);
    if (status.result != FileResult::Ok) {
        return status;
    }
    if (status.size > maxBytes) {
        close(fd);
        return {FileResult::TooLarge, 0, status.size};
    }
    // One byte more than allowed shows a file that grew since fstat.
    text.resize(maxBytes + 1);
    size_t got = 0;
    int code = 0;
    bool ok = readUpTo(fd, &text[0], text.size(), got, code);
    close(fd);
    text.resize(ok ? got : 0);
    if (!ok) {
        return failed(code);
    }
    if (got > maxBytes) {
        text.clear();
        return {FileResult::TooLarge, 0, got};
    }
    return {FileResult::Ok, 0, got};
}

FileStatus readFileHead(const char* path, unsigned char* head, size_t capacity, size_t& got) noexcept {
    got = 0;
    int fd = -1;
    FileStatus status = openRegular(path, fd);
    if (status.result != FileResult::Ok) {
        return status;
    }
    int code = 0;
    bool ok = readUpTo(fd, reinterpret_cast<char*>(head), capacity, got, code);
    close(fd);
    return ok ? status : failed(code);
}

}  // namespace platform
