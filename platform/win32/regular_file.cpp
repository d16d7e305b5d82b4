#include "platform/regular_file.h"

#include <windows.h>

namespace platform {

namespace {

FileStatus failed(DWORD code) noexcept { return {FileResult::Failed, static_cast<int>(code), 0}; }

// Opening never waits: a pipe's name without a free instance fails at once.
// Only disk files count as regular; the kind is checked before anything is
// read (NUL never ends, CON waits for the keyboard). A folder does not open
// for reading: the system's "Access is denied".
FileStatus openRegular(const char* path, HANDLE& file) noexcept {
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return failed(GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION facts{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &facts) ||
        (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(file);
        return {FileResult::NotRegular, 0, 0};
    }
    return {FileResult::Ok, 0, (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow};
}

// Reads up to capacity bytes from the start; false on a read error.
bool readUpTo(HANDLE file, char* buffer, size_t capacity, size_t& got, DWORD& code) noexcept {
    got = 0;
    while (got < capacity) {
        const size_t left = capacity - got;
        DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
        DWORD read = 0;
        if (!ReadFile(file, buffer + got, chunk, &read, nullptr)) {
            code = GetLastError();
            return false;
        }
        if (read == 0) {
            break;
        }
        got += read;
    }
    return true;
}

}  // namespace

FileStatus readRegularFile(const char* path, size_t maxBytes, std::string& text) {
    text.clear();
    HANDLE file = INVALID_HANDLE_VALUE;
    FileStatus status = openRegular(path, file);
    if (status.result != FileResult::Ok) {
        return status;
    }
    if (status.size > maxBytes) {
        CloseHandle(file);
        return {FileResult::TooLarge, 0, status.size};
    }
    // One byte more than allowed shows a file that grew since it was opened.
    text.resize(maxBytes + 1);
    size_t got = 0;
    DWORD code = 0;
    bool ok = readUpTo(file, &text[0], text.size(), got, code);
    CloseHandle(file);
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
    HANDLE file = INVALID_HANDLE_VALUE;
    FileStatus status = openRegular(path, file);
    if (status.result != FileResult::Ok) {
        return status;
    }
    DWORD code = 0;
    bool ok = readUpTo(file, reinterpret_cast<char*>(head), capacity, got, code);
    CloseHandle(file);
    return ok ? status : failed(code);
}

}  // namespace platform
